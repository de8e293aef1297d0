#pragma once

#include "archivehandles.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Archive {

// Writes guarded tar entries into one tree with libarchive's disk writer.
// Threaded, it works on a thread of its own from entries and data handed
// over (so that several trees' file system work runs side by side); when no
// thread can be started, or unthreaded, every call does its work at once.
// The first error drops the rest of the tree and is kept.
class TreeWriter
{
public:
    explicit TreeWriter(bool threaded) : m_threaded(threaded) {}
    ~TreeWriter() { close(); }
    TreeWriter(const TreeWriter &) = delete;
    TreeWriter &operator=(const TreeWriter &) = delete;

    QString open();
    void header(Entry entry, const QString &name, bool spread);
    void data(const void *block, size_t size, la_int64_t offset);
    void finishEntry();
    // Waits until everything handed over is written; the first error.
    QString close();

    bool failed() const { return m_failed.load(std::memory_order_acquire); }
    // The first error; complete once failed() is true or close() returned.
    QString error() const;

private:
    struct Task
    {
        enum Kind { Header, Data, Finish, Close } kind = Header;
        Entry entry;
        QString name;
        QByteArray data;
        la_int64_t offset = 0;
        bool spread = false;
    };
    // Bytes of file data waiting for the thread at most.
    static constexpr qint64 MaxQueuedBytes = 16 * 1024 * 1024;

    void push(Task task);
    void run();
    void execute(Task &task);
    void fail(const QString &error);

    WriteArchive m_writer;
    bool m_threaded = false;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_tasks;
    qint64 m_queuedBytes = 0;
    QString m_current;
    QString m_error;
    std::atomic<bool> m_failed{false};
    bool m_closed = false;
};

} // namespace Archive
