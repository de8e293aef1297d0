// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Streaming gzip, so that no layer of an archive needs a file of its own.
namespace GzipStream {

// Limits of the gzip stages: threads and bytes in flight do not grow with
// the machine's core count.
constexpr int MaxDeflateThreads = 4;

// Decodes a gzip file and hands the decoded bytes out in order, a block at
// a time; on a thread of its own when one can be started, else as the
// blocks are asked for. Members that follow one another form one stream,
// zero bytes may pad the end, every member's CRC and length are checked.
class Inflater
{
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // Starts decoding the already opened file descriptor (not taken over)
    // from its start, by offset: its file position is never moved.
    void start(int fd);

    // The next block of decoded bytes; empty at the end of the data or on an
    // error. The block stays valid until the next call.
    QByteArray next();
    // Empty while everything read so far was valid.
    QString error() const;
    // Bytes of the gzip file read so far.
    qint64 consumed() const { return m_consumed.load(std::memory_order_relaxed); }

private:
    struct Decoder;
    void run();
    // Decodes until a block is produced or the data ends; false at the end.
    bool produce(QByteArray *block);
    bool fillInput();
    bool startNextMember();
    bool readMemberHeader();
    qint64 failedAt() const;
    void finish(const QString &error);

    std::unique_ptr<Decoder> m_decoder;
    std::thread m_thread;
    bool m_threaded = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_blocks;
    QByteArray m_current;
    QString m_error;
    bool m_finished = false;
    bool m_cancelled = false;
    std::atomic<qint64> m_consumed{0};
};

// Compresses a byte stream into one gzip member on several threads, as
// parallel gzip tools do: the stream is cut into chunks, each deflated with
// the 32 KiB before it as its dictionary and ended with a sync flush, so
// that the pieces join into one valid deflate stream; the CRCs of the chunks
// are combined in order.
class ParallelDeflater
{
public:
    // Writes to fd (not taken over); the header names the member memberName
    // with modification time mtime. Up to `threads` workers (at most
    // MaxDeflateThreads); without any, chunks are compressed as they fill.
    ParallelDeflater(int fd, const QByteArray &memberName, quint32 mtime, int threads);
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater &) = delete;
    ParallelDeflater &operator=(const ParallelDeflater &) = delete;

    // Appends bytes to the stream. False after an error.
    bool write(const char *data, qint64 size);
    // Compresses what is left and writes the trailer. False after an error.
    bool finish();
    QString error() const;

private:
    struct Job;
    void submit(bool last);
    void work();
    void compress(Job &job);
    bool drain(bool all);
    void fail(const QString &error);

    int m_fd = -1;
    std::vector<std::thread> m_workers;
    mutable std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::condition_variable m_jobDone;
    std::deque<std::shared_ptr<Job>> m_pending; // waiting for a worker
    std::deque<std::shared_ptr<Job>> m_inOrder; // waiting to be written, in stream order
    QByteArray m_chunk;
    QByteArray m_previousTail;
    QString m_error;
    quint32 m_crc = 0;
    quint64 m_length = 0;
    bool m_stopping = false;
    bool m_finished = false;
};

} // namespace GzipStream
