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
