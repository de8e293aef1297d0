#include "devicefiltermodel.h"

#include "deviceentity.h"

namespace {

bool isMacSeparator(QChar c)
{
    return c == QLatin1Char(':') || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char(' ')
        || c == QLatin1Char('_');
}

// Lower case without separators, so that every written form of a MAC compares alike.
QString macKey(const QString &text)
{
    QString key;
    key.reserve(text.size());
    for (const QChar c : text) {
        if (!isMacSeparator(c))
            key += c.toLower();
    }
    return key;
}

bool isMacQuery(const QString &query)
{
    for (const QChar c : query) {
        if (!isMacSeparator(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return false;
    }
    return true;
}

bool isAsciiDigit(const QString &text, int i)
{
    return i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9');
}

// The run of digits at `i` without its leading zeros; `i` moves past the run.
QStringView digitRun(const QString &text, int &i)
{
    while (text.at(i) == QLatin1Char('0') && isAsciiDigit(text, i + 1))
        ++i;
    const int start = i;
    while (isAsciiDigit(text, i))
        ++i;
    return QStringView(text).mid(start, i - start);
}

// Negative, zero or positive as a sorts before, with or after b: runs of
// digits by their value ("Unit 2" before "Unit 10"), the rest in any letter
// case. The same in every locale.
int naturalCompare(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        int order = 0;
        if (isAsciiDigit(a, i) && isAsciiDigit(b, j)) {
            const QStringView numberA = digitRun(a, i);
            const QStringView numberB = digitRun(b, j);
            // Without leading zeros, the longer run is the larger number.
            order = numberA.size() != numberB.size() ? int(numberA.size() - numberB.size()) : numberA.compare(numberB);
        } else {
            order = a.at(i++).toCaseFolded().unicode() - b.at(j++).toCaseFolded().unicode();
        }
        if (order != 0)
            return order;
    }
    return (a.size() - i) - (b.size() - j);
}

// 1000 as "1 000".
QString grouped(int number)
{
    QString digits = QString::number(number);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return digits;
}

} // namespace

DeviceFilterModel::DeviceFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(this, signal, this, &DeviceFilterModel::updateCounts);
    connect(this, &QAbstractItemModel::modelReset, this, &DeviceFilterModel::updateCounts);
    connect(this, &QAbstractItemModel::layoutChanged, this, &DeviceFilterModel::updateCounts);
}

QHash<int, QByteArray> DeviceFilterModel::roleNames() const
{
    return {{DataObjectRole, QByteArrayLiteral("dataObject")}, {SourceRowRole, QByteArrayLiteral("sourceRow")}};
}

QVariant DeviceFilterModel::data(const QModelIndex &index, int role) const
{
    if (role == SourceRowRole)
        return index.isValid() ? QVariant(mapToSource(index).row()) : QVariant();
    return QSortFilterProxyModel::data(index, role);
}

void DeviceFilterModel::setSourceModel(QAbstractItemModel *model)
{
    if (model == sourceModel())
        return;
    if (QAbstractItemModel *old = sourceModel())
        unwatchRows(0, old->rowCount() - 1);
    for (const QMetaObject::Connection &connection : qAsConst(m_sourceConnections))
        disconnect(connection);
    m_sourceConnections.clear();
    QSortFilterProxyModel::setSourceModel(model);
    m_keys.clear();
    if (model) {
        // After the base class's own handlers, so the view has its rows first.
        m_sourceConnections = {
            connect(model, &QAbstractItemModel::rowsInserted, this,
                    [this](const QModelIndex &, int first, int last) { watchRows(first, last); }),
            connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                    [this](const QModelIndex &, int first, int last) { unwatchRows(first, last); }),
            connect(model, &QAbstractItemModel::rowsRemoved, this, &DeviceFilterModel::updateCounts),
            connect(model, &QAbstractItemModel::modelAboutToBeReset, this,
                    [this, model] { unwatchRows(0, model->rowCount() - 1); }),
            connect(model, &QAbstractItemModel::modelReset, this,
                    [this, model] { watchRows(0, model->rowCount() - 1); }),
        };
        watchRows(0, model->rowCount() - 1);
    }
    updateCounts();
}

void DeviceFilterModel::setFilterText(QString filterText)
{
    if (m_filterText == filterText)
        return;
    m_filterText = filterText;
    emit filterTextChanged(m_filterText);
    m_query = filterText.trimmed().toLower();
    m_macQuery = isMacQuery(m_query) ? macKey(m_query) : QString();
    invalidateFilter();
    updateCounts();
}

void DeviceFilterModel::sortBy(SortKey key)
{
    m_descending = key == m_sortKey && key != Unsorted && !m_descending;
    m_sortKey = key;
    emit sortChanged();
    // Column -1 gives back the order of the list below. Every key sorts
    // column 0, and sort() skips the column and order it sorted by already.
    const int column = key == Unsorted ? -1 : 0;
    const Qt::SortOrder order = m_descending ? Qt::DescendingOrder : Qt::AscendingOrder;
    if (column == sortColumn() && order == sortOrder())
        invalidate();
    else
        sort(column, order);
}

int DeviceFilterModel::nextProblem(int row)
{
    if (m_problems.isEmpty())
        return -1;
    const int found = problemAfter(row);
    if (found >= 0)
        return found;
    setFilterText(QString());
    return problemAfter(-1);
}

int DeviceFilterModel::problemAfter(int row) const
{
    const int rows = rowCount();
    for (int step = 1; step <= rows; ++step) {
        const int candidate = (qMax(row, -1) + step) % rows;
        const DeviceEntity *device = deviceAt(mapToSource(index(candidate, 0)).row());
        if (device && !device->issue().isEmpty())
            return candidate;
    }
    return -1;
}

QString DeviceFilterModel::issueText(QObject *object) const
{
    auto *device = qobject_cast<DeviceEntity *>(object);
    if (!device || device->issue().isEmpty() || !sourceModel())
        return device ? device->issue() : QString();
    const QString mac = macKey(device->newMac());
    const int rows = sourceModel()->rowCount();
    for (int row = 0; row < rows; ++row) {
        const DeviceEntity *other = deviceAt(row);
        if (other == device)
            break;
        if (other && macKey(other->newMac()) == mac)
            return QStringLiteral("%1 \u2014 row %2 has it first").arg(device->issue()).arg(row + 1);
    }
    return device->issue();
}

bool DeviceFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (m_query.isEmpty())
        return true;
    DeviceEntity *device = deviceAt(sourceRow);
    if (!device)
        return false;
    const SearchKey &key = searchKey(device);
    return key.texts.contains(m_query) || (!m_macQuery.isEmpty() && key.macs.contains(m_macQuery));
}

bool DeviceFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const DeviceEntity *a = deviceAt(left.row());
    const DeviceEntity *b = deviceAt(right.row());
    int order = 0;
    if (a && b) {
        if (m_sortKey == ByType)
            order = naturalCompare(a->deviceType(), b->deviceType());
        else if (m_sortKey == ByLabel)
            order = naturalCompare(a->oldLabel(), b->oldLabel());
        else if (m_sortKey == ByMac)
            order = macKey(a->oldMac()).compare(macKey(b->oldMac()));
    }
    return order != 0 ? order < 0 : left.row() < right.row();
}

DeviceEntity *DeviceFilterModel::deviceAt(int sourceRow) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0);
    return qobject_cast<DeviceEntity *>(sourceModel()->data(index, DataObjectRole).value<QObject *>());
}

const DeviceFilterModel::SearchKey &DeviceFilterModel::searchKey(DeviceEntity *device) const
{
    auto found = m_keys.find(device);
    if (found != m_keys.end())
        return *found;
    const QChar gap = QLatin1Char('\n');
    SearchKey key;
    key.texts = device->oldLabel().toLower() + gap + device->newLabel().toLower() + gap
        + device->deviceType().toLower() + gap + device->oldMac().toLower() + gap + device->newMac().toLower();
    key.macs = macKey(device->oldMac()) + gap + macKey(device->newMac());
    return *m_keys.insert(device, key);
}

void DeviceFilterModel::watchRows(int first, int last)
{
    const int problems = m_problems.size();
    for (int row = first; row <= last; ++row) {
        DeviceEntity *device = deviceAt(row);
        if (!device)
            continue;
        // Type and old values are fixed once a device is listed.
        for (auto signal : {&DeviceEntity::newLabelChanged, &DeviceEntity::newMacChanged})
            connect(device, signal, this, &DeviceFilterModel::forgetDevice, Qt::UniqueConnection);
        connect(device, &DeviceEntity::issueChanged, this, &DeviceFilterModel::noteIssue, Qt::UniqueConnection);
        if (!device->issue().isEmpty())
            m_problems.insert(device);
    }
    if (m_problems.size() != problems)
        emit problemCountChanged(m_problems.size());
    updateCounts();
}

void DeviceFilterModel::unwatchRows(int first, int last)
{
    const int problems = m_problems.size();
    for (int row = first; row <= last; ++row) {
        DeviceEntity *device = deviceAt(row);
        if (!device)
            continue;
        disconnect(device, nullptr, this, nullptr);
        m_keys.remove(device);
        m_problems.remove(device);
    }
    if (m_problems.size() != problems)
        emit problemCountChanged(m_problems.size());
}

// A device's texts changed: its search key is made again when next needed.
void DeviceFilterModel::forgetDevice()
{
    m_keys.remove(sender());
}

void DeviceFilterModel::noteIssue()
{
    auto *device = static_cast<DeviceEntity *>(sender());
    const int problems = m_problems.size();
    if (device->issue().isEmpty())
        m_problems.remove(device);
    else
        m_problems.insert(device);
    if (m_problems.size() != problems)
        emit problemCountChanged(m_problems.size());
}

void DeviceFilterModel::updateCounts()
{
    const int count = rowCount();
    const int totalCount = sourceModel() ? sourceModel()->rowCount() : 0;
    const QString noun = totalCount == 1 ? QStringLiteral("device") : QStringLiteral("devices");
    const QString summary = m_filterText.isEmpty()
        ? QStringLiteral("%1 %2").arg(grouped(totalCount), noun)
        : QStringLiteral("%1 of %2 %3").arg(grouped(count), grouped(totalCount), noun);
    if (count == m_count && totalCount == m_totalCount && summary == m_summary)
        return;
    m_count = count;
    m_totalCount = totalCount;
    m_summary = summary;
    emit countsChanged();
}
