// SPDX-License-Identifier: GPL-3.0-or-later
// Storing: the opened archive file -> gzip decoder (when it is gzip) -> our
// tar walk, which copies every entry and edits a few -> parallel deflater
// (unless the output is a plain tar) -> the output file.

#include "projectarchive.h"

#include "archivesource.h"
#include "logging.h"

#include <memory>
#include <thread>

namespace Archive {

namespace {

// The stored tar on its way to the output file: through the parallel
// deflater, or, for a plain tar, gathered into large writes.
class OutputStream
{
public:
    explicit OutputStream(const ArchiveOutput &output) : m_fd(output.fd)
    {
        if (output.gzip)
            m_deflater = std::make_unique<GzipStream::ParallelDeflater>(
                output.fd, output.gzipMember, output.gzipTime,
                qMin(int(std::thread::hardware_concurrency()), GzipStream::MaxDeflateThreads));
        else
            m_buffer.reserve(BufferSize);
    }

    bool gzip() const { return m_deflater != nullptr; }

    bool write(const char *data, qint64 size)
    {
        if (m_deflater)
            return m_deflater->write(data, size);
        if (!m_error.isEmpty() || (m_buffer.size() + size > BufferSize && !flush()))
            return false;
        if (size >= BufferSize)
            return put(data, size);
        m_buffer.append(data, int(size));
        return true;
    }

    bool finish() { return m_deflater ? m_deflater->finish() : flush(); }
    QString error() const { return m_deflater ? m_deflater->error() : m_error; }

private:
    static constexpr int BufferSize = 1024 * 1024;

    bool flush()
    {
        const bool written = put(m_buffer.constData(), m_buffer.size());
        m_buffer.resize(0); // keeps the reserved capacity
        return written;
    }

    bool put(const char *data, qint64 size)
    {
        if (const Result written = writeAll(m_fd, data, size); !written)
            m_error = written.reason();
        return m_error.isEmpty();
    }

    int m_fd = -1;
    std::unique_ptr<GzipStream::ParallelDeflater> m_deflater;
    QByteArray m_buffer;
    QString m_error;
};

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
        , m_output(output)
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
        if (!m_output.finish())
            return Result::failure(m_output.error());
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
            m_control->report(m_output.gzip() ? JobControl::Phase::Compressing : JobControl::Phase::Writing, m_written,
                              qMax(m_written, m_total));
        return m_output.write(data, size);
    }

    // What stopped the walk: a cancel, the output, or an archive that is no
    // longer what was opened.
    Result failure() const
    {
        if (m_cancelled)
            return Result::cancelled();
        if (!m_output.error().isEmpty())
            return Result::failure(m_output.error());
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
    OutputStream m_output;
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
