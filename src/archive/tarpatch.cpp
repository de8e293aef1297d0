#include "tarpatch.h"

#include "logging.h"
#include "tarfields.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QHash>
#include <QVector>

#include <algorithm>
#include <functional>

#include <cstring>
#include <limits>

namespace TarPatch {

using namespace Fields;

namespace {

// The pairs, found by what they replace. A project has a pair per device
// and every header meets them all: each position of a name is looked up
// once per length of the texts to find (longest first), so a name costs the
// same however many pairs there are.
class Replacements
{
public:
    void add(const QByteArray &from, const QByteArray &to)
    {
        if (m_pairs.contains(from))
            return;
        m_pairs.insert(from, to);
        m_firstBytes[uchar(from.at(0))] = true;
        if (!m_lengths.contains(from.size())) {
            m_lengths.append(from.size());
            std::sort(m_lengths.begin(), m_lengths.end(), std::greater<int>());
        }
    }

    // Replaces, left to right, each found text by its pair's; a replacement
    // is not looked at again. All pairs have equal lengths on both sides.
    bool replaceIn(char *data, int length) const
    {
        bool changed = false;
        for (int i = 0; i < length;) {
            const int n = m_firstBytes[uchar(data[i])] ? matchAt(data + i, length - i) : 0;
            if (n == 0) {
                ++i;
                continue;
            }
            std::memcpy(data + i, m_pairs.value(QByteArray::fromRawData(data + i, n)).constData(), size_t(n));
            changed = true;
            i += n;
        }
        return changed;
    }

private:
    int matchAt(const char *data, int left) const
    {
        for (const int n : m_lengths) {
            if (n <= left && m_pairs.contains(QByteArray::fromRawData(data, n)))
                return n;
        }
        return 0;
    }

    QHash<QByteArray, QByteArray> m_pairs;
    QVector<int> m_lengths;
    bool m_firstBytes[256] = {};
};

// The entry names held in the header itself: name (joined with the prefix in
// the POSIX ustar layout) and, for a hard link, the link target.
bool patchHeaderNames(tar_ustarheader *header, const Replacements &pairs)
{
    if (header->name[0] == '\0')
        return false;
    bool changed = false;
    const bool posixUstar = std::memcmp(header->magic, "ustar\0", 6) == 0;
    const int nameLength = fieldLength(header->name, sizeof(header->name));
    const int prefixLength = posixUstar ? fieldLength(header->prefix, sizeof(header->prefix)) : 0;
    if (prefixLength > 0) {
        QByteArray joined = QByteArray(header->prefix, prefixLength) + '/' + QByteArray(header->name, nameLength);
        if (pairs.replaceIn(joined.data(), joined.size())) {
            if (joined.at(prefixLength) == '/') {
                std::memcpy(header->prefix, joined.constData(), size_t(prefixLength));
                std::memcpy(header->name, joined.constData() + prefixLength + 1, size_t(nameLength));
                changed = true;
            } else {
                qCDebug(lcArchive).noquote() << "Tar name not patched, a replacement moves the prefix split:"
                                             << QString::fromLatin1(joined);
            }
        }
    } else {
        changed = pairs.replaceIn(header->name, nameLength);
    }
    if (header->typeflag == '1')
        changed |= pairs.replaceIn(header->linkname, fieldLength(header->linkname, sizeof(header->linkname)));
    return changed;
}

// Patches the path records of a pax extended header's data in place and picks
// up its size record. False when the records are malformed.
bool patchPaxRecords(QByteArray &data, const Replacements &pairs, bool forHardLink, bool global, bool *changed,
                     bool *hasSize, quint64 *size)
{
    const int total = data.size();
    char *bytes = data.data();
    int pos = 0;
    while (pos < total) {
        if (bytes[pos] == '\0') // padding after the last record
            break;
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
        const int end = pos + int(length); // one past the record's newline
        if (length == 0 || end > total || end <= i + 1 || bytes[end - 1] != '\n')
            return false;
        const char *eq = static_cast<const char *>(std::memchr(bytes + i + 1, '=', size_t(end - 1 - (i + 1))));
        if (!eq)
            return false;
        const QByteArray key(bytes + i + 1, int(eq - (bytes + i + 1)));
        char *value = bytes + (eq - bytes) + 1;
        const int valueLength = int((bytes + end - 1) - value);
        if (key == "path" || key == "GNU.sparse.name" || (key == "linkpath" && forHardLink))
            *changed |= pairs.replaceIn(value, valueLength);
        if (key == "size" && !global) {
            quint64 v = 0;
            if (valueLength == 0)
                return false;
            for (int k = 0; k < valueLength; ++k) {
                if (value[k] < '0' || value[k] > '9' || v > (std::numeric_limits<quint64>::max() - 9) / 10)
                    return false;
                v = v * 10 + quint64(value[k] - '0');
            }
            *hasSize = true;
            *size = v;
        }
        pos = end;
    }
    return true;
}

} // namespace

namespace {

// One pass of the stream patcher over the whole blocks of a tar file; with
// apply, the patched bytes are written back where they came from (a patched
// stream is as long as the original, byte for byte in the same places).
bool patchFilePass(QFile &file, const QList<QPair<QByteArray, QByteArray>> &replacements, bool apply, QString *error)
{
    qint64 writeAt = 0;
    StreamPatcher patcher(replacements, [&](const char *data, qint64 size) {
        if (apply && (!file.seek(writeAt) || file.write(data, size) != size))
            return false;
        writeAt += size;
        return true;
    });
    const qint64 whole = file.size() / kBlock * kBlock;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (qint64 readAt = 0; readAt < whole && !patcher.ended();) {
        const qint64 length = qMin<qint64>(buffer.size(), whole - readAt);
        if (!file.seek(readAt) || file.read(buffer.data(), length) != length) {
            *error = QStringLiteral("read error at offset %1: %2").arg(readAt).arg(file.errorString());
            return false;
        }
        readAt += length;
        if (!patcher.write(buffer.constData(), length)) {
            *error = apply && patcher.error() == QLatin1String("write error") ? file.errorString() : patcher.error();
            return false;
        }
    }
    // Tar readers stop at the first zero block; a file that ends after a
    // whole entry without one is read to its end the same way.
    if (!patcher.ended() && !patcher.atEntryBoundary()) {
        *error = QStringLiteral("an entry runs past the end of the file");
        return false;
    }
    return true;
}

} // namespace

bool patchTarNames(const QString &tarPath, const QList<QPair<QByteArray, QByteArray>> &replacements)
{
    QFile file(tarPath);
    QString error;
    if (tarPath.isEmpty())
        error = QStringLiteral("no file name");
    else if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        error = QStringLiteral("cannot be opened: ") + file.errorString();
    // A first pass reads everything and writes nothing, so that a damaged or
    // truncated archive is reported before any of its headers is changed.
    else if (patchFilePass(file, replacements, false, &error))
        patchFilePass(file, replacements, true, &error);
    file.close();
    if (error.isEmpty() && file.error() != QFileDevice::NoError)
        error = QStringLiteral("cannot be closed: ") + file.errorString();
    if (error.isEmpty())
        return true;
    qCDebug(lcArchive).noquote() << "Tar patching failed:" << tarPath << error;
    return false;
}

// ------------------------------------------------------------- stream patching

struct StreamPatcher::State
{
    struct Held
    {
        tar_ustarheader header{};
        QByteArray data; // with its padding
        char type = 0;
    };

    Replacements pairs;
    Sink sink;
    QByteArray header;           // bytes of a header not yet complete
    QVector<Held> held;          // extension entries waiting for their entry's header
    quint64 dataLeft = 0;        // data and padding of the current entry still to come
    bool collecting = false;     // that data belongs to held.last()
    bool pendingSize = false;    // a pax size record applies to the next entry
    quint64 nextSize = 0;
    bool ended = false;          // past the end-of-archive block
    bool sparseMap = false;      // the blocks coming are an old GNU sparse map
    quint64 sparseDataSize = 0;  // data and padding that follow the map
    qint64 offset = 0;           // of the next header
    QString error;

    bool fail(const QString &reason)
    {
        if (error.isEmpty())
            error = reason;
        return false;
    }

    bool out(const char *data, qint64 size) { return size == 0 || sink(data, size) || fail(QStringLiteral("write error")); }

    // Patches and writes the held extension entries, now that the type of the
    // entry they belong to is known.
    bool releaseHeld(char followingType)
    {
        for (Held &h : held) {
            patchHeaderNames(&h.header, pairs);
            bool changed = false;
            if (h.type == 'x' || h.type == 'g') {
                bool hasSize = false;
                quint64 size = 0;
                const quint64 length = tarEntrySize(&h.header);
                QByteArray data = h.data.left(int(length));
                if (!patchPaxRecords(data, pairs, h.type == 'x' && followingType == '1', h.type == 'g', &changed,
                                     &hasSize, &size))
                    return fail(QStringLiteral("malformed pax header"));
                std::memcpy(h.data.data(), data.constData(), size_t(data.size()));
            } else if (h.type == 'L' || followingType == '1') {
                const int length = int(tarEntrySize(&h.header));
                pairs.replaceIn(h.data.data(), fieldLength(h.data.constData(), length));
            }
            endSizeWithNul(&h.header);
            fixTarHeaderChecksum(&h.header);
            if (!out(reinterpret_cast<const char *>(&h.header), kBlock) || !out(h.data.constData(), h.data.size()))
                return false;
        }
        held.clear();
        return true;
    }

    bool headerComplete()
    {
        tar_ustarheader h;
        std::memcpy(&h, header.constData(), kBlock);
        header.clear();
        const qint64 at = offset;
        offset += kBlock;
        if (isZeroBlock(&h)) {
            if (!held.isEmpty())
                return fail(QStringLiteral("extension header without an entry at offset %1").arg(at));
            ended = true;
            return out(reinterpret_cast<const char *>(&h), kBlock);
        }
        if (!hasValidChecksum(&h))
            return fail(QStringLiteral("no tar header at offset %1").arg(at));
        const char type = h.typeflag;
        quint64 size = tarEntrySize(&h);
        if (isExtensionType(type)) {
            if (size > kMaxExtensionData)
                return fail(QStringLiteral("extended header at offset %1 is too large").arg(at));
            Held entry;
            entry.header = h;
            entry.type = type;
            entry.data.reserve(int(roundUpToBlock(size)));
            held.append(entry);
            collecting = true;
            dataLeft = roundUpToBlock(size);
            offset += qint64(dataLeft);
            return dataLeft > 0 || extensionComplete();
        }
        if (pendingSize) {
            size = nextSize;
            pendingSize = false;
        }
        if (!releaseHeld(type))
            return false;
        patchHeaderNames(&h, pairs);
        endSizeWithNul(&h);
        fixTarHeaderChecksum(&h);
        collecting = false;
        dataLeft = roundUpToBlock(size);
        if (hasSparseMapBlocks(&h)) {
            sparseMap = true;
            sparseDataSize = dataLeft;
            dataLeft = 0;
        }
        offset += qint64(dataLeft);
        return out(reinterpret_cast<const char *>(&h), kBlock);
    }

    // A block of an old GNU sparse map passes unchanged; the last one has no
    // "extended" flag, and the entry's data follows it.
    bool sparseBlockComplete()
    {
        const QByteArray block = header;
        header.clear();
        offset += kBlock;
        if (block.at(504) == 0) {
            sparseMap = false;
            dataLeft = sparseDataSize;
            offset += qint64(dataLeft);
        }
        return out(block.constData(), kBlock);
    }

    // A held pax header is read as soon as its data is complete: its size
    // record decides where the next header starts.
    bool extensionComplete()
    {
        Held &h = held.last();
        if (h.type != 'x')
            return true;
        QByteArray data = h.data.left(int(tarEntrySize(&h.header)));
        bool changed = false;
        bool hasSize = false;
        quint64 size = 0;
        if (!patchPaxRecords(data, Replacements(), false, false, &changed, &hasSize, &size))
            return fail(QStringLiteral("malformed pax header"));
        if (hasSize) {
            pendingSize = true;
            nextSize = size;
        }
        return true;
    }
};

StreamPatcher::StreamPatcher(const QList<QPair<QByteArray, QByteArray>> &replacements, Sink sink)
    : m_state(std::make_unique<State>())
{
    for (const auto &pair : replacements) {
        if (pair.first.isEmpty() || pair.first.size() != pair.second.size() || pair.first == pair.second)
            continue;
        m_state->pairs.add(pair.first, pair.second);
    }
    m_state->sink = std::move(sink);
}

StreamPatcher::~StreamPatcher() = default;

QString StreamPatcher::error() const
{
    return m_state->error;
}

bool StreamPatcher::write(const char *data, qint64 size)
{
    State &s = *m_state;
    if (!s.error.isEmpty())
        return false;
    while (size > 0) {
        if (s.ended)
            return s.out(data, size);
        if (s.dataLeft > 0) {
            const qint64 take = qint64(qMin<quint64>(s.dataLeft, quint64(size)));
            if (s.collecting) {
                s.held.last().data.append(data, int(take));
            } else if (!s.out(data, take)) {
                return false;
            }
            data += take;
            size -= take;
            s.dataLeft -= quint64(take);
            if (s.dataLeft == 0 && s.collecting && !s.extensionComplete())
                return false;
            continue;
        }
        const int take = int(qMin<qint64>(kBlock - s.header.size(), size));
        s.header.append(data, take);
        data += take;
        size -= take;
        if (s.header.size() == kBlock && !(s.sparseMap ? s.sparseBlockComplete() : s.headerComplete()))
            return false;
    }
    return true;
}

bool StreamPatcher::finish()
{
    State &s = *m_state;
    if (!s.error.isEmpty())
        return false;
    if (!s.ended || !s.header.isEmpty() || !s.held.isEmpty())
        return s.fail(QStringLiteral("the tar stream ends inside an entry"));
    return true;
}

bool StreamPatcher::ended() const
{
    return m_state->ended;
}

bool StreamPatcher::atEntryBoundary() const
{
    const State &s = *m_state;
    return s.header.isEmpty() && s.held.isEmpty() && s.dataLeft == 0 && !s.sparseMap;
}

} // namespace TarPatch
