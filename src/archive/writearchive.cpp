// Storing: the opened archive file -> gzip decoder (when it is gzip) -> our
// tar walk, which copies every entry and edits a few -> parallel deflater
// -> the output file.

#include "projectarchive.h"

#include "archivesource.h"
#include "logging.h"

#include <thread>

namespace Archive {

namespace {

bool samePlace(const IndexEntry &indexed, const TarStream::EntryInfo &entry)
{
    return indexed.offset == entry.offset && indexed.dataOffset == entry.dataOffset && indexed.end == entry.end
           && indexed.headerCrc == entry.headerCrc;
}

class ArchiveCopy
{
public:
    ArchiveCopy(const OpenedArchive &archive, const EntryEditor &editor, const ArchiveOutput &output,
                JobControl *control)
        : m_archive(archive)
        , m_editor(editor)
        , m_control(control)
        , m_deflater(output.fd, output.gzipMember, output.gzipTime,
                     qMin(int(std::thread::hardware_concurrency()), GzipStream::MaxDeflateThreads))
        , m_walker([this](const TarStream::EntryInfo &e, TarStream::EntryEdit *edit, QString *error) {
                       return decide(e, edit, error);
                   },
                   [this](const char *data, qint64 size) { return deliver(data, size); })
    {
    }

    Result run()
    {
        ArchiveSource source;
        if (const Result opened = source.open(m_archive.fd.get()); !opened)
            return opened;
        m_total = m_archive.tarBytes;
        for (;;) {
            const QByteArray block = source.next();
            if (block.isEmpty())
                break;
            if (!m_walker.write(block.constData(), block.size()))
                return failure();
        }
        if (!source.error().isEmpty())
            return changed(source.error());
        if (!m_walker.finish())
            return failure();
        if (size_t(m_index) != m_archive.entries.size() || m_walker.endOffset() != m_archive.tailOffset)
            return changed(QStringLiteral("its entries are not those read"));
        if (!m_deflater.finish())
            return Result::failure(m_deflater.error());
        return Result::success();
    }

private:
    bool decide(const TarStream::EntryInfo &entry, TarStream::EntryEdit *edit, QString *error)
    {
        if (m_control && m_control->isCancelled()) {
            m_cancelled = true;
            *error = QStringLiteral("stopped by a cancel");
            return false;
        }
        if (size_t(m_index) >= m_archive.entries.size() || !samePlace(m_archive.entries[size_t(m_index)], entry)) {
            *error = m_changed = QStringLiteral("the entry at offset %1 is not the one read").arg(entry.offset);
            return false;
        }
        *edit = m_editor(m_index, entry);
        ++m_index;
        return true;
    }

    bool deliver(const char *data, qint64 size)
    {
        if (m_control && m_control->isCancelled()) {
            m_cancelled = true;
            return false;
        }
        m_written += size;
        if (m_control)
            m_control->report(JobControl::Phase::Compressing, m_written, qMax(m_written, m_total));
        return m_deflater.write(data, size);
    }

    // What stopped the walk: a cancel, the output, or an archive that is no
    // longer what was opened.
    Result failure() const
    {
        if (m_cancelled)
            return Result::cancelled();
        if (!m_deflater.error().isEmpty())
            return Result::failure(m_deflater.error());
        return changed(m_changed.isEmpty() ? m_walker.error() : m_changed);
    }

    Result changed(const QString &detail) const
    {
        return Result::failure(QStringLiteral("%1 has changed since it was opened; open it again (%2)")
                                   .arg(m_archive.path, detail));
    }

    const OpenedArchive &m_archive;
    const EntryEditor &m_editor;
    JobControl *m_control = nullptr;
    GzipStream::ParallelDeflater m_deflater;
    TarStream::Walker m_walker;
    int m_index = 0;
    qint64 m_written = 0;
    qint64 m_total = 0;
    bool m_cancelled = false;
    QString m_changed;
};

} // namespace

Result writeArchive(const OpenedArchive &archive, const EntryEditor &editor, const ArchiveOutput &output,
                    JobControl *control)
{
    ArchiveCopy copy(archive, editor, output, control);
    const Result result = copy.run();
    if (!result)
        qCDebug(lcArchive).noquote() << QStringLiteral("Copying %1 stopped: %2").arg(archive.path, result.reason());
    return result;
}

} // namespace Archive
