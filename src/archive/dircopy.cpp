#include "dircopy.h"

#include "logging.h"
#include "treeremoval.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#endif

namespace {

void reportFailure(const QString &sourcePath, const QString &destinationPath)
{
    qCDebug(lcWorkspace).noquote() << QStringLiteral("Copy didnt work ") + sourcePath + QLatin1Char(' ') + destinationPath;
}

// The path as it is on the disk: symbolic links of the part that exists resolved.
QString resolvedPath(const QString &path)
{
    QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString parent = info.absolutePath();
    if (parent == info.absoluteFilePath()) // root
        return QDir::cleanPath(parent);
    return QDir::cleanPath(resolvedPath(parent) + QLatin1Char('/') + info.fileName());
}

bool liesWithin(const QString &path, const QString &directory)
{
    return path == directory || path.startsWith(directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/'));
}

// Makes a symbolic link at destinationPath with the same target text as the
// link at sourcePath; the target is never followed.
bool copySymLink(const QString &sourcePath, const QString &destinationPath)
{
#ifdef Q_OS_UNIX
    const QByteArray source = QFile::encodeName(sourcePath);
    QByteArray target(4096, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(source.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            return false;
        if (length < target.size()) {
            target.truncate(int(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    return ::symlink(target.constData(), QFile::encodeName(destinationPath).constData()) == 0;
#else
    return QFile::link(QFileInfo(sourcePath).symLinkTarget(), destinationPath);
#endif
}

// Copies the contents and the permissions of a regular file.
bool copyFile(const QString &sourcePath, const QString &destinationPath)
{
    if (!QFile::copy(sourcePath, destinationPath))
        return false;
#ifdef Q_OS_UNIX
    // QFile::copy merges the permissions of the current user into the owner's
    // (a read-only file copied by root comes out writable): set the mode bits
    // of the source exactly.
    struct stat st;
    if (::stat(QFile::encodeName(sourcePath).constData(), &st) != 0
        || ::chmod(QFile::encodeName(destinationPath).constData(), st.st_mode & 07777) != 0)
        return false;
#endif
    return true;
}

} // namespace

bool copyDirectory(QString source, QString destination)
{
    // An empty text names no directory; it never stands for the current one.
    if (source.isEmpty() || !QDir(source).exists()) {
        qCDebug(lcWorkspace).noquote() << "Source dir exists";
        return false;
    }
    if (destination.isEmpty()) {
        qCDebug(lcWorkspace).noquote() << "Destination dir is empty";
        return false;
    }
    // A destination inside the source (or the source itself) would copy the
    // tree into itself without end, or remove the files that it copies.
    if (liesWithin(resolvedPath(destination), resolvedPath(source))) {
        qCDebug(lcWorkspace).noquote() << "Destination dir lies inside the source dir";
        return false;
    }

    QDir sourceDir(source);
    if (!QDir(destination).exists())
        QDir().mkdir(destination); // a failure shows up at the first copy

    // Non-hidden entries, sorted by name ignoring case. System entries are
    // listed only for broken symbolic links; devices, pipes and sockets are
    // left out below.
    const QFileInfoList entries = sourceDir.entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    const QString separator = QDir::separator();
    QStringList subdirectories;
    for (const QFileInfo &entry : entries) {
        const bool link = entry.isSymLink();
        if (!link && entry.isDir()) {
            subdirectories.append(entry.fileName());
            continue;
        }
        if (!link && !entry.isFile())
            continue; // a system entry
        const QString sourcePath = source + separator + entry.fileName();
        const QString destinationPath = destination + separator + entry.fileName();
        const QFileInfo existing(destinationPath);
        if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
            QFile::remove(destinationPath); // a copy does not overwrite
        const bool copied = link ? copySymLink(sourcePath, destinationPath) : copyFile(sourcePath, destinationPath);
        if (!copied) {
            reportFailure(sourcePath, destinationPath);
            return false;
        }
    }

    for (const QString &name : subdirectories) {
        const QString sourcePath = source + separator + name;
        const QString destinationPath = destination + separator + name;
        if (!copyDirectory(sourcePath, destinationPath)) {
            reportFailure(sourcePath, destinationPath);
            return false;
        }
    }
    return true;
}

#ifdef Q_OS_UNIX
namespace {

QString systemError(const QByteArray &path)
{
    return QFile::decodeName(path) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

QString copyFileExactly(const QByteArray &source, const QByteArray &destination, mode_t mode)
{
    const int in = ::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return systemError(source);
    const int out = ::open(destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const QString error = systemError(destination);
        ::close(in);
        return error;
    }
    QString error;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = systemError(source);
            break;
        }
        if (n == 0)
            break;
        for (const char *p = buffer; n > 0;) {
            const ssize_t written = ::write(out, p, size_t(n));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                error = systemError(destination);
                break;
            }
            p += written;
            n -= written;
        }
        if (!error.isEmpty())
            break;
    }
    if (error.isEmpty() && ::fchmod(out, mode & 07777) != 0)
        error = systemError(destination);
    ::close(in);
    if (::close(out) != 0 && error.isEmpty())
        error = systemError(destination);
    return error;
}

QString copyTreeExactly(const QByteArray &source, const QByteArray &destination, mode_t mode)
{
    if (::mkdir(destination.constData(), 0700) != 0)
        return systemError(destination);
    std::vector<std::string> names;
    DIR *dir = ::opendir(source.constData());
    if (!dir)
        return systemError(source);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        errno = readError;
        return systemError(source);
    }
    for (const std::string &name : names) {
        const QByteArray from = source + '/' + name.c_str();
        const QByteArray to = destination + '/' + name.c_str();
        struct stat st {};
        if (::lstat(from.constData(), &st) != 0)
            return systemError(from);
        QString error;
        if (S_ISDIR(st.st_mode)) {
            error = copyTreeExactly(from, to, st.st_mode);
        } else if (S_ISREG(st.st_mode)) {
            error = copyFileExactly(from, to, st.st_mode);
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(int(st.st_size) + 1, Qt::Uninitialized);
            const ssize_t length = ::readlink(from.constData(), target.data(), size_t(target.size()));
            if (length < 0 || length >= target.size())
                error = length < 0 ? systemError(from) : QFile::decodeName(from) + QStringLiteral(": link changed while copied");
            else if (::symlink(target.left(int(length)).constData(), to.constData()) != 0)
                error = systemError(to);
        } else {
            error = QFile::decodeName(from) + QStringLiteral(": neither a file, a directory nor a link");
        }
        if (!error.isEmpty())
            return error;
    }
    // Last, so that a directory without write permission could still be filled.
    if (::chmod(destination.constData(), mode & 07777) != 0)
        return systemError(destination);
    return QString();
}

} // namespace
#endif

#ifdef Q_OS_UNIX
namespace {

// Lists the tree below the directory open as fd (taken over): files and
// links into *files, directories into *directories after their contents.
bool listTree(int fd, const QByteArray &path, QList<QByteArray> *files, QList<QByteArray> *directories)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (const dirent *item = ::readdir(dir)) {
        const char *name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            struct stat st {};
            isDirectory = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        const QByteArray child = path + '/' + name;
        if (isDirectory) {
            const int childFd = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ok = childFd >= 0 && listTree(childFd, child, files, directories) && ok;
        } else {
            files->append(child);
        }
    }
    ::closedir(dir);
    directories->append(path);
    return ok;
}

template<typename Work>
void onThreads(int threads, int count, Work work)
{
    std::atomic<int> next{0};
    auto run = [&] {
        for (int i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(run);
    run();
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace
#endif

void removeDirectoryTrees(const QStringList &paths, int threads)
{
#ifdef Q_OS_UNIX
    QList<QByteArray> files;
    QList<QByteArray> directories; // every directory after the ones inside it
    QStringList rest;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        const QByteArray encoded = QFile::encodeName(path);
        const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || !listTree(fd, encoded, &files, &directories))
            rest.append(path);
    }
    // A thread for every few hundred files: small trees are not worth more.
    threads = qBound(1, files.size() / 256, qMax(1, threads));
    onThreads(threads, files.size(), [&files](int i) { ::unlink(files.at(i).constData()); });
    // Directories by depth, deepest first; those of one depth side by side.
    std::stable_sort(directories.begin(), directories.end(),
                     [](const QByteArray &a, const QByteArray &b) { return a.count('/') > b.count('/'); });
    int begin = 0;
    while (begin < directories.size()) {
        const int depth = directories.at(begin).count('/');
        int end = begin;
        while (end < directories.size() && directories.at(end).count('/') == depth)
            ++end;
        onThreads(threads, end - begin, [&directories, begin](int i) { ::rmdir(directories.at(begin + i).constData()); });
        begin = end;
    }
    for (const QString &path : paths) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            removeDirectoryTree(path);
    }
#else
    for (const QString &path : paths)
        removeDirectoryTree(path);
    Q_UNUSED(threads)
#endif
}

bool copyDirectoryExactly(const QString &source, const QString &destination)
{
    if (source.isEmpty() || destination.isEmpty()) {
        qCDebug(lcWorkspace).noquote() << "Copy didnt work: no source or no destination";
        return false;
    }
#ifdef Q_OS_UNIX
    const QByteArray from = QFile::encodeName(source);
    struct stat st {};
    QString error;
    if (::stat(from.constData(), &st) != 0)
        error = systemError(from);
    else if (!S_ISDIR(st.st_mode))
        error = source + QStringLiteral(": not a directory");
    else
        error = copyTreeExactly(from, QFile::encodeName(destination), st.st_mode);
    if (error.isEmpty())
        return true;
    qCDebug(lcWorkspace).noquote() << QStringLiteral("Copy didnt work ") + source + QLatin1Char(' ') + destination + QStringLiteral(": ") + error;
    return false;
#else
    return copyDirectory(source, destination);
#endif
}
