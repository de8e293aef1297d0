// SPDX-License-Identifier: GPL-3.0-or-later
#include "tarstream.h"

#include "tarfields.h"
#include "tarpatch.h"
#include "tarregion.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace TarStream {

using namespace TarPatch::Fields;
using TarPatch::tarEntrySize;

struct Walker::State
{
    enum class Phase { Header, Extension, SparseMap, Data, Ended };

    Decide decide;
    Sink sink;
    Phase phase = Phase::Header;
    char block[kBlock];
    int blockFill = 0;
    QByteArray region;        // the header blocks of the entry being read
    qint64 regionOffset = 0;
    quint64 held = 0;         // extension data and sparse map blocks in the region
    quint64 extensionLeft = 0;
    quint64 dataLeft = 0;     // data and padding of the current entry still to come
    quint64 dataSize = 0;
    quint64 dataPos = 0;
    bool skipData = false;    // the data is being replaced
    bool checkData = false;
    QByteArray expectedData;
    QByteArray entryPath;
    qint64 offset = 0;        // bytes taken in
    qint64 endAt = -1;
    int entries = 0;
    QString error;

    bool fail(const QString &reason)
    {
        if (error.isEmpty())
            error = reason;
        return false;
    }

    bool out(const char *data, qint64 size)
    {
        return !sink || size == 0 || sink(data, size) || fail(QStringLiteral("write error"));
    }

    bool take(const char *data, qint64 size);
    bool headerBlock();
    bool extensionHeader(const tar_ustarheader *h, qint64 at);
    bool regionComplete();
    bool applyEdit(Detail::EntryHeaders &headers, const EntryInfo &info, const EntryEdit &edit);
    bool passData(const char *data, qint64 size);
};

// Takes the next bytes of the stream; each pass of the loop stays within
// one part of it (a header block, extension data, entry data).
bool Walker::State::take(const char *data, qint64 size)
{
    while (size > 0) {
        qint64 n = 0;
        if (phase == Phase::Ended) {
            offset += size;
            return out(data, size);
        }
        if (phase == Phase::Data) {
            n = qint64(qMin<quint64>(dataLeft, quint64(size)));
            if (!passData(data, n))
                return false;
            dataLeft -= quint64(n);
            if (dataLeft == 0)
                phase = Phase::Header;
        } else if (phase == Phase::Extension) {
            n = qint64(qMin<quint64>(extensionLeft, quint64(size)));
            region.append(data, int(n));
            extensionLeft -= quint64(n);
            if (extensionLeft == 0)
                phase = Phase::Header;
        } else {
            n = qMin<qint64>(kBlock - blockFill, size);
            std::memcpy(block + blockFill, data, size_t(n));
            blockFill += int(n);
        }
        data += n;
        size -= n;
        offset += n;
        if (blockFill == kBlock) {
            blockFill = 0;
            if (!headerBlock())
                return false;
        }
    }
    return true;
}

bool Walker::State::headerBlock()
{
    const qint64 at = offset - kBlock;
    if (phase == Phase::SparseMap) {
        // The last block of an old GNU sparse map has no "extended" flag.
        held += quint64(kBlock);
        if (held > kMaxExtensionData)
            return fail(QStringLiteral("sparse map at offset %1 is too large").arg(at));
        region.append(block, int(kBlock));
        return block[504] != 0 || regionComplete();
    }
    const auto *h = reinterpret_cast<const tar_ustarheader *>(block);
    if (isZeroBlock(h)) {
        if (!region.isEmpty())
            return fail(QStringLiteral("extension header not followed by an entry at offset %1").arg(regionOffset));
        phase = Phase::Ended;
        endAt = at;
        return out(block, kBlock);
    }
    if (!hasValidChecksum(h))
        return fail(QStringLiteral("no tar header at offset %1").arg(at));
    if (region.isEmpty())
        regionOffset = at;
    region.append(block, int(kBlock));
    if (isExtensionType(h->typeflag))
        return extensionHeader(h, at);
    if (hasSparseMapBlocks(h)) {
        phase = Phase::SparseMap;
        return true;
    }
    return regionComplete();
}

// Extension data is held with the entry's headers, up to a limit.
bool Walker::State::extensionHeader(const tar_ustarheader *h, qint64 at)
{
    const quint64 size = tarEntrySize(h);
    if (size > kMaxExtensionData || held + roundUpToBlock(size) > kMaxExtensionData)
        return fail(QStringLiteral("extended header at offset %1 is too large").arg(at));
    extensionLeft = roundUpToBlock(size);
    held += extensionLeft;
    region.reserve(region.size() + int(extensionLeft));
    if (extensionLeft > 0)
        phase = Phase::Extension;
    return true;
}

bool Walker::State::regionComplete()
{
    Detail::EntryHeaders headers;
    QString reason;
    if (!headers.parse(region, regionOffset, &reason))
        return fail(reason);
    EntryInfo info;
    info.index = entries;
    info.offset = regionOffset;
    info.dataOffset = regionOffset + region.size();
    headers.describe(&info);
    if (info.size > quint64(std::numeric_limits<qint64>::max() / 2))
        return fail(QStringLiteral("entry at offset %1 is too large").arg(regionOffset));
    info.end = info.dataOffset + qint64(roundUpToBlock(info.size));
    info.headerCrc = quint32(crc32(0, reinterpret_cast<const Bytef *>(region.constData()), uInt(region.size())));

    EntryEdit edit;
    if (decide && !decide(info, &edit, &reason))
        return fail(reason.isEmpty() ? QStringLiteral("stopped at entry %1").arg(QString::fromUtf8(info.path)) : reason);
    ++entries;
    skipData = false;
    checkData = false;
    expectedData.clear();
    const bool sent = edit.isDefault() ? out(region.constData(), region.size()) : applyEdit(headers, info, edit);
    if (!sent)
        return false;
    region.clear();
    held = 0;
    dataSize = info.size;
    dataPos = 0;
    dataLeft = roundUpToBlock(info.size);
    phase = dataLeft > 0 ? Phase::Data : Phase::Header;
    return true;
}

bool Walker::State::applyEdit(Detail::EntryHeaders &headers, const EntryInfo &info, const EntryEdit &edit)
{
    QString reason;
    if (!headers.apply(info, edit, &reason))
        return fail(reason);
    skipData = edit.replaceData;
    checkData = edit.checkData;
    expectedData = edit.checkData ? edit.expectedData : QByteArray();
    entryPath = info.path;
    if (checkData && quint64(expectedData.size()) != info.size)
        return fail(QStringLiteral("entry %1 changed since it was read").arg(QString::fromUtf8(info.path)));
    if (!sink)
        return true;
    const QByteArray header = headers.bytes();
    if (!out(header.constData(), header.size()))
        return false;
    if (!edit.replaceData)
        return true;
    const QByteArray padding(int(roundUpToBlock(quint64(edit.data.size())) - quint64(edit.data.size())), '\0');
    return out(edit.data.constData(), edit.data.size()) && out(padding.constData(), padding.size());
}

// Entry data goes straight from the input to the sink; only checked data is
// compared, and replaced data is dropped.
bool Walker::State::passData(const char *data, qint64 size)
{
    const quint64 start = dataPos;
    dataPos += quint64(size);
    if (checkData && start < dataSize) {
        const qint64 n = qint64(qMin<quint64>(quint64(size), dataSize - start));
        if (std::memcmp(data, expectedData.constData() + start, size_t(n)) != 0)
            return fail(QStringLiteral("entry %1 changed since it was read").arg(QString::fromUtf8(entryPath)));
    }
    return skipData || out(data, size);
}

Walker::Walker(Decide decide, Sink sink)
    : m_state(std::make_unique<State>())
{
    m_state->decide = std::move(decide);
    m_state->sink = std::move(sink);
}

Walker::~Walker() = default;

bool Walker::write(const char *data, qint64 size)
{
    return m_state->error.isEmpty() && m_state->take(data, size);
}

bool Walker::finish()
{
    State &s = *m_state;
    if (!s.error.isEmpty())
        return false;
    if (s.phase == State::Phase::Ended)
        return true;
    if (s.phase == State::Phase::Header && s.blockFill == 0 && s.region.isEmpty())
        return true;
    if (s.phase == State::Phase::Header && s.blockFill == 0)
        return s.fail(QStringLiteral("extension header not followed by an entry at offset %1").arg(s.regionOffset));
    const bool inHeader = s.phase == State::Phase::Header && s.region.isEmpty();
    return s.fail(QStringLiteral("the tar stream is cut off inside the entry at offset %1")
                      .arg(inHeader ? s.offset - s.blockFill : s.regionOffset));
}

QString Walker::error() const
{
    return m_state->error;
}

bool Walker::ended() const
{
    return m_state->phase == State::Phase::Ended;
}

qint64 Walker::endOffset() const
{
    return m_state->endAt >= 0 ? m_state->endAt : m_state->offset;
}

} // namespace TarStream
