// SPDX-License-Identifier: GPL-3.0-or-later
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
    return {{DataObjectRole, QByteArrayLiteral("dataObject")},
            {SourceRowRole, QByteArrayLiteral("sourceRow")},
            {IssueTextRole, QByteArrayLiteral("issueText")}};
}

QVariant DeviceFilterModel::data(const QModelIndex &index, int role) const
{
    if (role == SourceRowRole)
        return index.isValid() ? QVariant(mapToSource(index).row()) : QVariant();
    if (role == IssueTextRole)
        return index.isValid() ? QVariant(issueText(deviceAt(mapToSource(index).row()))) : QVariant();
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
    forgetRows();
    if (model) {
        // After the base class's own handlers, so the view has its rows first.
        m_sourceConnections = {
            connect(model, &QAbstractItemModel::rowsInserted, this,
                    [this](const QModelIndex &, int first, int last) { watchRows(first, last); }),
            connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                    [this](const QModelIndex &, int first, int last) { unwatchRows(first, last); }),
            connect(model, &QAbstractItemModel::rowsRemoved, this, &DeviceFilterModel::forgetRows),
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

void DeviceFilterModel::setEditedOnly(bool editedOnly)
{
    if (m_editedOnly == editedOnly)
        return;
    m_editedOnly = editedOnly;
    emit editedOnlyChanged(m_editedOnly);
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
    setEditedOnly(false);
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
    const int first = firstRowWithMac(macKey(device->newMac()));
    if (first >= 0 && first < sourceRowOf(device))
        return QStringLiteral("%1 \u2014 row %2 has it first").arg(device->issue()).arg(first + 1);
    return device->issue();
}

int DeviceFilterModel::sourceRowOf(const QObject *device) const
{
    if (m_sourceRows.isEmpty()) {
        const int rows = sourceModel()->rowCount();
        m_sourceRows.reserve(rows);
        for (int row = 0; row < rows; ++row)
            m_sourceRows.insert(deviceAt(row), row);
    }
    return m_sourceRows.value(device, -1);
}

int DeviceFilterModel::firstRowWithMac(const QString &key) const
{
    if (m_firstRows.isEmpty()) {
        const int rows = sourceModel()->rowCount();
        m_firstRows.reserve(rows);
        for (int row = rows - 1; row >= 0; --row) {
            if (const DeviceEntity *device = deviceAt(row))
                m_firstRows.insert(macKey(device->newMac()), row);
        }
    }
    return m_firstRows.value(key, -1);
}

bool DeviceFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (m_query.isEmpty() && !m_editedOnly)
        return true;
    DeviceEntity *device = deviceAt(sourceRow);
    if (!device || (m_editedOnly && !m_edited.contains(device)))
        return false;
    if (m_query.isEmpty())
        return true;
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
        // Type and old values are fixed once a device is listed. The
        // handlers are told the device: sender() takes time that grows with
        // the number of devices connected.
        disconnect(device, nullptr, this, nullptr);
        connect(device, &DeviceEntity::newLabelChanged, this, [this, device] { m_keys.remove(device); });
        connect(device, &DeviceEntity::newMacChanged, this, [this, device] { noteNewMac(device); });
        connect(device, &DeviceEntity::issueChanged, this, [this, device] { noteIssue(device); });
        connect(device, &DeviceEntity::labelEditedChanged, this, [this, device] { noteEdited(device); });
        connect(device, &DeviceEntity::macEditedChanged, this, [this, device] { noteEdited(device); });
        if (!device->issue().isEmpty())
            m_problems.insert(device);
        if (device->labelEdited() || device->macEdited())
            m_edited.insert(device);
    }
    forgetRows();
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
        m_edited.remove(device);
    }
    if (m_problems.size() != problems)
        emit problemCountChanged(m_problems.size());
}

void DeviceFilterModel::forgetRows()
{
    m_sourceRows.clear();
    m_firstRows.clear();
}

// The row stays until the filter is applied again, as a typed-in row does.
void DeviceFilterModel::noteEdited(DeviceEntity *device)
{
    if (device->labelEdited() || device->macEdited())
        m_edited.insert(device);
    else
        m_edited.remove(device);
    if (m_editedOnly)
        updateCounts();
}

void DeviceFilterModel::noteIssue(DeviceEntity *device)
{
    const int problems = m_problems.size();
    if (device->issue().isEmpty())
        m_problems.remove(device);
    else
        m_problems.insert(device);
    const QModelIndex shown = mapFromSource(sourceModel()->index(sourceRowOf(device), 0));
    if (shown.isValid())
        emit dataChanged(shown, shown, {IssueTextRole});
    if (m_problems.size() != problems)
        emit problemCountChanged(m_problems.size());
}

// The device's search key is made again when next needed. Which row has a
// MAC first may change for any badged row: their texts are read again once,
// after a burst of edits.
void DeviceFilterModel::noteNewMac(DeviceEntity *device)
{
    m_keys.remove(device);
    m_firstRows.clear();
    if (m_refreshPending || m_problems.isEmpty())
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &DeviceFilterModel::refreshIssueTexts, Qt::QueuedConnection);
}

void DeviceFilterModel::refreshIssueTexts()
{
    m_refreshPending = false;
    if (!m_problems.isEmpty() && rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {IssueTextRole});
}

void DeviceFilterModel::updateCounts()
{
    const int count = rowCount();
    const int totalCount = sourceModel() ? sourceModel()->rowCount() : 0;
    const QString noun = totalCount == 1 ? QStringLiteral("device") : QStringLiteral("devices");
    QString summary = m_filterText.isEmpty() && !m_editedOnly
        ? QStringLiteral("%1 %2").arg(grouped(totalCount), noun)
        : QStringLiteral("%1 of %2 %3").arg(grouped(count), grouped(totalCount), noun);
    if (m_editedOnly)
        summary += QStringLiteral(", %1 edited").arg(grouped(m_edited.size()));
    if (count == m_count && totalCount == m_totalCount && summary == m_summary)
        return;
    m_count = count;
    m_totalCount = totalCount;
    m_summary = summary;
    emit countsChanged();
}
