// SPDX-License-Identifier: GPL-3.0-or-later
#include "tarregion.h"

#include "tarfields.h"
#include "tarpatch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

namespace TarStream {
namespace Detail {

using namespace TarPatch::Fields;
using TarPatch::tarEntrySize;

namespace {

const EntryHeaders::NameKind kPathName{"path", "GNU.sparse.name", 'L', false};
const EntryHeaders::NameKind kLinkName{"linkpath", QByteArray(), 'K', true};

struct PaxRecord
{
    int start = 0; // its length digits
    int end = 0;   // one past its newline
    int valueAt = 0;
    QByteArray key;
    int valueLength() const { return end - 1 - valueAt; }
};

// The "LENGTH KEY=VALUE\n" records of a pax header's data; a NUL where a
// record would start ends them (padding). False when they are malformed.
bool parsePax(const QByteArray &data, QVector<PaxRecord> *records, int *recordsEnd)
{
    const int total = data.size();
    const char *bytes = data.constData();
    int pos = 0;
    while (pos < total && bytes[pos] != '\0') {
        quint64 length = 0;
        int i = pos;
        while (i < total && bytes[i] >= '0' && bytes[i] <= '9') {
            length = length * 10 + quint64(bytes[i] - '0');
            if (length > quint64(total))
                return false;
            ++i;
        }
        if (i == pos || i >= total || bytes[i] != ' ')
            return false;
        const int end = pos + int(length);
        if (end > total || end <= i + 1 || bytes[end - 1] != '\n')
            return false;
        const char *eq = static_cast<const char *>(std::memchr(bytes + i + 1, '=', size_t(end - 1 - (i + 1))));
        if (!eq)
            return false;
        PaxRecord record;
        record.start = pos;
        record.end = end;
        record.key = QByteArray(bytes + i + 1, int(eq - (bytes + i + 1)));
        record.valueAt = int(eq - bytes) + 1;
        records->append(record);
        pos = end;
    }
    *recordsEnd = pos;
    return true;
}

bool parseDecimal(const QByteArray &text, quint64 *value)
{
    quint64 v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || v > (std::numeric_limits<quint64>::max() - 9) / 10)
            return false;
        v = v * 10 + quint64(c - '0');
    }
    *value = v;
    return !text.isEmpty();
}

QByteArray paxRecord(const QByteArray &key, const QByteArray &value)
{
    const int body = key.size() + value.size() + 3; // ' ', '=' and '\n'
    int length = body + 1;
    while (QByteArray::number(length).size() + body != length)
        ++length;
    return QByteArray::number(length) + ' ' + key + '=' + value + '\n';
}

using RecordFilter = std::function<bool(const PaxRecord &record, const QByteArray &value)>;

// Gives the records that `select` picks the new value; a value of the same
// length is patched in place, another one gets its record rebuilt (the
// length prefix changes). False when nothing changed.
bool rewritePax(QByteArray *data, const RecordFilter &select, const QByteArray &value)
{
    QVector<PaxRecord> records;
    int recordsEnd = 0;
    if (!parsePax(*data, &records, &recordsEnd))
        return false;
    QByteArray out;
    int pos = 0;
    bool changed = false;
    for (const PaxRecord &r : records) {
        const QByteArray old = data->mid(r.valueAt, r.valueLength());
        if (!select(r, old) || old == value)
            continue;
        out += data->mid(pos, r.start - pos);
        if (old.size() == value.size())
            out += data->mid(r.start, r.valueAt - r.start) + value + '\n';
        else
            out += paxRecord(r.key, value);
        pos = r.end;
        changed = true;
    }
    if (!changed)
        return false;
    *data = out + data->mid(pos);
    return true;
}

// Removes the records of key; false when there were none.
bool dropPaxRecords(QByteArray *data, const QByteArray &key)
{
    QVector<PaxRecord> records;
    int recordsEnd = 0;
    if (!parsePax(*data, &records, &recordsEnd))
        return false;
    for (int i = records.size() - 1; i >= 0; --i) {
        if (records.at(i).key == key)
            data->remove(records.at(i).start, records.at(i).end - records.at(i).start);
    }
    return std::any_of(records.cbegin(), records.cend(), [&](const PaxRecord &r) { return r.key == key; });
}

QByteArray fieldText(const char *field, int width)
{
    return QByteArray(field, fieldLength(field, width));
}

bool isPosixUstar(const tar_ustarheader *h)
{
    return std::memcmp(h->magic, "ustar\0", 6) == 0;
}

QByteArray ustarName(const tar_ustarheader *h)
{
    const QByteArray name = fieldText(h->name, sizeof(h->name));
    if (!isPosixUstar(h) || h->prefix[0] == '\0')
        return name;
    return fieldText(h->prefix, sizeof(h->prefix)) + '/' + name;
}

// Writes a NUL-ended field: the bytes after the old text's end stay as they were.
void writeField(char *field, int width, const QByteArray &value)
{
    const int oldLength = fieldLength(field, width);
    const int n = qMin(value.size(), width);
    std::memcpy(field, value.constData(), size_t(n));
    if (n < width)
        std::memset(field + n, 0, size_t(qMax(oldLength, n + 1) - n));
}

bool splitFits(const QByteArray &name, int at)
{
    return at >= 1 && at <= 155 && at < name.size() - 1 && name.at(at) == '/' && name.size() - at - 1 <= 100;
}

// The name field, and for POSIX ustar the prefix split at a '/': the current
// split is kept when it still fits, else the longest prefix is taken. False
// when the name does not fit.
bool placeUstarName(tar_ustarheader *h, const QByteArray &name)
{
    const bool posix = isPosixUstar(h);
    const int current = posix ? fieldLength(h->prefix, sizeof(h->prefix)) : 0;
    int split = -1;
    if (current > 0 && splitFits(name, current)) {
        split = current;
    } else if (name.size() > 100) {
        for (int at = qMin(155, name.size() - 2); posix && at >= 1 && split < 0; --at) {
            if (splitFits(name, at))
                split = at;
        }
        if (split < 0)
            return false;
    }
    writeField(h->name, sizeof(h->name), split < 0 ? name : name.mid(split + 1));
    if (posix)
        writeField(h->prefix, sizeof(h->prefix), split < 0 ? QByteArray() : name.left(split));
    return true;
}

void setOctalSize(tar_ustarheader *h, quint64 size)
{
    const QByteArray digits = QByteArray::number(size, 8).rightJustified(11, '0');
    std::memcpy(h->size, digits.constData(), 11);
    h->size[11] = '\0';
}

QByteArray newExtensionHeader(char type, bool gnu)
{
    tar_ustarheader h{};
    const QByteArray name = type == 'x' ? "././@PaxHeader" : "././@LongLink";
    std::memcpy(h.name, name.constData(), size_t(name.size()));
    std::memcpy(h.mode, "0000644", 8);
    std::memcpy(h.uid, "0000000", 8);
    std::memcpy(h.gid, "0000000", 8);
    std::memcpy(h.mtime, "00000000000", 12);
    h.typeflag = type;
    std::memcpy(h.magic, gnu ? "ustar " : "ustar", 6);
    std::memcpy(h.version, gnu ? " " : "00", 2);
    return QByteArray(reinterpret_cast<const char *>(&h), int(kBlock));
}

// A changed header: size field ended by a NUL, checksum recomputed.
void sealHeader(tar_ustarheader *h)
{
    endSizeWithNul(h);
    TarPatch::fixTarHeaderChecksum(h);
}

} // namespace

bool EntryHeaders::parse(const QByteArray &raw, qint64 offset, QString *error)
{
    m_raw = raw;
    m_parts.clear();
    m_hasPaxSize = false;
    for (int at = 0; at + kBlock <= raw.size();) {
        Part part;
        part.rawAt = at;
        part.header = raw.mid(at, int(kBlock));
        const auto *h = reinterpret_cast<const tar_ustarheader *>(part.header.constData());
        if (!isExtensionType(h->typeflag)) {
            part.rawLength = int(kBlock);
            m_parts.append(part);
            m_tailAt = at + int(kBlock);
            return true;
        }
        part.type = h->typeflag;
        const quint64 size = tarEntrySize(h);
        part.data = raw.mid(at + int(kBlock), int(size));
        part.rawLength = int(kBlock + roundUpToBlock(size));
        QVector<PaxRecord> records;
        int recordsEnd = 0;
        bool valid = part.type == 'L' || part.type == 'K' || parsePax(part.data, &records, &recordsEnd);
        for (const PaxRecord &r : records) {
            if (part.type == 'x' && r.key == "size") {
                valid = valid && parseDecimal(part.data.mid(r.valueAt, r.valueLength()), &m_paxSize);
                m_hasPaxSize = true;
            }
        }
        if (!valid) {
            *error = QStringLiteral("malformed pax header at offset %1").arg(offset + at);
            return false;
        }
        m_parts.append(part);
        at += part.rawLength;
    }
    *error = QStringLiteral("extension header not followed by an entry at offset %1").arg(offset);
    return false;
}

QByteArray EntryHeaders::paxValue(const std::function<bool(const QByteArray &key)> &matches, bool *found) const
{
    QByteArray value;
    for (const Part &part : m_parts) {
        QVector<PaxRecord> records;
        int recordsEnd = 0;
        if (part.type != 'x' || !parsePax(part.data, &records, &recordsEnd))
            continue;
        for (const PaxRecord &r : records) {
            if (matches(r.key)) {
                value = part.data.mid(r.valueAt, r.valueLength());
                *found = true;
            }
        }
    }
    return value;
}

QByteArray EntryHeaders::nameOf(const NameKind &kind) const
{
    bool found = false;
    QByteArray value;
    if (!kind.sparseKey.isEmpty())
        value = paxValue([&](const QByteArray &key) { return key == kind.sparseKey; }, &found);
    if (!found)
        value = paxValue([&](const QByteArray &key) { return key == kind.paxKey; }, &found);
    if (found)
        return value;
    for (int i = m_parts.size() - 1; i >= 0; --i) {
        if (m_parts.at(i).type == kind.longType)
            return fieldText(m_parts.at(i).data.constData(), m_parts.at(i).data.size());
    }
    const tar_ustarheader *h = mainHeader();
    return kind.linkField ? fieldText(h->linkname, sizeof(h->linkname)) : ustarName(h);
}

void EntryHeaders::describe(EntryInfo *info) const
{
    const tar_ustarheader *h = mainHeader();
    info->type = h->typeflag;
    info->path = nameOf(kPathName);
    info->linkTarget = h->typeflag == '1' || h->typeflag == '2' ? nameOf(kLinkName) : QByteArray();
    info->size = m_hasPaxSize ? m_paxSize : tarEntrySize(h);
}

bool EntryHeaders::isSparse() const
{
    bool found = false;
    if (mainHeader()->typeflag != 'S')
        paxValue([](const QByteArray &key) { return key.startsWith("GNU.sparse."); }, &found);
    return mainHeader()->typeflag == 'S' || found;
}

bool EntryHeaders::apply(const EntryInfo &info, const EntryEdit &edit, QString *error)
{
    const QString name = QString::fromUtf8(info.path);
    const bool isLink = info.type == '1' || info.type == '2';
    const bool unlinks = edit.replaceData && info.type == '1';
    if (edit.path.contains('\0') || edit.linkTarget.contains('\0'))
        *error = QStringLiteral("the new name for entry %1 holds a NUL byte").arg(name);
    else if (!edit.linkTarget.isEmpty() && !isLink)
        *error = QStringLiteral("entry %1 is no link").arg(name);
    else if (edit.replaceData && info.type != '0' && info.type != '\0' && !unlinks)
        *error = QStringLiteral("entry %1 is no regular file: its data cannot be replaced").arg(name);
    else if (edit.replaceData && isSparse())
        *error = QStringLiteral("entry %1 is a sparse file: its data cannot be replaced").arg(name);
    if (!error->isEmpty())
        return false;
    // Told before any rename: a main header whose name is no copy of the path only stands in for it.
    const QByteArray mainName = ustarName(mainHeader());
    const bool mainStandsIn = !mainName.isEmpty() && !info.path.startsWith(mainName);
    if (!edit.path.isEmpty() && edit.path != info.path)
        rename(kPathName, info.path, edit.path);
    if (unlinks)
        dropLinkTarget();
    else if (!edit.linkTarget.isEmpty() && edit.linkTarget != info.linkTarget)
        rename(kLinkName, info.linkTarget, edit.linkTarget);
    if (edit.replaceData)
        replaceData(quint64(edit.data.size()));
    if (edit.renameHeader)
        renameOtherNames(mainStandsIn, edit.renameHeader);
    return true;
}

// A hard link that becomes a regular file: the type and the target go, in
// every place that holds it.
void EntryHeaders::dropLinkTarget()
{
    tar_ustarheader *h = mainHeader();
    h->typeflag = '0';
    writeField(h->linkname, sizeof(h->linkname), QByteArray());
    m_parts.last().changed = true;
    for (int i = m_parts.size() - 2; i >= 0; --i) {
        Part &part = m_parts[i];
        if (part.type == kLinkName.longType)
            m_parts.remove(i);
        else if (part.type == 'x' && dropPaxRecords(&part.data, kLinkName.paxKey))
            part.changed = true;
    }
}

// Header names that are not the entry's own: those of its extension
// headers, and a main header's that stands in for the real name (a sparse
// file's, say), which tar readers that know the extensions never show.
void EntryHeaders::renameOtherNames(bool mainStandsIn, const std::function<QByteArray(const QByteArray &)> &newName)
{
    for (Part &part : m_parts) {
        if (part.type == 0 && !mainStandsIn)
            continue; // holds the entry's own name, or a cut copy of it: renamed with the path
        auto *h = reinterpret_cast<tar_ustarheader *>(part.header.data());
        const QByteArray current = ustarName(h);
        const QByteArray to = newName(current);
        if (to.isEmpty() || to == current)
            continue;
        if (!placeUstarName(h, to)) {
            writeField(h->name, sizeof(h->name), to.left(sizeof(h->name)));
            if (isPosixUstar(h))
                writeField(h->prefix, sizeof(h->prefix), QByteArray());
        }
        part.changed = true;
    }
}

// Every place that holds the name gets the new one; ustar fields that hold a
// cut copy of a name kept in an extension get the new name cut to the name
// field. When the new name does not fit them and no extension holds it, one
// is added.
void EntryHeaders::rename(const NameKind &kind, const QByteArray &from, const QByteArray &to)
{
    const bool inPax = renameInPax(kind, from, to);
    const bool inExtension = renameInLongNames(kind, from, to) || inPax;
    Part &main = m_parts.last();
    const QByteArray before = main.header;
    tar_ustarheader *h = mainHeader(); // detaches from `before`
    const QByteArray current = kind.linkField ? fieldText(h->linkname, sizeof(h->linkname)) : ustarName(h);
    const bool cutCopy = current != from;
    if (cutCopy && !(inExtension && !current.isEmpty() && from.startsWith(current)))
        return;
    bool fits = true;
    if (kind.linkField) {
        fits = to.size() <= int(sizeof(h->linkname));
        writeField(h->linkname, sizeof(h->linkname), to);
    } else if (cutCopy || !placeUstarName(h, to)) {
        fits = false;
        writeField(h->name, sizeof(h->name), to.left(sizeof(h->name)));
        if (isPosixUstar(h))
            writeField(h->prefix, sizeof(h->prefix), QByteArray());
    }
    main.changed = main.changed || main.header != before;
    if (!fits && !inExtension)
        addNameHolder(kind, to);
}

// True when a pax record of the kind exists (it holds the name).
bool EntryHeaders::renameInPax(const NameKind &kind, const QByteArray &from, const QByteArray &to)
{
    bool holds = false;
    const RecordFilter select = [&](const PaxRecord &r, const QByteArray &value) {
        const bool named = r.key == kind.paxKey || (!kind.sparseKey.isEmpty() && r.key == kind.sparseKey);
        holds = holds || named;
        return named && value == from;
    };
    for (Part &part : m_parts) {
        if (part.type == 'x' && rewritePax(&part.data, select, to))
            part.changed = true;
    }
    return holds;
}

bool EntryHeaders::renameInLongNames(const NameKind &kind, const QByteArray &from, const QByteArray &to)
{
    bool holds = false;
    for (Part &part : m_parts) {
        if (part.type != kind.longType)
            continue;
        holds = true;
        if (fieldText(part.data.constData(), part.data.size()) == from) {
            part.data = to + '\0';
            part.changed = true;
        }
    }
    return holds;
}

// The nearest pax header takes a record; without one, a new pax header (or
// for a GNU header, a GNU long-name entry) goes before the main header.
void EntryHeaders::addNameHolder(const NameKind &kind, const QByteArray &name)
{
    const QByteArray record = paxRecord(kind.paxKey, name);
    for (int i = m_parts.size() - 2; i >= 0; --i) {
        Part &part = m_parts[i];
        if (part.type != 'x')
            continue;
        QVector<PaxRecord> records;
        int recordsEnd = 0;
        parsePax(part.data, &records, &recordsEnd);
        part.data.insert(recordsEnd, record);
        part.changed = true;
        return;
    }
    const bool gnu = std::memcmp(mainHeader()->magic, "ustar ", 6) == 0;
    Part part;
    part.type = gnu ? kind.longType : 'x';
    part.header = newExtensionHeader(part.type, gnu);
    part.data = gnu ? name + '\0' : record;
    part.changed = true;
    m_parts.insert(m_parts.size() - 1, part);
}

void EntryHeaders::replaceData(quint64 size)
{
    setOctalSize(mainHeader(), size);
    m_parts.last().changed = true;
    const QByteArray value = QByteArray::number(size);
    const RecordFilter sizeRecords = [](const PaxRecord &r, const QByteArray &) { return r.key == "size"; };
    for (Part &part : m_parts) {
        if (part.type == 'x' && rewritePax(&part.data, sizeRecords, value))
            part.changed = true;
    }
}

QByteArray EntryHeaders::bytes() const
{
    QByteArray out;
    for (const Part &part : m_parts) {
        if (!part.changed) {
            out += m_raw.mid(part.rawAt, part.rawLength);
            continue;
        }
        tar_ustarheader h;
        std::memcpy(&h, part.header.constData(), sizeof(h));
        if (part.type != 0 && tarEntrySize(&h) != quint64(part.data.size()))
            setOctalSize(&h, quint64(part.data.size()));
        // A header block whose bytes stay (only its data changed) stays as it came.
        if (part.rawAt < 0 || std::memcmp(&h, m_raw.constData() + part.rawAt, sizeof(h)) != 0)
            sealHeader(&h);
        out.append(reinterpret_cast<const char *>(&h), int(sizeof(h)));
        if (part.type != 0)
            out += part.data + QByteArray(int(roundUpToBlock(quint64(part.data.size())) - quint64(part.data.size())), '\0');
    }
    return out + m_raw.mid(m_tailAt);
}

tar_ustarheader *EntryHeaders::mainHeader()
{
    return reinterpret_cast<tar_ustarheader *>(m_parts.last().header.data());
}

const tar_ustarheader *EntryHeaders::mainHeader() const
{
    return reinterpret_cast<const tar_ustarheader *>(m_parts.last().header.constData());
}

} // namespace Detail
} // namespace TarStream
