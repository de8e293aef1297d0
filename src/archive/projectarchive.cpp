#include "projectarchive.h"

#include "gzipstream.h"
#include "logging.h"
#include "tarpatch.h"
#include "treeremoval.h"
#include "unpackbudget.h"
#include "scratchdir.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int ChunkSize = 64 * 1024;

struct ReadArchiveFree
{
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteArchiveFree
{
    void operator()(archive *a) const
    {
        // libarchive 3.6 frees a writer whose output failed without closing
        // that output, and so loses its buffer; closing first frees it.
        archive_write_close(a);
        archive_write_free(a);
    }
};
struct EntryFree
{
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
struct DirClose
{
    void operator()(DIR *d) const { closedir(d); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveFree>;
using WriteArchive = std::unique_ptr<archive, WriteArchiveFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;
using Dir = std::unique_ptr<DIR, DirClose>;

// A POSIX file descriptor that is closed when it goes out of scope, unless
// closed explicitly first (which reports the result).
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

    // Writes all bytes; returns the system's reason on failure.
    QString writeAll(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("nothing written");
            data += n;
            size -= n;
        }
        return QString();
    }

private:
    int m_fd = -1;
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown libarchive error");
}

// For errors of writing to the disk, where the system's reason says most.
QString archiveWriteError(archive *a)
{
    const int error = archive_errno(a);
    return error > 0 ? QStringLiteral("%1 (%2)").arg(archiveError(a), errnoText(error)) : archiveError(a);
}

QString shown(const QByteArray &name)
{
    return QFile::decodeName(name);
}

// ---------------------------------------------------------------- entry names

// Splits a relative entry name into its components, dropping empty and "."
// components. Returns an error text for names that must not be written.
QString splitEntryName(const QByteArray &name, QByteArrayList *parts)
{
    parts->clear();
    if (name.isEmpty())
        return QStringLiteral("entry without a name");
    if (name.startsWith('/'))
        return QStringLiteral("absolute path");
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return QStringLiteral("path contains \"..\"");
        parts->append(part);
    }
    return QString();
}

// A symbolic link may only point into the extracted tree. Its target is
// checked by its text: leading ".." components climb real directories (the
// link's own parents are never links), and after the first named component no
// ".." may follow, because a named component may itself be a link whose
// parent is elsewhere.
QString symlinkTargetError(const QByteArrayList &linkParts, const QByteArray &target)
{
    if (target.isEmpty())
        return QStringLiteral("symbolic link without a target");
    if (target.startsWith('/'))
        return QStringLiteral("symbolic link to the absolute path %1").arg(shown(target));
    int depth = linkParts.size() - 1;
    bool descended = false;
    bool climbsAfterName = false;
    for (const QByteArray &part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            climbsAfterName = climbsAfterName || descended;
            if (--depth < 0)
                return QStringLiteral("symbolic link to %1 leaves the unpacked tree").arg(shown(target));
        } else {
            descended = true;
            ++depth;
        }
    }
    if (climbsAfterName)
        return QStringLiteral("symbolic link to %1 climbs through a named directory").arg(shown(target));
    return QString();
}

QByteArray joined(const QByteArray &root, const QByteArrayList &parts)
{
    return root + '/' + parts.join('/');
}

// Checks one tar entry and points its names at the destination directory.
// Returns an error text when the entry must not be written; sets *skip for
// entries that stand for the destination directory itself.
QString prepareEntry(archive_entry *entry, const QByteArray &destination, const Archive::NameMapper &mapper, bool *skip)
{
    *skip = false;
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray name = rawName ? QByteArray(rawName) : QByteArray();
    QByteArrayList parts;
    QString error = splitEntryName(name, &parts);
    if (!error.isEmpty())
        return QStringLiteral("%1: %2").arg(shown(name), error);

    const char *rawHardlink = archive_entry_hardlink(entry);
    const QByteArray hardlink = rawHardlink ? QByteArray(rawHardlink) : QByteArray();
    const char *rawSymlink = archive_entry_symlink(entry);
    const QByteArray symlink = rawSymlink ? QByteArray(rawSymlink) : QByteArray();
    const mode_t type = archive_entry_filetype(entry);

    if (parts.isEmpty()) {
        if (type == AE_IFDIR && !rawHardlink) {
            *skip = true;
            return QString();
        }
        return QStringLiteral("%1: names the destination directory itself").arg(shown(name));
    }
    if (mapper)
        mapper(&parts);

    if (rawHardlink) {
        QByteArrayList targetParts;
        error = splitEntryName(hardlink, &targetParts);
        if (error.isEmpty() && targetParts.isEmpty())
            error = QStringLiteral("names the destination directory");
        if (!error.isEmpty())
            return QStringLiteral("%1: hard link target %2: %3").arg(shown(name), shown(hardlink), error);
        if (mapper)
            mapper(&targetParts);
        archive_entry_set_hardlink(entry, joined(destination, targetParts).constData());
    } else {
        switch (type) {
        case AE_IFREG:
        case AE_IFDIR:
            break;
        case AE_IFLNK:
            error = symlinkTargetError(parts, symlink);
            if (!error.isEmpty())
                return QStringLiteral("%1: %2").arg(shown(name), error);
            break;
        case AE_IFCHR:
            return QStringLiteral("%1: character device").arg(shown(name));
        case AE_IFBLK:
            return QStringLiteral("%1: block device").arg(shown(name));
        case AE_IFIFO:
            return QStringLiteral("%1: FIFO").arg(shown(name));
        case AE_IFSOCK:
            return QStringLiteral("%1: socket").arg(shown(name));
        default:
            return QStringLiteral("%1: unknown entry type").arg(shown(name));
        }
    }

    // No set-id or sticky bits; the owner can always read and write what we
    // unpack, and enter and empty its directories, so the tree can be removed.
    if (type != AE_IFLNK) {
        mode_t perm = archive_entry_perm(entry) & 0777;
        perm |= type == AE_IFDIR ? 0700 : 0600;
        archive_entry_set_perm(entry, perm);
    }
    const QByteArray path = joined(destination, parts);
    // Longer paths cannot be opened, listed or removed by their name.
    if (path.size() >= PATH_MAX)
        return QStringLiteral("%1...: path too long").arg(shown(name.left(100)));
    archive_entry_set_pathname(entry, path.constData());
    return QString();
}

// ------------------------------------------------------------------ tar layer

QString copyEntryData(archive *reader, archive *writer)
{
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(reader, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            return QString();
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) // ARCHIVE_RETRY included
            return archiveError(reader);
        if (archive_write_data_block(writer, block, size, offset) != ARCHIVE_OK)
            return archiveWriteError(writer);
    }
}

QString unpackTar(int fd, const QByteArray &destination, const Archive::NameMapper &mapper, Archive::UnpackBudget &budget)
{
    ReadArchive reader(archive_read_new());
    WriteArchive writer(archive_write_disk_new());
    if (!reader || !writer)
        return QStringLiteral("out of memory");
    if (archive_read_support_format_tar(reader.get()) != ARCHIVE_OK)
        return archiveError(reader.get());
    // Joined absolute names are checked by us before they reach the writer,
    // so the absolute-path guard stays off; the others stay on as a second line.
    // Owners, ACLs, extended attributes and file flags are not restored.
    if (archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM
                                                         | ARCHIVE_EXTRACT_SECURE_NODOTDOT
                                                         | ARCHIVE_EXTRACT_SECURE_SYMLINKS)
        != ARCHIVE_OK)
        return archiveError(writer.get());
    if (archive_read_open_fd(reader.get(), fd, ChunkSize) != ARCHIVE_OK)
        return archiveError(reader.get());

    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) // a damaged header gives ARCHIVE_RETRY
            return archiveError(reader.get());
        const char *rawName = archive_entry_pathname(entry);
        const QString name = rawName ? shown(rawName) : QString();
        bool skip = false;
        const QString refusal = prepareEntry(entry, destination, mapper, &skip);
        if (!refusal.isEmpty())
            return refusal;
        if (skip)
            continue;
        const bool withData = archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry);
        const QString overBudget = budget.takeEntry(withData ? archive_entry_size(entry) : 0);
        if (!overBudget.isEmpty())
            return QStringLiteral("%1: %2").arg(name, overBudget);
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
            return QStringLiteral("%1: %2").arg(name, archiveWriteError(writer.get()));
        const QString error = copyEntryData(reader.get(), writer.get());
        if (!error.isEmpty())
            return QStringLiteral("%1: %2").arg(name, error);
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return QStringLiteral("%1: %2").arg(name, archiveWriteError(writer.get()));
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return archiveWriteError(writer.get());
    return QString();
}

// ----------------------------------------------------------------- gzip layer

struct InflateEnd
{
    void operator()(z_stream *zs) const { inflateEnd(zs); }
};

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

// The gzip layer is read with zlib rather than libarchive: zlib checks the
// member's CRC and length, libarchive's gzip filter does not.
QString unpackGzip(QFile &input, const QString &archivePath, const QString &destination,
                   Archive::UnpackBudget &budget)
{
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK)
        return QStringLiteral("cannot start zlib");
    std::unique_ptr<z_stream, InflateEnd> inflateGuard(&zs);

    QByteArray originalName(4097, '\0');
    gz_header header{};
    header.name = reinterpret_cast<Bytef *>(originalName.data());
    header.name_max = static_cast<uInt>(originalName.size());
    if (inflateGetHeader(&zs, &header) != Z_OK)
        return QStringLiteral("cannot read the gzip header");

    QByteArray in(ChunkSize, '\0');
    QByteArray out(ChunkSize, '\0');
    std::unique_ptr<Fd> member;
    QString memberPath;
    bool memberEnded = false;
    bool padding = false;

    for (;;) {
        if (zs.avail_in == 0) {
            const qint64 n = input.read(in.data(), in.size());
            if (n < 0)
                return input.errorString();
            if (n == 0)
                break;
            zs.next_in = reinterpret_cast<Bytef *>(in.data());
            zs.avail_in = static_cast<uInt>(n);
        }
        if (memberEnded) {
            // Another member follows, or zero bytes that pad the file.
            while (zs.avail_in > 0 && *zs.next_in == 0) {
                padding = true;
                ++zs.next_in;
                --zs.avail_in;
            }
            if (zs.avail_in == 0)
                continue;
            // Another member starts with the gzip magic; anything else is garbage.
            if (padding || *zs.next_in != 0x1f)
                return QStringLiteral("trailing garbage after the gzip data");
            if (inflateReset(&zs) != Z_OK)
                return QStringLiteral("cannot restart zlib");
            memberEnded = false;
        }
        do {
            zs.next_out = reinterpret_cast<Bytef *>(out.data());
            zs.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&zs, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR)
                return zs.msg ? QString::fromLatin1(zs.msg) : QStringLiteral("corrupt gzip data");
            if (!member && header.done == 1) {
                QByteArray name = QFile::encodeName(fallbackMemberName(archivePath));
                if (header.name) {
                    if (!memchr(originalName.constData(), '\0', originalName.size()))
                        return QStringLiteral("original name in the gzip header is too long");
                    QByteArray base(originalName.constData());
                    base = base.mid(base.lastIndexOf('/') + 1);
                    if (base.isEmpty() || base == "." || base == "..")
                        return QStringLiteral("unusable original name \"%1\" in the gzip header")
                            .arg(QFile::decodeName(originalName.constData()));
                    // A name the local encoding cannot show could not be listed again.
                    if (QFile::encodeName(QFile::decodeName(base)) == base)
                        name = base;
                }
                const QByteArray path = QFile::encodeName(destination) + '/' + name;
                memberPath = shown(path);
                member = std::make_unique<Fd>(::open(path.constData(),
                                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
                if (!member->valid())
                    return QStringLiteral("%1: %2").arg(memberPath, errnoText(errno));
            }
            const qint64 produced = out.size() - static_cast<qint64>(zs.avail_out);
            if (produced > 0 && !member)
                return QStringLiteral("gzip data before the end of its header");
            if (produced > 0) {
                const QString overBudget = budget.takeBytes(produced);
                if (!overBudget.isEmpty())
                    return overBudget;
                const QString error = member->writeAll(out.constData(), produced);
                if (!error.isEmpty())
                    return QStringLiteral("%1: %2").arg(memberPath, error);
            }
            if (r == Z_STREAM_END) {
                memberEnded = true;
                break;
            }
        } while (zs.avail_out == 0);
    }
    if (!memberEnded)
        return QStringLiteral("unexpected end of the gzip data");
    if (!member || !member->close())
        return QStringLiteral("%1: %2").arg(memberPath, errnoText(errno));
    return QString();
}

// ------------------------------------------------------------------- packing

struct PackState
{
    archive *writer = nullptr;
    dev_t outputDevice = 0;
    ino_t outputInode = 0;
    std::map<std::pair<dev_t, ino_t>, QByteArray> firstLinkNames;
};

QString writeFileData(archive *writer, const QByteArray &path, qint64 size)
{
    Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return errnoText(errno);
    QByteArray buffer(ChunkSize, '\0');
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoText(errno);
        }
        if (n == 0)
            break;
        total += n;
        if (total > size)
            return QStringLiteral("file grew while it was packed");
        if (archive_write_data(writer, buffer.constData(), static_cast<size_t>(n)) != n)
            return archiveWriteError(writer);
    }
    if (total != size)
        return QStringLiteral("file shrank while it was packed");
    return QString();
}

QString packEntry(PackState &state, const QByteArray &path, const QByteArray &name, const struct stat &st)
{
    Entry entry(archive_entry_new());
    if (!entry)
        return QStringLiteral("out of memory");
    archive_entry_set_perm(entry.get(), st.st_mode & 07777);
    archive_entry_set_mtime(entry.get(), st.st_mtime, 0);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    bool withData = false;

    if (S_ISDIR(st.st_mode)) {
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
        archive_entry_set_pathname(entry.get(), (name + '/').constData());
    } else if (S_ISLNK(st.st_mode)) {
        QByteArray target(static_cast<int>(st.st_size) + 1, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (n < 0)
            return errnoText(errno);
        if (n >= target.size())
            return QStringLiteral("link target changed while it was packed");
        target.truncate(static_cast<int>(n));
        archive_entry_set_filetype(entry.get(), AE_IFLNK);
        archive_entry_set_pathname(entry.get(), name.constData());
        archive_entry_set_symlink(entry.get(), target.constData());
    } else if (S_ISREG(st.st_mode)) {
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_pathname(entry.get(), name.constData());
        const auto key = std::make_pair(st.st_dev, st.st_ino);
        const auto first = st.st_nlink > 1 ? state.firstLinkNames.find(key) : state.firstLinkNames.end();
        if (first != state.firstLinkNames.end()) {
            archive_entry_set_hardlink(entry.get(), first->second.constData());
            archive_entry_set_size(entry.get(), 0);
        } else {
            if (st.st_nlink > 1)
                state.firstLinkNames.emplace(key, name);
            archive_entry_set_size(entry.get(), st.st_size);
            withData = true;
        }
    } else {
        return QStringLiteral("neither a file, a directory nor a symbolic link");
    }

    // A warning means the name could not be converted to UTF-8 for a pax
    // record; libarchive then stores it byte for byte, which is what we want.
    if (archive_write_header(state.writer, entry.get()) < ARCHIVE_WARN)
        return archiveWriteError(state.writer);
    if (withData) {
        const QString error = writeFileData(state.writer, path, st.st_size);
        if (!error.isEmpty())
            return error;
    }
    if (archive_write_finish_entry(state.writer) != ARCHIVE_OK)
        return archiveWriteError(state.writer);
    return QString();
}

// The names in a directory, without "." and "..", in the order read.
QString listDirectory(const QByteArray &path, std::vector<std::string> *names)
{
    Dir dir(::opendir(path.constData()));
    if (!dir)
        return QStringLiteral("%1: %2").arg(shown(path), errnoText(errno));
    for (;;) {
        errno = 0;
        const dirent *item = ::readdir(dir.get());
        if (!item)
            return errno != 0 ? QStringLiteral("%1: %2").arg(shown(path), errnoText(errno)) : QString();
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names->emplace_back(item->d_name);
    }
}

// Packs the contents of one directory: names sorted byte-wise, each
// directory followed at once by its own contents.
QString packDirectory(PackState &state, const QByteArray &path, const QByteArray &prefix)
{
    std::vector<std::string> names;
    if (const QString error = listDirectory(path, &names); !error.isEmpty())
        return error;
    std::sort(names.begin(), names.end());

    for (const std::string &item : names) {
        const QByteArray childPath = path + '/' + item.c_str();
        const QByteArray childName = prefix + item.c_str();
        struct stat st {};
        if (::lstat(childPath.constData(), &st) != 0)
            return QStringLiteral("%1: %2").arg(shown(childPath), errnoText(errno));
        if (st.st_dev == state.outputDevice && st.st_ino == state.outputInode)
            continue; // the tar being written lies inside the tree
        const QString error = packEntry(state, childPath, childName, st);
        if (!error.isEmpty())
            return QStringLiteral("%1: %2").arg(shown(childPath), error);
        if (S_ISDIR(st.st_mode)) {
            const QString inner = packDirectory(state, childPath, childName + '/');
            if (!inner.isEmpty())
                return inner;
        }
    }
    return QString();
}

// Writes an output afresh: an old file there goes first, and a failed write
// leaves no partial file behind, only a debug line with what and why.
bool writeFreshOutput(const QString &outputPath, const QString &what, const std::function<QString()> &write)
{
    QFile::remove(outputPath);
    const QString error = write();
    if (error.isEmpty())
        return true;
    qCDebug(lcArchive).noquote() << what + QStringLiteral(": ") + error;
    QFile::remove(outputPath);
    return false;
}

// A tree to pack and the new file it goes into; the output's device and inode
// let the packing pass over the output should it lie inside the tree.
struct PackTarget
{
    QByteArray root;
    Fd output{-1};
    struct stat outputStat {};
};

QString openPackTarget(const QString &workingDirectory, const QString &outputPath, PackTarget &target)
{
    target.root = QFile::encodeName(QDir::cleanPath(QFileInfo(workingDirectory).absoluteFilePath()));
    struct stat rootStat {};
    if (::stat(target.root.constData(), &rootStat) != 0)
        return QStringLiteral("%1: %2").arg(shown(target.root), errnoText(errno));
    if (!S_ISDIR(rootStat.st_mode))
        return QStringLiteral("%1: not a directory").arg(shown(target.root));
    target.output.reset(::open(QFile::encodeName(outputPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!target.output.valid() || ::fstat(target.output.get(), &target.outputStat) != 0)
        return errnoText(errno);
    return QString();
}

QString writeTar(const QString &workingDirectory, const QString &tarPath)
{
    PackTarget target;
    if (const QString error = openPackTarget(workingDirectory, tarPath, target); !error.isEmpty())
        return error;
    const QByteArray &root = target.root;
    Fd &output = target.output;
    const struct stat &outputStat = target.outputStat;

    WriteArchive writer(archive_write_new());
    if (!writer)
        return QStringLiteral("out of memory");
    if (archive_write_set_format_pax_restricted(writer.get()) != ARCHIVE_OK
        || archive_write_open_fd(writer.get(), output.get()) != ARCHIVE_OK)
        return archiveWriteError(writer.get());

    PackState state;
    state.writer = writer.get();
    state.outputDevice = outputStat.st_dev;
    state.outputInode = outputStat.st_ino;
    const QString error = packDirectory(state, root, QByteArray());
    if (!error.isEmpty())
        return error;
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return archiveWriteError(writer.get());
    if (!output.close())
        return errnoText(errno);
    return QString();
}

struct DeflateEnd
{
    void operator()(z_stream *zs) const { deflateEnd(zs); }
};

QString writeGzip(const QString &tarPath, const QString &gzipPath)
{
    QFile input(tarPath);
    if (!input.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(tarPath, input.errorString());
    Fd output(::open(QFile::encodeName(gzipPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output.valid())
        return errnoText(errno);

    z_stream zs{};
    if (deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QStringLiteral("cannot start zlib");
    std::unique_ptr<z_stream, DeflateEnd> deflateGuard(&zs);

    QByteArray originalName = QFile::encodeName(QFileInfo(tarPath).fileName());
    gz_header header{};
    header.name = reinterpret_cast<Bytef *>(originalName.data()); // NUL-terminated by QByteArray
    header.time = static_cast<uLong>(QFileInfo(input).lastModified().toSecsSinceEpoch());
    header.os = 3; // Unix
    if (deflateSetHeader(&zs, &header) != Z_OK)
        return QStringLiteral("cannot set the gzip header");

    QByteArray in(ChunkSize, '\0');
    QByteArray out(ChunkSize, '\0');
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const qint64 n = input.read(in.data(), in.size());
        if (n < 0)
            return QStringLiteral("%1: %2").arg(tarPath, input.errorString());
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = reinterpret_cast<Bytef *>(in.data());
        zs.avail_in = static_cast<uInt>(n);
        do {
            zs.next_out = reinterpret_cast<Bytef *>(out.data());
            zs.avail_out = static_cast<uInt>(out.size());
            if (deflate(&zs, flush) == Z_STREAM_ERROR)
                return QStringLiteral("zlib failed");
            const qint64 produced = out.size() - static_cast<qint64>(zs.avail_out);
            const QString error = output.writeAll(out.constData(), produced);
            if (!error.isEmpty())
                return error;
        } while (zs.avail_out == 0);
    }
    if (!output.close())
        return errnoText(errno);
    return QString();
}

} // namespace

namespace Archive {

QString extractArchive(const QString &archivePath, const NameMapper &mapper)
{
    const QString destination = newTemporaryDirectory();
    if (destination.isEmpty())
        return QString();

    QString error;
    QFile input(archivePath);
    Archive::UnpackBudget budget(destination);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = input.errorString();
    } else {
        const QByteArray magic = input.read(2);
        if (magic.isEmpty())
            error = input.error() == QFileDevice::NoError ? QStringLiteral("empty file") : input.errorString();
        else if (!input.seek(0))
            error = input.errorString();
        else if (magic == QByteArray("\x1f\x8b", 2))
            error = unpackGzip(input, archivePath, destination, budget);
        else
            error = unpackTar(input.handle(), QFile::encodeName(destination), mapper, budget);
    }
    if (error.isEmpty())
        return destination;

    qCDebug(lcArchive).noquote() << QStringLiteral("Cannot unpack %1: %2").arg(archivePath, error);
    removeDirectoryTree(destination);
    return QString();
}

bool packTar(const QString &workingDirectory, const QString &tarPath)
{
    return writeFreshOutput(tarPath, QStringLiteral("Cannot pack %1 into %2").arg(workingDirectory, tarPath),
                            [&] { return writeTar(workingDirectory, tarPath); });
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
                            [&] { return writeGzip(tarPath, gzipPath); });
}

} // namespace Archive

// ---------------------------------------------------------- one-pass forms

namespace {

WriteArchive newDiskWriter(QString *error)
{
    WriteArchive writer(archive_write_disk_new());
    if (!writer) {
        *error = QStringLiteral("out of memory");
        return writer;
    }
    // The same options as unpackTar's.
    if (archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM
                                                         | ARCHIVE_EXTRACT_SECURE_NODOTDOT
                                                         | ARCHIVE_EXTRACT_SECURE_SYMLINKS)
        != ARCHIVE_OK) {
        *error = archiveError(writer.get());
        writer.reset();
    }
    return writer;
}

int componentCount(const QString &name)
{
    int count = 0;
    for (const QStringRef &part : name.splitRef(QLatin1Char('/'))) {
        if (!part.isEmpty() && part != QLatin1String("."))
            ++count;
    }
    return count;
}

la_ssize_t readInflated(archive *, void *client, const void **buffer)
{
    auto *inflater = static_cast<GzipStream::Inflater *>(client);
    const QByteArray &block = inflater->next();
    *buffer = block.constData();
    return block.size();
}

// Writes the second tree on a thread of its own, from entries and data that
// the reading thread hands over; the two trees' file system work then runs
// side by side. An error drops the rest of the tree and is kept.
class SecondTreeWriter
{
public:
    SecondTreeWriter() = default;
    SecondTreeWriter(const SecondTreeWriter &) = delete;
    SecondTreeWriter &operator=(const SecondTreeWriter &) = delete;
    ~SecondTreeWriter() { close(); }

    QString open()
    {
        QString error;
        m_writer = newDiskWriter(&error);
        if (m_writer)
            m_thread = std::thread([this] { run(); });
        return error;
    }

    bool active() const { return m_writer != nullptr || m_thread.joinable(); }

    void header(Entry entry, const QString &name, bool spread)
    {
        Task task;
        task.kind = Task::Header;
        task.entry = std::move(entry);
        task.name = name;
        task.spread = spread;
        push(std::move(task));
    }

    void data(const void *block, size_t size, la_int64_t offset)
    {
        Task task;
        task.kind = Task::Data;
        task.data = QByteArray(static_cast<const char *>(block), int(size));
        task.offset = offset;
        push(std::move(task));
    }

    void finishEntry()
    {
        Task task;
        task.kind = Task::Finish;
        push(std::move(task));
    }

    // Waits for the tree to be complete; the error that dropped it, if any.
    QString close()
    {
        if (m_thread.joinable()) {
            Task task;
            task.kind = Task::Close;
            push(std::move(task));
            m_thread.join();
        }
        return m_error;
    }

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
    static constexpr qint64 MaxQueuedBytes = 16 * 1024 * 1024;

    void push(Task task)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queuedBytes < MaxQueuedBytes; });
        m_queuedBytes += task.data.size();
        m_tasks.push_back(std::move(task));
        lock.unlock();
        m_changed.notify_all();
    }

    void run()
    {
        QString current;
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
            if (task.kind == Task::Close)
                break;
            if (!m_error.isEmpty())
                continue; // dropped: the rest only drains
            archive *w = m_writer.get();
            switch (task.kind) {
            case Task::Header:
                current = task.name;
                if (archive_write_header(w, task.entry.get()) != ARCHIVE_OK)
                    fail(QStringLiteral("%1: %2").arg(current, archiveWriteError(w)));
                else if (task.spread)
                    Archive::placeTreeApart(QFile::decodeName(archive_entry_pathname(task.entry.get())));
                break;
            case Task::Data:
                if (archive_write_data_block(w, task.data.constData(), size_t(task.data.size()), task.offset)
                    != ARCHIVE_OK)
                    fail(QStringLiteral("%1: %2").arg(current, archiveWriteError(w)));
                break;
            case Task::Finish:
                if (archive_write_finish_entry(w) != ARCHIVE_OK)
                    fail(QStringLiteral("%1: %2").arg(current, archiveWriteError(w)));
                break;
            case Task::Close:
                break;
            }
        }
        if (m_error.isEmpty() && archive_write_close(m_writer.get()) != ARCHIVE_OK)
            fail(archiveWriteError(m_writer.get()));
        m_writer.reset();
    }

    void fail(const QString &error) { m_error = error; }

    WriteArchive m_writer;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_tasks;
    qint64 m_queuedBytes = 0;
    QString m_error; // written by the thread only, read after it ended
};

// Writes one tar into two trees. Errors of the second tree do not stop the
// first: the second is dropped and secondError() says why.
class TwoTreeWriter
{
public:
    TwoTreeWriter(const QByteArray &first, const QByteArray &second, const Archive::NameMapper &mapper)
        : m_first(first), m_second(second), m_mapper(mapper), m_budget(QFile::decodeName(first))
    {
    }

    QString open()
    {
        QString error;
        m_writer1 = newDiskWriter(&error);
        if (m_writer1)
            error = m_writer2.open();
        return error;
    }

    // Returns the error that stops the whole unpacking.
    QString unpack(archive *reader)
    {
        const QString error = unpackEntries(reader);
        m_secondError = m_writer2.close();
        return error;
    }

    QString secondError() const { return m_secondError; }

private:
    QString unpackEntries(archive *reader)
    {
        for (;;) {
            archive_entry *entry = nullptr;
            const int r = archive_read_next_header(reader, &entry);
            if (r == ARCHIVE_EOF)
                break;
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
                return archiveError(reader);
            const char *rawName = archive_entry_pathname(entry);
            const QString name = rawName ? shown(rawName) : QString();
            Entry second(archive_entry_clone(entry));
            if (!second)
                return QStringLiteral("out of memory");
            bool skip = false;
            const QString refusal = prepareEntry(entry, m_first, m_mapper, &skip);
            if (!refusal.isEmpty())
                return refusal;
            if (skip)
                continue;
            // Both trees lie in the temporary directory: every entry is written twice.
            const bool withData = archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry);
            for (int tree = 0; tree < 2; ++tree) {
                const QString overBudget = m_budget.takeEntry(withData ? archive_entry_size(entry) : 0);
                if (!overBudget.isEmpty())
                    return QStringLiteral("%1: %2").arg(name, overBudget);
            }
            // Directories near the top (down to the family directories) spread
            // what is made in them; below, a device's files stay together.
            const bool spread = archive_entry_filetype(entry) == AE_IFDIR && !archive_entry_hardlink(entry)
                                && componentCount(name) <= 3;
            bool skipSecond = false;
            prepareEntry(second.get(), m_second, m_mapper, &skipSecond);
            m_writer2.header(std::move(second), name, spread);
            if (archive_write_header(m_writer1.get(), entry) != ARCHIVE_OK)
                return QStringLiteral("%1: %2").arg(name, archiveWriteError(m_writer1.get()));
            if (spread)
                Archive::placeTreeApart(QFile::decodeName(archive_entry_pathname(entry)));
            const QString error = copyData(reader, name);
            if (!error.isEmpty())
                return error;
            m_writer2.finishEntry();
            if (archive_write_finish_entry(m_writer1.get()) != ARCHIVE_OK)
                return QStringLiteral("%1: %2").arg(name, archiveWriteError(m_writer1.get()));
        }
        if (archive_write_close(m_writer1.get()) != ARCHIVE_OK)
            return archiveWriteError(m_writer1.get());
        return QString();
    }

    QString copyData(archive *reader, const QString &name)
    {
        for (;;) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(reader, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                return QString();
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
                return QStringLiteral("%1: %2").arg(name, archiveError(reader));
            m_writer2.data(block, size, offset);
            if (archive_write_data_block(m_writer1.get(), block, size, offset) != ARCHIVE_OK)
                return QStringLiteral("%1: %2").arg(name, archiveWriteError(m_writer1.get()));
        }
    }

    QByteArray m_first;
    QByteArray m_second;
    Archive::NameMapper m_mapper;
    WriteArchive m_writer1;
    SecondTreeWriter m_writer2;
    QString m_secondError;
    Archive::UnpackBudget m_budget;
};

// The name that extractArchive gives the gzip layer's one file; empty, with
// *error set, when the header's name cannot be used.
QString gzipMemberName(const GzipStream::Inflater &inflater, const QString &archivePath, QString *error)
{
    if (!inflater.hasName())
        return fallbackMemberName(archivePath);
    QByteArray base = inflater.name();
    base = base.mid(base.lastIndexOf('/') + 1);
    if (base.isEmpty() || base == "." || base == "..") {
        *error = QStringLiteral("unusable original name \"%1\" in the gzip header").arg(shown(inflater.name()));
        return QString();
    }
    return shown(base);
}

// ---- packing the overlaid tree

struct OverlayPack
{
    PackState state;
    const Archive::TreeOverlay *overlay = nullptr;
};

// The regular-file branch of packEntry, with the contents from memory.
QString packReplacedFile(archive *writer, const QByteArray &name, const struct stat &st, const QByteArray &contents,
                         qint64 mtime)
{
    Entry entry(archive_entry_new());
    if (!entry)
        return QStringLiteral("out of memory");
    archive_entry_set_perm(entry.get(), st.st_mode & 07777);
    archive_entry_set_mtime(entry.get(), time_t(mtime), 0);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_pathname(entry.get(), name.constData());
    archive_entry_set_size(entry.get(), contents.size());
    if (archive_write_header(writer, entry.get()) < ARCHIVE_WARN)
        return archiveWriteError(writer);
    if (!contents.isEmpty() && archive_write_data(writer, contents.constData(), size_t(contents.size())) != contents.size())
        return archiveWriteError(writer);
    if (archive_write_finish_entry(writer) != ARCHIVE_OK)
        return archiveWriteError(writer);
    return QString();
}

// packDirectory over the overlaid tree: entries sorted by the names they
// will have, rewritten files taken from the overlay.
QString packOverlaidDirectory(OverlayPack &pack, const QByteArray &path, const QByteArray &relative,
                              const QByteArray &prefix)
{
    std::vector<std::string> onDisk;
    if (const QString error = listDirectory(path, &onDisk); !error.isEmpty())
        return error;
    std::vector<std::pair<std::string, std::string>> names; // name in the archive, name on the disk
    for (const std::string &name : onDisk) {
        const auto renamed = pack.overlay->renames.constFind(relative + name.c_str());
        names.emplace_back(renamed != pack.overlay->renames.cend() ? renamed->toStdString() : name, name);
    }
    std::sort(names.begin(), names.end());

    for (const auto &item : names) {
        const QByteArray childPath = path + '/' + item.second.c_str();
        const QByteArray childRelative = relative + item.second.c_str();
        const QByteArray childName = prefix + item.first.c_str();
        struct stat st {};
        if (::lstat(childPath.constData(), &st) != 0)
            return QStringLiteral("%1: %2").arg(shown(childPath), errnoText(errno));
        if (st.st_dev == pack.state.outputDevice && st.st_ino == pack.state.outputInode)
            continue;
        if (pack.overlay->touched.contains(childRelative))
            st.st_mtime = time_t(pack.overlay->now);
        const auto replaced = pack.overlay->files.constFind(childRelative);
        const QString error = replaced != pack.overlay->files.cend() && S_ISREG(st.st_mode)
                                  ? packReplacedFile(pack.state.writer, childName, st, *replaced, st.st_mtime)
                                  : packEntry(pack.state, childPath, childName, st);
        if (!error.isEmpty())
            return QStringLiteral("%1: %2").arg(shown(childPath), error);
        if (S_ISDIR(st.st_mode)) {
            const QString inner = packOverlaidDirectory(pack, childPath, childRelative + '/', childName + '/');
            if (!inner.isEmpty())
                return inner;
        }
    }
    return QString();
}

struct StreamSink
{
    TarPatch::StreamPatcher *patcher = nullptr;
};

la_ssize_t writeToPatcher(archive *, void *client, const void *buffer, size_t length)
{
    auto *sink = static_cast<StreamSink *>(client);
    if (!sink->patcher->write(static_cast<const char *>(buffer), qint64(length)))
        return -1;
    return la_ssize_t(length);
}

QString writeOverlaidGzip(const QString &workingDirectory, const Archive::TreeOverlay &overlay,
                          const QList<QPair<QByteArray, QByteArray>> &namePatches, const QByteArray &memberName,
                          const QString &gzipPath)
{
    PackTarget target;
    if (const QString error = openPackTarget(workingDirectory, gzipPath, target); !error.isEmpty())
        return error;
    const QByteArray &root = target.root;
    Fd &output = target.output;
    const struct stat &outputStat = target.outputStat;

    const int threads = std::max(1, int(std::thread::hardware_concurrency()));
    GzipStream::ParallelDeflater deflater(output.get(), memberName, quint32(QDateTime::currentSecsSinceEpoch()),
                                          threads);
    TarPatch::StreamPatcher patcher(namePatches,
                                    [&deflater](const char *data, qint64 size) { return deflater.write(data, size); });
    StreamSink sink;
    sink.patcher = &patcher;

    WriteArchive writer(archive_write_new());
    if (!writer)
        return QStringLiteral("out of memory");
    // As archive_write_open_fd does for a regular file: the last block is not padded.
    if (archive_write_set_format_pax_restricted(writer.get()) != ARCHIVE_OK
        || archive_write_set_bytes_in_last_block(writer.get(), 1) != ARCHIVE_OK
        || archive_write_open2(writer.get(), &sink, nullptr, writeToPatcher, nullptr, nullptr) != ARCHIVE_OK)
        return archiveWriteError(writer.get());

    OverlayPack pack;
    pack.state.writer = writer.get();
    pack.state.outputDevice = outputStat.st_dev;
    pack.state.outputInode = outputStat.st_ino;
    pack.overlay = &overlay;
    QString error = packOverlaidDirectory(pack, root, QByteArray(), QByteArray());
    if (error.isEmpty() && archive_write_close(writer.get()) != ARCHIVE_OK)
        error = archiveWriteError(writer.get());
    if (!error.isEmpty()) {
        const QString reason = !deflater.error().isEmpty() ? deflater.error() : patcher.error();
        return reason.isEmpty() ? error : reason;
    }
    if (!patcher.finish())
        return patcher.error();
    if (!deflater.finish())
        return deflater.error();
    if (!output.close())
        return errnoText(errno);
    return QString();
}

} // namespace

namespace Archive {

TwoTrees extractTarTwice(const QString &archivePath, QString *work, QString *backup, const NameMapper &mapper)
{
    work->clear();
    backup->clear();
    QFile input(archivePath);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || input.read(2) != QByteArray("\x1f\x8b", 2)
        || !input.seek(0))
        return TwoTrees::NotApplicable;

    GzipStream::Inflater inflater;
    inflater.start(input.handle());
    QString error;
    QString memberName;
    if (inflater.waitForHeader())
        memberName = gzipMemberName(inflater, archivePath, &error);
    else
        error = inflater.error();
    if (error.isEmpty()) {
        // The gzip layer's one file is found by loading only as "*.tar" (and not hidden).
        if (memberName.startsWith(QLatin1Char('.')) || !memberName.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
            return TwoTrees::NotApplicable;
    }

    QString first;
    QString second;
    if (error.isEmpty()) {
        first = Archive::newTemporaryDirectory();
        second = first.isEmpty() ? QString() : Archive::newTemporaryDirectory();
        if (second.isEmpty()) {
            if (!first.isEmpty())
                QDir(first).removeRecursively();
            return TwoTrees::Failed;
        }
    }

    QString secondError;
    if (error.isEmpty()) {
        ReadArchive reader(archive_read_new());
        TwoTreeWriter writer(QFile::encodeName(first), QFile::encodeName(second), mapper);
        if (!reader)
            error = QStringLiteral("out of memory");
        else if (archive_read_support_format_tar(reader.get()) != ARCHIVE_OK)
            error = archiveError(reader.get());
        else
            error = writer.open();
        if (error.isEmpty()
            && archive_read_open(reader.get(), &inflater, nullptr, readInflated, nullptr) != ARCHIVE_OK)
            error = archiveError(reader.get());
        if (error.isEmpty())
            error = writer.unpack(reader.get());
        secondError = writer.secondError();
        // The whole gzip layer is checked, as unpacking it to a file would.
        if (error.isEmpty()) {
            while (!inflater.next().isEmpty()) {
            }
        }
        if (!inflater.error().isEmpty())
            error = inflater.error();
    }

    if (!error.isEmpty()) {
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot unpack %1: %2").arg(archivePath, error);
        if (!first.isEmpty())
            QDir(first).removeRecursively();
        if (!second.isEmpty())
            QDir(second).removeRecursively();
        return TwoTrees::Failed;
    }
    if (!secondError.isEmpty()) {
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot unpack %1: %2").arg(archivePath, secondError);
        QDir(second).removeRecursively();
        second.clear();
    }
    *work = first;
    *backup = second;
    return TwoTrees::Done;
}

bool packOverlaidTreeToGzip(const QString &workingDirectory, const TreeOverlay &overlay,
                            const QList<QPair<QByteArray, QByteArray>> &namePatches, const QByteArray &memberName,
                            const QString &gzipPath)
{
    return writeFreshOutput(gzipPath, QStringLiteral("Cannot pack %1 into %2").arg(workingDirectory, gzipPath),
                            [&] { return writeOverlaidGzip(workingDirectory, overlay, namePatches, memberName, gzipPath); });
}

} // namespace Archive
