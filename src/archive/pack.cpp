// Storing: one walk of a tree (with a store's edits laid over it) -> tar
// writer -> name patching as the tar streams -> gzip -> file.

#include "projectarchive.h"

#include "archivehandles.h"
#include "gzipstream.h"
#include "logging.h"
#include "posixfile.h"
#include "tarpatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Archive {

namespace {

constexpr int ChunkSize = 64 * 1024;

// The walk's state: the writer, the output to pass over, the first name of
// every file with several links (the others become hard links to it).
struct Walk
{
    archive *writer = nullptr;
    const TreeOverlay *overlay = nullptr;
    JobControl *control = nullptr;
    dev_t outputDevice = 0;
    ino_t outputInode = 0;
    std::map<std::pair<dev_t, ino_t>, QByteArray> firstLinkNames;
};

QString writeFileData(archive *writer, const QByteArray &path, qint64 size)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return errnoText(errno);
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = readSome(fd.get(), buffer.data(), buffer.size());
        if (n < 0)
            return errnoText(errno);
        if (n == 0)
            break;
        total += n;
        if (total > size)
            return QStringLiteral("file grew while it was packed");
        if (archive_write_data(writer, buffer.constData(), size_t(n)) != n)
            return archiveWriteError("archive_write_data", writer);
    }
    if (total != size)
        return QStringLiteral("file shrank while it was packed");
    return QString();
}

// Fills the entry from the file's status; *withData when its data follows.
QString describeEntry(Walk &walk, archive_entry *entry, const QByteArray &path, const QByteArray &name,
                      const struct stat &st, bool replaced, bool *withData)
{
    *withData = false;
    archive_entry_set_perm(entry, st.st_mode & 07777);
    archive_entry_set_mtime(entry, st.st_mtime, 0);
    archive_entry_set_uid(entry, 0);
    archive_entry_set_gid(entry, 0);
    if (S_ISDIR(st.st_mode)) {
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_pathname(entry, (name + '/').constData());
    } else if (S_ISLNK(st.st_mode)) {
        QByteArray target(int(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errnoText(errno);
        if (n >= target.size())
            return QStringLiteral("link target changed while it was packed");
        target.truncate(int(n));
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_pathname(entry, name.constData());
        archive_entry_set_symlink(entry, target.constData());
    } else if (S_ISREG(st.st_mode)) {
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_pathname(entry, name.constData());
        // A rewritten file stands alone, as a file saved anew would.
        const auto key = std::make_pair(st.st_dev, st.st_ino);
        const bool linked = st.st_nlink > 1 && !replaced;
        const auto first = linked ? walk.firstLinkNames.find(key) : walk.firstLinkNames.end();
        if (first != walk.firstLinkNames.end()) {
            archive_entry_set_hardlink(entry, first->second.constData());
            archive_entry_set_size(entry, 0);
        } else {
            if (linked)
                walk.firstLinkNames.emplace(key, name);
            archive_entry_set_size(entry, st.st_size);
            *withData = true;
        }
    } else {
        return QStringLiteral("neither a file, a directory nor a symbolic link");
    }
    return QString();
}

QString packEntry(Walk &walk, const QByteArray &path, const QByteArray &name, const struct stat &st,
                  const QByteArray *contents)
{
    Entry entry(archive_entry_new());
    if (!entry)
        return QStringLiteral("out of memory");
    struct stat described = st;
    if (contents)
        described.st_size = contents->size();
    bool withData = false;
    if (const QString error = describeEntry(walk, entry.get(), path, name, described, contents, &withData);
        !error.isEmpty())
        return error;
    // A warning means the name could not be converted to UTF-8 for a pax
    // record; libarchive then stores it byte for byte, which is what we want.
    if (archive_write_header(walk.writer, entry.get()) < ARCHIVE_WARN)
        return archiveWriteError("archive_write_header", walk.writer);
    if (withData && contents) {
        if (!contents->isEmpty()
            && archive_write_data(walk.writer, contents->constData(), size_t(contents->size())) != contents->size())
            return archiveWriteError("archive_write_data", walk.writer);
    } else if (withData) {
        if (const QString error = writeFileData(walk.writer, path, st.st_size); !error.isEmpty())
            return error;
    }
    if (archive_write_finish_entry(walk.writer) != ARCHIVE_OK)
        return archiveWriteError("archive_write_finish_entry", walk.writer);
    return QString();
}

// Packs the contents of one directory: entries sorted by the names they
// will have, each directory followed at once by its own contents.
QString packDirectory(Walk &walk, const QByteArray &path, const QByteArray &relative, const QByteArray &prefix)
{
    std::vector<std::string> onDisk;
    if (const QString error = listDirectory(path, &onDisk); !error.isEmpty())
        return error;
    std::vector<std::pair<std::string, std::string>> names; // name in the archive, name on the disk
    for (const std::string &name : onDisk) {
        const auto renamed = walk.overlay->renames.constFind(relative + name.c_str());
        names.emplace_back(renamed != walk.overlay->renames.cend() ? renamed->toStdString() : name, name);
    }
    std::sort(names.begin(), names.end());

    for (const auto &item : names) {
        if (walk.control && walk.control->isCancelled())
            return QStringLiteral("cancelled");
        const QByteArray childPath = path + '/' + item.second.c_str();
        const QByteArray childRelative = relative + item.second.c_str();
        const QByteArray childName = prefix + item.first.c_str();
        struct stat st {};
        if (::lstat(childPath.constData(), &st) != 0)
            return QStringLiteral("%1: %2").arg(shown(childPath), errnoText(errno));
        if (st.st_dev == walk.outputDevice && st.st_ino == walk.outputInode)
            continue; // the output lies inside the tree
        if (walk.overlay->touched.contains(childRelative))
            st.st_mtime = time_t(walk.overlay->now);
        const auto replaced = walk.overlay->files.constFind(childRelative);
        const QByteArray *contents = replaced != walk.overlay->files.cend() && S_ISREG(st.st_mode) ? &*replaced : nullptr;
        if (const QString error = packEntry(walk, childPath, childName, st, contents); !error.isEmpty())
            return QStringLiteral("%1: %2").arg(shown(childPath), error);
        if (S_ISDIR(st.st_mode)) {
            const QString inner = packDirectory(walk, childPath, childRelative + '/', childName + '/');
            if (!inner.isEmpty())
                return inner;
        }
    }
    return QString();
}

// Where the tar writer's bytes go: through the name patcher, then into the
// gzip stream or straight into the file.
class TarSink
{
public:
    TarSink(const NamePatches &patches, const PackOutput &output, JobControl *control)
        : m_output(output)
        , m_control(control)
        , m_patcher(patches, [this](const char *data, qint64 size) { return deliver(data, size); })
    {
        if (!output.gzipMember.isEmpty())
            m_deflater = std::make_unique<GzipStream::ParallelDeflater>(
                output.fd, output.gzipMember, output.gzipTime,
                qMin(int(std::thread::hardware_concurrency()), GzipStream::MaxDeflateThreads));
    }

    static la_ssize_t write(archive *, void *client, const void *buffer, size_t length)
    {
        auto *self = static_cast<TarSink *>(client);
        if (!self->m_patcher.write(static_cast<const char *>(buffer), qint64(length)))
            return -1;
        return la_ssize_t(length);
    }

    // The reason the output stopped, when it was the sink's.
    QString error() const
    {
        if (m_deflater && !m_deflater->error().isEmpty())
            return m_deflater->error();
        return !m_writeError.isEmpty() ? m_writeError : m_patcher.error();
    }

    QString finish()
    {
        if (m_control && m_control->isCancelled())
            return QStringLiteral("cancelled");
        if (!m_patcher.finish())
            return error();
        if (m_deflater && !m_deflater->finish())
            return m_deflater->error();
        return QString();
    }

    qint64 written() const { return m_written; }

private:
    bool deliver(const char *data, qint64 size)
    {
        if (m_control && m_control->isCancelled()) {
            m_writeError = QStringLiteral("cancelled");
            return false;
        }
        m_written += size;
        if (m_control)
            m_control->report(m_deflater ? JobControl::Phase::Compressing : JobControl::Phase::Packing, m_written,
                              qMax(m_written, m_output.expectedTarBytes));
        if (m_deflater)
            return m_deflater->write(data, size);
        m_writeError = writeAll(m_output.fd, data, size);
        return m_writeError.isEmpty();
    }

    PackOutput m_output;
    JobControl *m_control = nullptr;
    TarPatch::StreamPatcher m_patcher;
    std::unique_ptr<GzipStream::ParallelDeflater> m_deflater;
    QString m_writeError;
    qint64 m_written = 0;
};

QString writeTree(const QString &root, const TreeOverlay &overlay, const NamePatches &patches,
                  const PackOutput &output, JobControl *control)
{
    const QByteArray rootPath = QFile::encodeName(QDir::cleanPath(QFileInfo(root).absoluteFilePath()));
    struct stat rootStat {};
    if (::stat(rootPath.constData(), &rootStat) != 0)
        return QStringLiteral("%1: %2").arg(shown(rootPath), errnoText(errno));
    if (!S_ISDIR(rootStat.st_mode))
        return QStringLiteral("%1: not a directory").arg(shown(rootPath));
    struct stat outputStat {};
    if (::fstat(output.fd, &outputStat) != 0)
        return errnoText(errno);

    TarSink sink(patches, output, control);
    WriteArchive writer(archive_write_new());
    if (!writer)
        return QStringLiteral("out of memory");
    // As archive_write_open_fd does for a regular file: the last block is not padded.
    if (archive_write_set_format_pax_restricted(writer.get()) != ARCHIVE_OK
        || archive_write_set_bytes_in_last_block(writer.get(), 1) != ARCHIVE_OK
        || archive_write_open2(writer.get(), &sink, nullptr, &TarSink::write, nullptr, nullptr) != ARCHIVE_OK)
        return archiveWriteError("archive_write_open2", writer.get());

    Walk walk;
    walk.writer = writer.get();
    walk.overlay = &overlay;
    walk.control = control;
    walk.outputDevice = outputStat.st_dev;
    walk.outputInode = outputStat.st_ino;
    QString error = packDirectory(walk, rootPath, QByteArray(), QByteArray());
    if (error.isEmpty() && archive_write_close(writer.get()) != ARCHIVE_OK)
        error = archiveWriteError("archive_write_close", writer.get());
    if (!error.isEmpty()) {
        const QString reason = sink.error();
        return reason.isEmpty() ? error : reason;
    }
    return sink.finish();
}

// Writes an output afresh: an old file there goes first, and a failed write
// leaves no partial file behind, only a debug line with what and why.
bool writeFreshOutput(const QString &outputPath, const QString &what, const std::function<QString(int fd)> &write)
{
    QFile::remove(outputPath);
    Fd output(::open(QFile::encodeName(outputPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    QString error = output.valid() ? write(output.get()) : errnoText(errno);
    if (error.isEmpty())
        error = output.close();
    if (error.isEmpty())
        return true;
    qCDebug(lcArchive).noquote() << what + QStringLiteral(": ") + error;
    QFile::remove(outputPath);
    return false;
}

QString compressFile(const QString &tarPath, int outputFd)
{
    Fd input(::open(QFile::encodeName(tarPath).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!input.valid() || ::fstat(input.get(), &st) != 0)
        return QStringLiteral("%1: %2").arg(tarPath, errnoText(errno));
    GzipStream::ParallelDeflater deflater(outputFd, QFile::encodeName(QFileInfo(tarPath).fileName()),
                                          quint32(st.st_mtime),
                                          qMin(int(std::thread::hardware_concurrency()), GzipStream::MaxDeflateThreads));
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = readSome(input.get(), buffer.data(), buffer.size());
        if (n < 0)
            return QStringLiteral("%1: %2").arg(tarPath, errnoText(errno));
        if (n == 0)
            break;
        if (!deflater.write(buffer.constData(), n))
            return deflater.error();
    }
    return deflater.finish() ? QString() : deflater.error();
}

} // namespace

Result packTree(const QString &root, const TreeOverlay &overlay, const NamePatches &patches, const PackOutput &output,
                JobControl *control)
{
    const QString error = writeTree(root, overlay, patches, output, control);
    if (error.isEmpty())
        return Result::success();
    const QString reason = QStringLiteral("Cannot pack %1: %2").arg(root, error);
    qCDebug(lcArchive).noquote() << reason;
    return Result::failure(reason);
}

bool packTar(const QString &workingDirectory, const QString &tarPath)
{
    return writeFreshOutput(tarPath, QStringLiteral("Cannot pack %1 into %2").arg(workingDirectory, tarPath),
                            [&](int fd) {
                                PackOutput output;
                                output.fd = fd;
                                return writeTree(workingDirectory, TreeOverlay(), NamePatches(), output, nullptr);
                            });
}

bool packGzip(const QString &tarPath, const QString &gzipPath)
{
    const QFileInfo tarInfo(tarPath);
    const QFileInfo gzipInfo(gzipPath);
    if (tarInfo.exists() && gzipInfo.exists() && tarInfo.canonicalFilePath() == gzipInfo.canonicalFilePath()) {
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot compress %1 into itself").arg(tarPath);
        return false;
    }
    return writeFreshOutput(gzipPath, QStringLiteral("Cannot compress %1 into %2").arg(tarPath, gzipPath),
                            [&](int fd) { return compressFile(tarPath, fd); });
}

} // namespace Archive
