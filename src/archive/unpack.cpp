// Loading: source file -> gzip decoder (when the content is gzip) -> one tar
// entry loop with the entry guard -> one or more tree writers.

#include "projectarchive.h"

#include "archivehandles.h"
#include "gzipstream.h"
#include "logging.h"
#include "posixfile.h"
#include "scratchdir.h"
#include "treeremoval.h"
#include "treewriter.h"
#include "unpackbudget.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace Archive {

namespace {

constexpr int ReadSize = 64 * 1024;

// The archive file as the tar reader's byte source: decoded on the way when
// its content is gzip, whatever its name.
class ArchiveSource
{
public:
    QString open(const QString &path)
    {
        m_fd.reset(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!m_fd.valid() || ::fstat(m_fd.get(), &st) != 0)
            return errnoText(errno);
        if (S_ISDIR(st.st_mode))
            return QStringLiteral("is a directory");
        m_size = st.st_size;
        unsigned char magic[2] = {};
        const ssize_t n = ::pread(m_fd.get(), magic, 2, 0);
        if (n < 0)
            return errnoText(errno);
        if (n == 0)
            return QStringLiteral("empty file");
        if (n == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
            m_inflater = std::make_unique<GzipStream::Inflater>();
            m_inflater->start(m_fd.get());
        }
        return QString();
    }

    GzipStream::Inflater *inflater() const { return m_inflater.get(); }
    qint64 size() const { return m_size; }
    qint64 consumed() const { return m_inflater ? m_inflater->consumed() : m_consumed; }
    // Bytes of the tar read so far (decoded, for a gzip file).
    qint64 tarBytes() const { return m_tarBytes; }

    // After the tar's end: the rest of the gzip layer is read and checked
    // too, as unpacking it to a file would.
    QString finish()
    {
        if (!m_inflater)
            return QString();
        while (!m_inflater->next().isEmpty()) {
        }
        return m_inflater->error();
    }
    // Why reading stopped early, if the gzip layer says so.
    QString readError() const { return m_inflater ? m_inflater->error() : m_readError; }

    static la_ssize_t read(archive *, void *client, const void **buffer)
    {
        auto *self = static_cast<ArchiveSource *>(client);
        if (self->m_inflater) {
            const QByteArray &block = self->m_inflater->next();
            self->m_tarBytes += block.size();
            *buffer = block.constData();
            return block.size();
        }
        const qint64 n = readSome(self->m_fd.get(), self->m_buffer.data(), self->m_buffer.size());
        if (n > 0)
            self->m_tarBytes += n;
        if (n < 0) {
            self->m_readError = errnoText(errno);
            return -1;
        }
        self->m_consumed += n;
        *buffer = self->m_buffer.constData();
        return la_ssize_t(n);
    }

private:
    Fd m_fd;
    std::unique_ptr<GzipStream::Inflater> m_inflater;
    QByteArray m_buffer = QByteArray(ReadSize, Qt::Uninitialized);
    qint64 m_size = 0;
    qint64 m_consumed = 0;
    qint64 m_tarBytes = 0;
    QString m_readError;
};

int componentCount(const QByteArray &name)
{
    int count = 0;
    for (const QByteArray &part : name.split('/')) {
        if (!part.isEmpty() && part != ".")
            ++count;
    }
    return count;
}

// The one extract loop: every entry is guarded and handed to every writer.
class EntryLoop
{
public:
    EntryLoop(ArchiveSource &source, const QStringList &destinations, const NameMapper &mapper, JobControl *control)
        : m_source(source), m_mapper(mapper), m_control(control), m_budget(destinations.first())
    {
        for (const QString &destination : destinations) {
            m_destinations.append(QFile::encodeName(destination));
            m_writers.push_back(std::make_unique<TreeWriter>());
        }
    }

    QString run(archive *reader)
    {
        for (auto &writer : m_writers) {
            if (const QString error = writer->open(); !error.isEmpty())
                return error;
        }
        const QString error = entries(reader);
        if (error.isEmpty() && m_control)
            m_control->report(JobControl::Phase::WritingBackup, m_source.consumed(), m_source.size());
        QString closing;
        for (auto &writer : m_writers) {
            const QString e = writer->close();
            if (closing.isEmpty())
                closing = e;
        }
        return !error.isEmpty() ? error : closing;
    }

private:
    QString entries(archive *reader)
    {
        for (;;) {
            if (const QString stop = interruption(); !stop.isEmpty())
                return stop;
            archive_entry *entry = nullptr;
            const int r = archive_read_next_header(reader, &entry);
            if (r == ARCHIVE_EOF)
                return QString();
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) { // a damaged header gives ARCHIVE_RETRY
                const QString sourceError = m_source.readError();
                return !sourceError.isEmpty() ? sourceError : archiveError("archive_read_next_header", reader);
            }
            if (const QString error = handOver(reader, entry); !error.isEmpty())
                return error;
            if (m_control)
                m_control->report(JobControl::Phase::Unpacking, m_source.consumed(), m_source.size());
        }
    }

    QString handOver(archive *reader, archive_entry *entry)
    {
        const QByteArray rawName(archive_entry_pathname(entry));
        const QString name = shown(rawName);
        std::vector<Entry> copies;
        for (int i = 0; i < m_destinations.size(); ++i) {
            copies.emplace_back(archive_entry_clone(entry));
            if (!copies.back())
                return QStringLiteral("out of memory");
            bool skip = false;
            const QString refusal = guardEntry(copies.back().get(), m_destinations.at(i), m_mapper, &skip);
            if (!refusal.isEmpty())
                return refusal;
            if (skip)
                return QString();
        }
        const bool withData = archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry);
        for (int i = 0; i < m_destinations.size(); ++i) {
            const QString overBudget = m_budget.takeEntry(withData ? archive_entry_size(entry) : 0);
            if (!overBudget.isEmpty())
                return QStringLiteral("%1: %2").arg(name, overBudget);
        }
        // Directories near the top (down to the family directories) spread
        // what is made in them; below, a device's files stay together.
        const bool spread = archive_entry_filetype(entry) == AE_IFDIR && !archive_entry_hardlink(entry)
                            && componentCount(rawName) <= 3;
        for (size_t i = 0; i < m_writers.size(); ++i)
            m_writers[i]->header(std::move(copies[i]), name, spread);
        if (const QString error = copyData(reader, name); !error.isEmpty())
            return error;
        for (auto &writer : m_writers)
            writer->finishEntry();
        return QString();
    }

    QString copyData(archive *reader, const QString &name)
    {
        for (;;) {
            if (const QString stop = interruption(); !stop.isEmpty())
                return stop;
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(reader, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                return QString();
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
                const QString sourceError = m_source.readError();
                return QStringLiteral("%1: %2").arg(
                    name, !sourceError.isEmpty() ? sourceError : archiveError("archive_read_data_block", reader));
            }
            for (auto &writer : m_writers)
                writer->data(block, size, offset);
        }
    }

    // A cancel request, or the first error of a tree writer.
    QString interruption() const
    {
        if (m_control && m_control->isCancelled())
            return QStringLiteral("cancelled");
        for (const auto &writer : m_writers) {
            if (writer->failed())
                return writer->error();
        }
        return QString();
    }

    ArchiveSource &m_source;
    const NameMapper &m_mapper;
    JobControl *m_control = nullptr;
    QByteArrayList m_destinations;
    std::vector<std::unique_ptr<TreeWriter>> m_writers;
    UnpackBudget m_budget;
};

QString unpackTarInto(ArchiveSource &source, const QStringList &destinations, const NameMapper &mapper,
                      JobControl *control)
{
    ReadArchive reader(archive_read_new());
    if (!reader)
        return QStringLiteral("out of memory");
    if (archive_read_support_format_tar(reader.get()) != ARCHIVE_OK)
        return archiveError("archive_read_support_format_tar", reader.get());
    if (archive_read_open(reader.get(), &source, nullptr, &ArchiveSource::read, nullptr) != ARCHIVE_OK) {
        const QString sourceError = source.readError();
        if (!sourceError.isEmpty())
            return sourceError;
        // The format is told from the first bytes: this is what users meet
        // when they open a file that is no project archive at all.
        return QStringLiteral("%1 (%2)").arg(source.inflater() ? QStringLiteral("the gzip data holds no tar archive")
                                                               : QStringLiteral("neither a tar archive nor a gzip file"),
                                             archiveError("archive_read_open", reader.get()));
    }
    EntryLoop loop(source, destinations, mapper, control);
    const QString error = loop.run(reader.get());
    if (!error.isEmpty())
        return error;
    return source.finish();
}

// The name the unpacked gzip member gets when its header has none.
QString fallbackMemberName(const QString &archivePath)
{
    QString name = QFileInfo(archivePath).fileName();
    if (name.endsWith(QLatin1String(".tgz"), Qt::CaseInsensitive))
        return name.chopped(4) + QLatin1String(".tar");
    if (name.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive))
        name.chop(3);
    if (!name.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
        name += QLatin1String(".tar");
    return name;
}

// The gzip layer's one file, named by the member's original name.
QString unpackGzipLayer(GzipStream::Inflater &inflater, const QString &archivePath, const QString &destination,
                        UnpackBudget &budget)
{
    if (!inflater.waitForHeader())
        return inflater.error();
    QByteArray name = QFile::encodeName(fallbackMemberName(archivePath));
    if (inflater.hasName()) {
        const QByteArray original = inflater.name();
        const QByteArray base = original.mid(original.lastIndexOf('/') + 1);
        if (base.isEmpty() || base == "." || base == "..")
            return QStringLiteral("unusable original name \"%1\" in the gzip header").arg(shown(original));
        // A name the local encoding cannot show could not be listed again.
        if (QFile::encodeName(QFile::decodeName(base)) == base)
            name = base;
    }
    const QByteArray path = QFile::encodeName(destination) + '/' + name;
    Fd member(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!member.valid())
        return QStringLiteral("%1: %2").arg(shown(path), errnoText(errno));
    for (QByteArray block = inflater.next(); !block.isEmpty(); block = inflater.next()) {
        if (const QString overBudget = budget.takeBytes(block.size()); !overBudget.isEmpty())
            return overBudget;
        if (const QString error = writeAll(member.get(), block.constData(), block.size()); !error.isEmpty())
            return QStringLiteral("%1: %2").arg(shown(path), error);
    }
    if (!inflater.error().isEmpty())
        return inflater.error();
    if (const QString error = member.close(); !error.isEmpty())
        return QStringLiteral("%1: %2").arg(shown(path), error);
    return QString();
}

} // namespace

Result unpackTrees(const QString &archivePath, const QStringList &destinations, const NameMapper &mapper,
                   JobControl *control, qint64 *tarBytes)
{
    ArchiveSource source;
    QString error = destinations.isEmpty() ? QStringLiteral("nowhere to unpack to") : source.open(archivePath);
    if (error.isEmpty())
        error = unpackTarInto(source, destinations, mapper, control);
    if (tarBytes)
        *tarBytes = source.tarBytes();
    if (error.isEmpty())
        return Result::success();
    const QString reason = QStringLiteral("Cannot unpack %1: %2").arg(archivePath, error);
    qCDebug(lcArchive).noquote() << reason;
    return Result::failure(reason);
}

QString extractArchive(const QString &archivePath, const NameMapper &mapper)
{
    const QString destination = newTemporaryDirectory();
    if (destination.isEmpty())
        return QString();
    ArchiveSource source;
    QString error = source.open(archivePath);
    if (error.isEmpty() && source.inflater()) {
        UnpackBudget budget(destination);
        error = unpackGzipLayer(*source.inflater(), archivePath, destination, budget);
    } else if (error.isEmpty()) {
        error = unpackTarInto(source, {destination}, mapper, nullptr);
    }
    if (error.isEmpty())
        return destination;
    qCDebug(lcArchive).noquote() << QStringLiteral("Cannot unpack %1: %2").arg(archivePath, error);
    removeDirectoryTree(destination);
    return QString();
}

} // namespace Archive
