#include "treewriter.h"

#include "scratchdir.h"

#include <QFile>

#include <mutex>

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
        const std::lock_guard<std::mutex> lock(umaskLock());
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
    return QString();
}

void TreeWriter::header(Entry entry, const QString &name, bool spread)
{
    if (failed())
        return;
    m_current = name;
    int r = ARCHIVE_OK;
    {
        const std::lock_guard<std::mutex> lock(umaskLock());
        r = archive_write_header(m_writer.get(), entry.get());
    }
    if (r != ARCHIVE_OK)
        fail("archive_write_header");
    else if (spread)
        placeTreeApart(QFile::decodeName(archive_entry_pathname(entry.get())));
}

void TreeWriter::data(const void *block, size_t size, la_int64_t offset)
{
    if (!failed() && archive_write_data_block(m_writer.get(), block, size, offset) != ARCHIVE_OK)
        fail("archive_write_data_block");
}

void TreeWriter::finishEntry()
{
    if (!failed() && archive_write_finish_entry(m_writer.get()) != ARCHIVE_OK)
        fail("archive_write_finish_entry");
}

QString TreeWriter::close()
{
    if (m_writer && !failed() && archive_write_close(m_writer.get()) != ARCHIVE_OK)
        m_error = archiveWriteError("archive_write_close", m_writer.get());
    m_writer.reset();
    return m_error;
}

void TreeWriter::fail(const char *call)
{
    m_error = m_current.isEmpty() ? archiveWriteError(call, m_writer.get())
                                  : QStringLiteral("%1: %2").arg(m_current, archiveWriteError(call, m_writer.get()));
}

} // namespace Archive
