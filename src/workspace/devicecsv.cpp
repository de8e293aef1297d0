// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicecsv.h"

#include <QFile>

#include "dataobjectmodel.h"
#include "deviceedits.h"
#include "deviceentity.h"
#include "mac.h"
#include "projectentity.h"

#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QTextCodec>

#include <algorithm>

namespace Workspace::DeviceCsv {

namespace {

const QString colon = QStringLiteral(":");
const QChar quote = QLatin1Char('"');

// A field as RFC 4180 writes it: quoted when it holds a separator, a quote
// or a line end. Labels come from the archive and may hold anything: one
// that a spreadsheet would take for a formula gets a leading "'", which
// shows it as text.
QString csvField(const QString &text)
{
    static const QString formulaStart = QStringLiteral("=+-@\t\r");
    const QString inert = !text.isEmpty() && formulaStart.contains(text.front()) ? QLatin1Char('\'') + text : text;
    static const QString special = QStringLiteral(",;\"\r\n");
    if (std::none_of(inert.begin(), inert.end(), [](QChar c) { return special.contains(c); }))
        return inert;
    return quote + QString(inert).replace(quote, QStringLiteral("\"\"")) + quote;
}

// A problem at a line of the file.
struct Problem
{
    int line = 0;
    QString reason;
};

struct Record
{
    int line = 0;
    QStringList fields;
    bool malformed = false;
};

// Splits UTF-8 text into records. Blank lines are no records; a line end
// inside quotes belongs to the field.
class RecordReader
{
public:
    RecordReader(const QString &text, QChar separator) : m_text(text), m_separator(separator) {}

    QList<Record> read(QList<Problem> *problems)
    {
        const int size = m_text.size();
        for (int i = 0; i < size; ++i) {
            const QChar c = m_text.at(i);
            if (m_quoted) {
                takeQuoted(c, i);
            } else if (c == m_separator) {
                endField();
            } else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && nextIs(i, QLatin1Char('\n')))) {
                i += c == QLatin1Char('\r');
                endRecord();
                m_record.line = ++m_line;
            } else if (m_afterQuote) {
                if (!m_record.malformed)
                    problems->append({m_record.line, QStringLiteral("text after the closing quote of a field")});
                m_record.malformed = true;
                m_field += c;
            } else if (c == quote && m_field.isEmpty() && !m_unquoted) {
                m_quoted = true;
                m_quoteLine = m_line;
            } else {
                m_field += c;
                m_unquoted = true;
            }
        }
        if (m_quoted)
            problems->append({m_quoteLine, QStringLiteral("a quoted field is not closed")});
        else if (!m_record.fields.isEmpty() || !m_field.isEmpty() || m_afterQuote)
            endRecord();
        return m_records;
    }

private:
    bool nextIs(int i, QChar c) const { return i + 1 < m_text.size() && m_text.at(i + 1) == c; }

    void takeQuoted(QChar c, int &i)
    {
        if (c != quote) {
            m_line += c == QLatin1Char('\n');
            m_field += c;
        } else if (nextIs(i, quote)) {
            m_field += quote;
            ++i;
        } else {
            m_quoted = false;
            m_afterQuote = true;
        }
    }

    void endField()
    {
        m_record.fields.append(m_field);
        m_field.clear();
        m_afterQuote = m_unquoted = false;
    }

    void endRecord()
    {
        const bool blank = m_record.fields.isEmpty() && m_field.isEmpty() && !m_afterQuote;
        endField();
        if (!blank)
            m_records.append(m_record);
        m_record = Record();
    }

    const QString m_text;
    const QChar m_separator;
    QList<Record> m_records;
    Record m_record{1, {}, false};
    QString m_field;
    int m_line = 1;
    int m_quoteLine = 0;
    bool m_quoted = false;
    bool m_afterQuote = false;
    bool m_unquoted = false;
};

// Semicolons when the header line holds more of them than commas.
QChar separatorOf(const QString &text)
{
    int commas = 0;
    int semicolons = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == quote)
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('\n'))
            break;
        commas += !quoted && c == QLatin1Char(',');
        semicolons += !quoted && c == QLatin1Char(';');
    }
    return semicolons > commas ? QLatin1Char(';') : QLatin1Char(',');
}

// The first line that is not UTF-8, or 0.
int firstNonUtf8Line(const QByteArray &bytes)
{
    const QTextCodec *utf8 = QTextCodec::codecForMib(106);
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        utf8->toUnicode(lines.at(i).constData(), lines.at(i).size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0)
            return i + 1;
    }
    return 0;
}

struct ColumnIndexes
{
    int mac = -1;
    int newMac = -1;
    int newLabel = -1;
};

ColumnIndexes findColumns(const Record &header, QList<Problem> *problems)
{
    ColumnIndexes found;
    const QList<QPair<QString, int *>> wanted{
        {QStringLiteral("mac"), &found.mac}, {QStringLiteral("new_mac"), &found.newMac}, {QStringLiteral("new_label"), &found.newLabel}};
    for (int i = 0; i < header.fields.size(); ++i) {
        const QString name = header.fields.at(i).trimmed().toLower();
        for (const auto &[wantedName, index] : wanted) {
            if (name != wantedName)
                continue;
            if (*index >= 0)
                problems->append({header.line, QStringLiteral("two \"%1\" columns").arg(name)});
            *index = i;
        }
    }
    if (found.mac < 0)
        problems->append({header.line, QStringLiteral("no \"mac\" column naming the devices")});
    if (found.newMac < 0 && found.newLabel < 0)
        problems->append({header.line, QStringLiteral("no \"new_mac\" or \"new_label\" column")});
    return found;
}

// Reads the rows after the header into changes, one device per row.
class RowReader
{
public:
    RowReader(const ProjectEntity &project, const ColumnIndexes &columns, int fieldCount)
        : m_devices(project.deviceEntities()), m_columns(columns), m_fieldCount(fieldCount)
    {
        // The first of devices sharing a MAC, as the command line names them.
        for (int i = m_devices.size() - 1; i >= 0; --i)
            m_byMac.insert(Mac::normalizeMac(m_devices.at(i)->oldMac(), colon), i);
    }

    void read(const Record &row, QList<Change> *changes, QList<Problem> *problems)
    {
        if (row.malformed)
            return;
        if (row.fields.size() != m_fieldCount) {
            const QString fields = row.fields.size() == 1 ? QStringLiteral("1 field") : QStringLiteral("%1 fields").arg(row.fields.size());
            problems->append({row.line, QStringLiteral("%1 where the header line has %2").arg(fields).arg(m_fieldCount)});
            return;
        }
        const QString label = m_columns.newLabel >= 0 ? row.fields.at(m_columns.newLabel) : QString();
        const QString mac = m_columns.newMac >= 0 ? row.fields.at(m_columns.newMac).trimmed() : QString();
        if (label.isEmpty() && mac.isEmpty())
            return;
        Change change;
        change.line = row.line;
        change.device = deviceOf(row, problems);
        if (change.device < 0)
            return;
        if (const Result taken = checkLabel(label); !taken)
            problems->append({row.line, taken.reason()});
        else if (!label.isEmpty())
            change.newLabel = label;
        QString wholeMac;
        const Result macTaken
            = mac.isEmpty() ? Result::success() : completeNewMac(m_devices.at(change.device)->oldMac(), mac, &wholeMac);
        if (!macTaken)
            problems->append({row.line, macTaken.reason()});
        else if (!wholeMac.isEmpty())
            change.newMac = wholeMac;
        changes->append(change);
    }

private:
    // The device the row names, or -1 after a problem.
    int deviceOf(const Record &row, QList<Problem> *problems)
    {
        const QString mac = row.fields.at(m_columns.mac).trimmed();
        const int device = m_byMac.value(normalizeTypedMac(mac), -1);
        QString problem;
        if (mac.isEmpty())
            problem = QStringLiteral("no MAC in the \"mac\" column");
        else if (device < 0)
            problem = QStringLiteral("no device with MAC %1 in the project").arg(mac);
        else if (m_firstLine.contains(device))
            problem = QStringLiteral("the device %1 is named again (first on line %2)").arg(mac).arg(m_firstLine.value(device));
        if (!problem.isEmpty()) {
            problems->append({row.line, problem});
            return -1;
        }
        m_firstLine.insert(device, row.line);
        return device;
    }

    const QList<DeviceEntity *> m_devices;
    const ColumnIndexes m_columns;
    const int m_fieldCount;
    QHash<QString, int> m_byMac;
    QHash<int, int> m_firstLine;
};

QStringList located(QList<Problem> problems, const QString &fileName)
{
    std::stable_sort(problems.begin(), problems.end(), [](const Problem &a, const Problem &b) { return a.line < b.line; });
    QStringList lines;
    for (const Problem &p : problems)
        lines.append(QStringLiteral("%1:%2: %3").arg(fileName).arg(p.line).arg(p.reason));
    return lines;
}

} // namespace

QByteArray write(const ProjectEntity &project, Columns columns)
{
    const bool withEdits = columns == Columns::WithEdits;
    QString text = withEdits ? QStringLiteral("type,label,mac,new_label,new_mac\n") : QStringLiteral("type,label,mac\n");
    for (const DeviceEntity *d : project.deviceEntities()) {
        QStringList fields{d->deviceType(), d->oldLabel(), d->shownOldMac()};
        if (withEdits) {
            fields << (d->labelEdited() ? d->newLabel() : QString()) << (d->macEdited() ? d->newMac() : QString());
        }
        for (QString &field : fields)
            field = csvField(field);
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

QStringList readChanges(const QByteArray &bytes, const QString &fileName, const ProjectEntity &project,
                        QList<Change> *changes)
{
    const QByteArray byteOrderMark("\xef\xbb\xbf");
    const QByteArray data = bytes.startsWith(byteOrderMark) ? bytes.mid(byteOrderMark.size()) : bytes;
    if (const int line = firstNonUtf8Line(data))
        return located({{line, QStringLiteral("not UTF-8 text (save the file as CSV in UTF-8)")}}, fileName);

    const QString text = QString::fromUtf8(data);
    QList<Problem> problems;
    const QList<Record> records = RecordReader(text, separatorOf(text)).read(&problems);
    const Record header = records.value(0, Record{1, {}, false});
    QList<Problem> columnProblems;
    const ColumnIndexes columns = findColumns(header, &columnProblems);
    problems += columnProblems;
    QList<Change> read;
    if (columnProblems.isEmpty()) {
        RowReader rows(project, columns, header.fields.size());
        for (int i = 1; i < records.size(); ++i)
            rows.read(records.at(i), &read, &problems);
    }
    if (problems.isEmpty() && changes)
        *changes = read;
    return located(problems, fileName);
}

void applyChanges(ProjectEntity &project, const QList<Change> &changes)
{
    const QList<DeviceEntity *> devices = project.deviceEntities();
    for (const Change &change : changes) {
        DeviceEntity *device = devices.value(change.device);
        if (!device)
            continue;
        if (change.newLabel)
            device->setNewLabel(*change.newLabel);
        if (change.newMac)
            device->setNewMac(*change.newMac);
    }
}

Result writeFile(const ProjectEntity &project, Columns columns, const QString &path)
{
    const QByteArray bytes = write(project, columns);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Result::failure(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return Result::success();
}

Result readFile(QFile &file, const QString &shownName, QByteArray *bytes)
{
    // A list of even a million devices is far smaller.
    constexpr qint64 maxBytes = qint64(256) << 20;
    *bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Result::failure(QStringLiteral("cannot read %1: %2").arg(shownName, file.errorString()));
    if (bytes->size() > maxBytes)
        return Result::failure(
            QStringLiteral("%1: larger than %2 MiB, which no list of changes is").arg(shownName).arg(maxBytes >> 20));
    return Result::success();
}

QStringList firstProblems(const QStringList &problems, int shown)
{
    if (problems.size() <= shown)
        return problems;
    const int more = problems.size() - shown;
    return problems.mid(0, shown)
           << (more == 1 ? QStringLiteral("\u2026 and 1 more problem") : QStringLiteral("\u2026 and %1 more problems").arg(more));
}

} // namespace Workspace::DeviceCsv
