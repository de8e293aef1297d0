#include "treewriter.h"

#include "scratchdir.h"

#include <QFile>

#include <system_error>

namespace Archive {

namespace {

// libarchive's disk writer reads the process umask by setting it to 0 and
// back, when it is made and for every header. Writers on several threads
// take turns there, or one could read the other's 0 and leave it in place:
// every file the process made afterwards would be world-writable.
std::mutex &umaskLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

QString TreeWriter::open()
{
    {
        std::lock_guard<std::mutex> lock(umaskLock());
        m_writer.reset(archive_write_disk_new());
    }
    if (!m_writer)
        return QStringLiteral("out of memory");
    // Joined absolute names are checked by the entry guard before they reach
    // the writer, so the absolute-path guard stays off; the others stay on as
    // a second line. Owners, ACLs, extended attributes and file flags are not
    // restored.
    if (archive_write_disk_set_options(m_writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM
                                                           | ARCHIVE_EXTRACT_SECURE_NODOTDOT
                                                           | ARCHIVE_EXTRACT_SECURE_SYMLINKS)
        != ARCHIVE_OK)
        return archiveError("archive_write_disk_set_options", m_writer.get());
    if (m_threaded) {
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error &) {
            m_threaded = false; // the work is done on the calling thread
        }
    }
    return QString();
}

void TreeWriter::header(Entry entry, const QString &name, bool spread)
{
    Task task;
    task.kind = Task::Header;
    task.entry = std::move(entry);
    task.name = name;
    task.spread = spread;
    push(std::move(task));
}

void TreeWriter::data(const void *block, size_t size, la_int64_t offset)
{
    if (!m_threaded) {
        // No copy on the calling thread.
        if (!failed() && archive_write_data_block(m_writer.get(), block, size, offset) != ARCHIVE_OK)
            fail(QStringLiteral("%1: %2").arg(m_current, archiveWriteError("archive_write_data_block", m_writer.get())));
        return;
    }
    Task task;
    task.kind = Task::Data;
    task.data = QByteArray(static_cast<const char *>(block), int(size));
    task.offset = offset;
    push(std::move(task));
}

void TreeWriter::finishEntry()
{
    Task task;
    task.kind = Task::Finish;
    push(std::move(task));
}

QString TreeWriter::close()
{
    if (m_closed)
        return error();
    m_closed = true;
    Task task;
    task.kind = Task::Close;
    push(std::move(task));
    if (m_thread.joinable())
        m_thread.join();
    return error();
}

QString TreeWriter::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void TreeWriter::push(Task task)
{
    if (!m_threaded) {
        execute(task);
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queuedBytes < MaxQueuedBytes; });
    m_queuedBytes += task.data.size();
    m_tasks.push_back(std::move(task));
    lock.unlock();
    m_changed.notify_all();
}

void TreeWriter::run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_tasks.empty(); });
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            m_queuedBytes -= task.data.size();
        }
        m_changed.notify_all();
        execute(task);
        if (task.kind == Task::Close)
            return;
    }
}

void TreeWriter::execute(Task &task)
{
    archive *w = m_writer.get();
    if (!w)
        return;
    if (task.kind == Task::Close) {
        if (!failed() && archive_write_close(w) != ARCHIVE_OK)
            fail(archiveWriteError("archive_write_close", w));
        m_writer.reset();
        return;
    }
    if (failed())
        return; // dropped: the rest only drains
    switch (task.kind) {
    case Task::Header: {
        m_current = task.name;
        int r = ARCHIVE_OK;
        {
            std::lock_guard<std::mutex> lock(umaskLock());
            r = archive_write_header(w, task.entry.get());
        }
        if (r != ARCHIVE_OK)
            fail(QStringLiteral("%1: %2").arg(m_current, archiveWriteError("archive_write_header", w)));
        else if (task.spread)
            placeTreeApart(QFile::decodeName(archive_entry_pathname(task.entry.get())));
        break;
    }
    case Task::Data:
        if (archive_write_data_block(w, task.data.constData(), size_t(task.data.size()), task.offset) != ARCHIVE_OK)
            fail(QStringLiteral("%1: %2").arg(m_current, archiveWriteError("archive_write_data_block", w)));
        break;
    case Task::Finish:
        if (archive_write_finish_entry(w) != ARCHIVE_OK)
            fail(QStringLiteral("%1: %2").arg(m_current, archiveWriteError("archive_write_finish_entry", w)));
        break;
    case Task::Close:
        break;
    }
}

void TreeWriter::fail(const QString &error)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_error.isEmpty())
            return;
        m_error = error;
    }
    m_failed.store(true, std::memory_order_release);
}

} // namespace Archive
