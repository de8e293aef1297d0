// SPDX-License-Identifier: GPL-3.0-or-later
// Encoding of a stored archive's gzip member on several threads.

#include "gzipstream.h"

#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <unistd.h>

#include "posixfile.h"

#include <system_error>

namespace GzipStream {

namespace {

constexpr int ChunkSize = 1024 * 1024;
constexpr int SegmentSize = 64 * 1024;
constexpr int WindowSize = 32 * 1024;
constexpr int Level = 6;
// Segments whose bytes are this close to uniformly distributed are stored:
// deflate finds nothing in them, at level 6 only more slowly.
constexpr double StoreAboveBitsPerByte = 7.9;

using Archive::writeAll;

double bitsPerByte(const unsigned char *data, int size)
{
    if (size <= 0)
        return 0;
    unsigned counts[256] = {};
    for (int i = 0; i < size; ++i)
        ++counts[data[i]];
    double entropy = 0;
    for (unsigned c : counts) {
        if (c) {
            const double p = double(c) / size;
            entropy -= p * std::log2(p);
        }
    }
    return entropy;
}

struct DeflateEnd
{
    void operator()(z_stream *zs) const { deflateEnd(zs); }
};

} // namespace

// ----------------------------------------------------------- ParallelDeflater

struct ParallelDeflater::Job
{
    QByteArray input;
    QByteArray dictionary;
    bool last = false;
    QByteArray output;
    quint32 crc = 0;
    bool done = false;
    QString error;
};

ParallelDeflater::ParallelDeflater(int fd, const QByteArray &memberName, quint32 mtime, int threads) : m_fd(fd)
{
    m_crc = quint32(crc32(0, nullptr, 0));
    QByteArray header("\x1f\x8b\x08\x08", 4); // deflate, original name follows
    for (int i = 0; i < 4; ++i)
        header.append(char((mtime >> (8 * i)) & 0xff));
    header.append('\0'); // extra flags, as zlib writes them for level 6
    header.append('\3'); // Unix
    header.append(memberName);
    header.append('\0');
    if (const Result written = writeAll(m_fd, header.constData(), header.size()); !written)
        m_error = written.reason();
    m_chunk.reserve(ChunkSize);
    for (int i = 0; i < qBound(0, threads, MaxDeflateThreads); ++i) {
        try {
            m_workers.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break; // fewer workers; with none, submit() compresses inline
        }
    }
}

ParallelDeflater::~ParallelDeflater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_jobReady.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

QString ParallelDeflater::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void ParallelDeflater::fail(const QString &error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_error.isEmpty())
        m_error = error;
}

bool ParallelDeflater::write(const char *data, qint64 size)
{
    while (size > 0) {
        if (!error().isEmpty())
            return false;
        const int take = int(qMin<qint64>(size, ChunkSize - m_chunk.size()));
        m_chunk.append(data, take);
        data += take;
        size -= take;
        if (m_chunk.size() == ChunkSize)
            submit(false);
    }
    return error().isEmpty();
}

bool ParallelDeflater::finish()
{
    if (m_finished)
        return error().isEmpty();
    m_finished = true;
    if (!error().isEmpty())
        return false;
    submit(true);
    if (!drain(true))
        return false;
    unsigned char trailer[8];
    for (int i = 0; i < 4; ++i) {
        trailer[i] = (m_crc >> (8 * i)) & 0xff;
        trailer[4 + i] = (m_length >> (8 * i)) & 0xff;
    }
    if (const Result written = writeAll(m_fd, reinterpret_cast<const char *>(trailer), sizeof trailer); !written)
        fail(written.reason());
    return error().isEmpty();
}

void ParallelDeflater::submit(bool last)
{
    auto job = std::make_shared<Job>();
    job->input = m_chunk;
    job->dictionary = m_previousTail;
    job->last = last;
    m_previousTail = m_chunk.right(WindowSize);
    if (m_previousTail.size() < WindowSize && !job->dictionary.isEmpty())
        m_previousTail = job->dictionary.right(WindowSize - m_previousTail.size()) + m_previousTail;
    m_chunk.clear();
    m_chunk.reserve(ChunkSize);
    if (m_workers.empty()) {
        compress(*job);
        job->done = true;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inOrder.push_back(job);
    } else {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.push_back(job);
            m_inOrder.push_back(job);
        }
        m_jobReady.notify_one();
    }
    // Bounded memory: at most a few chunks per worker in flight.
    drain(false);
}

// Writes finished chunks in stream order; with all, waits for every chunk,
// otherwise only until few enough are in flight.
bool ParallelDeflater::drain(bool all)
{
    const size_t limit = all ? 0 : 2 * m_workers.size() + 1;
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_inOrder.empty())
                return m_error.isEmpty();
            const bool mustWait = m_inOrder.size() > limit;
            if (!m_inOrder.front()->done && !mustWait)
                return m_error.isEmpty();
            m_jobDone.wait(lock, [this] { return m_inOrder.front()->done; });
            job = m_inOrder.front();
            m_inOrder.pop_front();
            if (!job->error.isEmpty() && m_error.isEmpty())
                m_error = job->error;
            if (!m_error.isEmpty())
                return false;
        }
        m_crc = quint32(crc32_combine(m_crc, job->crc, z_off_t(job->input.size())));
        m_length += quint64(job->input.size());
        if (const Result written = writeAll(m_fd, job->output.constData(), job->output.size()); !written) {
            fail(written.reason());
            return false;
        }
    }
}

void ParallelDeflater::work()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_jobReady.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            if (m_pending.empty())
                return;
            job = m_pending.front();
            m_pending.pop_front();
        }
        compress(*job);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            job->done = true;
        }
        m_jobDone.notify_all();
    }
}

// One chunk, deflated with the 32 KiB before it as its dictionary and ended
// with a sync flush (the last one with the stream's end).
void ParallelDeflater::compress(Job &job)
{
    z_stream zs{};
    if (deflateInit2(&zs, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        job.error = QStringLiteral("not enough memory to compress");
        return;
    }
    std::unique_ptr<z_stream, DeflateEnd> guard(&zs);
    const auto *input = reinterpret_cast<const unsigned char *>(job.input.constData());
    const int size = job.input.size();
    job.crc = quint32(crc32(0, input, uInt(size)));
    if (!job.dictionary.isEmpty()
        && deflateSetDictionary(&zs, reinterpret_cast<const Bytef *>(job.dictionary.constData()),
                                uInt(job.dictionary.size()))
               != Z_OK) {
        job.error = QStringLiteral("compressing failed");
        return;
    }
    job.output.resize(int(deflateBound(&zs, uLong(size))) + 64 * (size / SegmentSize + 2) + 1024);
    zs.next_out = reinterpret_cast<Bytef *>(job.output.data());
    zs.avail_out = uInt(job.output.size());
    int level = Level;
    for (int offset = 0; offset < size || offset == 0; offset += SegmentSize) {
        const int length = qMin(SegmentSize, size - offset);
        const int wanted = bitsPerByte(input + offset, length) > StoreAboveBitsPerByte ? 0 : Level;
        if (wanted != level) {
            if (deflateParams(&zs, wanted, Z_DEFAULT_STRATEGY) != Z_OK) {
                job.error = QStringLiteral("compressing failed");
                return;
            }
            level = wanted;
        }
        const bool end = offset + length >= size;
        zs.next_in = const_cast<Bytef *>(input + offset);
        zs.avail_in = uInt(length);
        const int flush = !end ? Z_NO_FLUSH : job.last ? Z_FINISH : Z_SYNC_FLUSH;
        const int r = deflate(&zs, flush);
        if (r == Z_STREAM_ERROR || zs.avail_in != 0 || (flush != Z_NO_FLUSH && zs.avail_out == 0)) {
            job.error = QStringLiteral("compressing failed");
            return;
        }
        if (end)
            break;
    }
    job.output.truncate(job.output.size() - int(zs.avail_out));
}

} // namespace GzipStream
