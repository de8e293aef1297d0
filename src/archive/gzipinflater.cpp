// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the gzip layer: members' headers read here, deflate data and
// trailers with ISA-L.

#include "gzipstream.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "posixfile.h"

#include <system_error>

namespace GzipStream {

namespace {

constexpr int ReadSize = 256 * 1024;
constexpr int BlockSize = 256 * 1024;
constexpr size_t MaxQueuedBlocks = 16; // 4 MiB of decoded data ahead of the reader

} // namespace

namespace {

constexpr int MaxNameLength = 4096;
constexpr int MaxCommentLength = 1024 * 1024;

// Reads a gzip member's header from its first bytes: the header's length
// once it is complete, 0 while bytes are missing, -1 with *error set.
int parseGzipHeader(const QByteArray &h, QString *error)
{
    const auto *b = reinterpret_cast<const unsigned char *>(h.constData());
    const int size = h.size();
    if (size < 10)
        return 0;
    if (b[0] != 0x1f || b[1] != 0x8b) {
        *error = QStringLiteral("incorrect header check");
        return -1;
    }
    if (b[2] != 8) {
        *error = QStringLiteral("unknown compression method");
        return -1;
    }
    const unsigned flags = b[3];
    if (flags & 0xe0) {
        *error = QStringLiteral("unknown header flags set");
        return -1;
    }
    int pos = 10;
    if (flags & 0x04) { // extra field
        if (size < pos + 2)
            return 0;
        pos += 2 + (b[pos] | (b[pos + 1] << 8));
        if (size < pos)
            return 0;
    }
    if (flags & 0x08) { // original name
        const int nul = h.indexOf('\0', pos);
        if (nul < 0) {
            if (size - pos > MaxNameLength) {
                *error = QStringLiteral("original name in the gzip header is too long");
                return -1;
            }
            return 0;
        }
        if (nul - pos > MaxNameLength) {
            *error = QStringLiteral("original name in the gzip header is too long");
            return -1;
        }
        pos = nul + 1;
    }
    if (flags & 0x10) { // comment
        const int nul = h.indexOf('\0', pos);
        if (nul < 0) {
            if (size - pos > MaxCommentLength) {
                *error = QStringLiteral("comment in the gzip header is too long");
                return -1;
            }
            return 0;
        }
        pos = nul + 1;
    }
    if (flags & 0x02) { // header CRC
        if (size < pos + 2)
            return 0;
        const unsigned stored = b[pos] | (b[pos + 1] << 8);
        if ((crc32(0, b, uInt(pos)) & 0xffff) != stored) {
            *error = QStringLiteral("header crc mismatch");
            return -1;
        }
        pos += 2;
    }
    return pos;
}

// A decoding failure in words; at: the byte of the file where it stopped.
QString isalError(int code, qint64 at)
{
    // The trailer's CRC and length say what the whole member decodes to.
    if (code == ISAL_INCORRECT_CHECKSUM)
        return QStringLiteral("the archive is damaged: its data does not match the checksum and length stored with it");
    return QStringLiteral("the compressed data is damaged at byte %1").arg(at);
}

} // namespace

// ------------------------------------------------------------------ Inflater

// The deflate data is decoded with ISA-L (several times faster than zlib);
// the members' headers are read here, the trailers (CRC and length) are
// checked by ISA-L.
struct Inflater::Decoder
{
    int fd = -1;
    qint64 offset = 0; // of the next read: the descriptor's position is not ours
    inflate_state state{};
    QByteArray in = QByteArray(ReadSize, Qt::Uninitialized);
    enum { Header, Body, Between, Done } phase = Header;
    QByteArray header;
    bool padding = false;
    bool anyMember = false;
    bool outputFull = false; // the last block filled its buffer: more may be waiting without new input
};

Inflater::Inflater() : m_decoder(std::make_unique<Decoder>()) {}

Inflater::~Inflater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Inflater::start(int fd)
{
    m_decoder->fd = fd;
    try {
        m_thread = std::thread([this] { run(); });
        m_threaded = true;
    } catch (const std::system_error &) {
        m_threaded = false; // decoded on demand by next()
    }
}

void Inflater::run()
{
    QByteArray block;
    while (produce(&block)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_blocks.size() < MaxQueuedBlocks || m_cancelled; });
        if (m_cancelled)
            return;
        m_blocks.push_back(std::move(block));
        lock.unlock();
        m_changed.notify_all();
    }
}

QByteArray Inflater::next()
{
    if (!m_threaded) {
        QByteArray block;
        if (m_blocks.empty() && produce(&block))
            m_blocks.push_back(std::move(block));
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_blocks.empty() || m_finished; });
    if (m_blocks.empty() || !m_error.isEmpty()) {
        m_current.clear();
        return m_current;
    }
    m_current = std::move(m_blocks.front());
    m_blocks.pop_front();
    lock.unlock();
    m_changed.notify_all();
    return m_current;
}

QString Inflater::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void Inflater::finish(const QString &error)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = error;
        m_finished = true;
    }
    m_decoder->phase = Decoder::Done;
    m_changed.notify_all();
}

// Reads more of the file when the decoder has taken all it had; false at
// the end of the file or on an error (then finished).
bool Inflater::fillInput()
{
    Decoder &d = *m_decoder;
    if (d.state.avail_in > 0 || (d.phase == Decoder::Body && d.outputFull))
        return true;
    const qint64 n = Archive::readAt(d.fd, d.in.data(), d.in.size(), d.offset);
    if (n <= 0) {
        if (n < 0)
            finish(Archive::errnoText(errno));
        else
            finish(d.phase == Decoder::Between ? QString() : QStringLiteral("unexpected end of the gzip data"));
        return false;
    }
    d.offset += n;
    m_consumed.fetch_add(n, std::memory_order_relaxed);
    d.state.next_in = reinterpret_cast<uint8_t *>(d.in.data());
    d.state.avail_in = uint32_t(n);
    return true;
}

// Where in the file decoding stopped: the bytes read, less those the
// decoder has not taken in, whole or in its bit buffer.
qint64 Inflater::failedAt() const
{
    const inflate_state &state = m_decoder->state;
    return consumed() - qint64(state.avail_in) - (qMax(state.read_in_length, 0) + 7) / 8;
}

// Between members: another member follows, or zero bytes pad the file.
// False while more input is needed or on an error.
bool Inflater::startNextMember()
{
    Decoder &d = *m_decoder;
    inflate_state *state = &d.state;
    while (state->avail_in > 0 && *state->next_in == 0) {
        d.padding = true;
        ++state->next_in;
        --state->avail_in;
    }
    if (state->avail_in == 0)
        return false;
    // Another member starts with the gzip magic; anything else is garbage.
    if (d.padding || *state->next_in != 0x1f)
        return finish(QStringLiteral("trailing garbage after the gzip data")), false;
    d.phase = Decoder::Header;
    d.header.clear();
    return true;
}

// Collects a member's header; once it is complete the body starts. False
// while more input is needed or on an error.
bool Inflater::readMemberHeader()
{
    Decoder &d = *m_decoder;
    inflate_state *state = &d.state;
    const int before = d.header.size();
    d.header.append(reinterpret_cast<const char *>(state->next_in), int(state->avail_in));
    QString error;
    const int length = parseGzipHeader(d.header, &error);
    if (length < 0)
        return finish(error), false;
    if (length == 0) {
        state->avail_in = 0;
        return false;
    }
    d.anyMember = true;
    uint8_t *next = state->next_in + (length - before);
    const uint32_t left = state->avail_in - uint32_t(length - before);
    isal_inflate_init(state);
    state->crc_flag = ISAL_GZIP_NO_HDR_VER;
    state->next_in = next;
    state->avail_in = left;
    d.phase = Decoder::Body;
    return true;
}

bool Inflater::produce(QByteArray *block)
{
    Decoder &d = *m_decoder;
    inflate_state *state = &d.state;
    while (d.phase != Decoder::Done) {
        if (!fillInput())
            return false;
        if (d.phase == Decoder::Between && !startNextMember())
            continue;
        if (d.phase == Decoder::Header && !readMemberHeader())
            continue;
        while (d.phase == Decoder::Body) {
            QByteArray out(BlockSize, Qt::Uninitialized);
            state->next_out = reinterpret_cast<uint8_t *>(out.data());
            state->avail_out = uint32_t(out.size());
            const int r = isal_inflate(state);
            if (r < 0)
                return finish(isalError(r, failedAt())), false;
            const int produced = out.size() - int(state->avail_out);
            d.outputFull = state->avail_out == 0;
            if (state->block_state == ISAL_BLOCK_FINISH)
                d.phase = Decoder::Between;
            if (produced > 0) {
                out.truncate(produced);
                *block = std::move(out);
                return true;
            }
            if (d.phase == Decoder::Body && state->avail_out > 0)
                break; // all input taken: read more
        }
    }
    return false;
}

} // namespace GzipStream
