// SPDX-License-Identifier: GPL-3.0-or-later
#include "replacementfile.h"

#include "interruption.h"
#include "leftovers.h"
#include "logging.h"
#include "posixfile.h"
#include "processfacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Refuses a target that exists and is no regular file.
Result checkType(const QString &target, const QString &resolved)
{
    struct stat st {};
    if (::stat(QFile::encodeName(resolved).constData(), &st) != 0)
        return errno == ENOENT ? Result::success()
                               : Result::failure(QStringLiteral("Cannot write %1: %2").arg(target, Archive::errnoText(errno)));
    if (S_ISDIR(st.st_mode))
        return Result::failure(QStringLiteral("%1 is a directory").arg(target));
    if (!S_ISREG(st.st_mode))
        return Result::failure(QStringLiteral("%1 is not a regular file").arg(target));
    return Result::success();
}

// The permission bits for the new file: the target's, or a new file's.
mode_t modeFor(const QString &resolved, struct stat *existing)
{
    if (::stat(QFile::encodeName(resolved).constData(), existing) == 0)
        return existing->st_mode & 0777;
    existing->st_mode = 0;
    return 0666 & ~Archive::processUmask();
}

} // namespace

ReplacementFile::ReplacementFile(const QString &target)
    : m_target(target)
{
}

ReplacementFile::~ReplacementFile()
{
    if (!m_committed && !m_path.isEmpty())
        ::unlink(QFile::encodeName(m_path).constData());
}

Result ReplacementFile::check(const QString &target, QString *resolved)
{
    if (target.isEmpty())
        return Result::failure(QStringLiteral("No file name to write to"));
    // Each step: the folder as it really is, then the last name, which may
    // be a link to follow from that folder.
    QString current = QFileInfo(target).absoluteFilePath();
    for (int links = 0; links <= 40; ++links) {
        const QFileInfo info(current);
        const QString folder = QFileInfo(info.path()).canonicalFilePath();
        if (folder.isEmpty())
            return Result::failure(QStringLiteral("Cannot write %1: the folder %2 does not exist").arg(target, info.path()));
        current = folder + QLatin1Char('/') + info.fileName();
        struct stat st {};
        if (::lstat(QFile::encodeName(current).constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            if (const Result typed = checkType(target, current); !typed)
                return typed;
            if (resolved)
                *resolved = current;
            return Result::success();
        }
        char buffer[4096];
        const ssize_t length = ::readlink(QFile::encodeName(current).constData(), buffer, sizeof buffer - 1);
        if (length < 0)
            return Result::failure(QStringLiteral("Cannot write %1: %2").arg(target, Archive::errnoText(errno)));
        const QString pointsTo = QFile::decodeName(QByteArray(buffer, int(length)));
        current = QDir::isAbsolutePath(pointsTo) ? pointsTo : folder + QLatin1Char('/') + pointsTo;
    }
    return Result::failure(QStringLiteral("Cannot write %1: %2").arg(target, Archive::errnoText(ELOOP)));
}

Result ReplacementFile::open()
{
    if (const Result checked = check(m_target, &m_resolved); !checked)
        return checked;
    const QFileInfo resolved(m_resolved);
    Archive::removeStaleHiddenFiles(resolved.path(), resolved.fileName());
    QByteArray name = QFile::encodeName(Archive::hiddenFileTemplate(resolved.path(), resolved.fileName()));
    const int fd = ::mkostemps(name.data(), 5, O_CLOEXEC);
    if (fd < 0)
        return Result::failure(QStringLiteral("Cannot write beside %1: %2").arg(m_target, Archive::errnoText(errno)));
    m_fd.reset(fd);
    m_path = QFile::decodeName(name);
    Interruption::pauseAt("store");
    return Result::success();
}

Result ReplacementFile::commit()
{
    if (m_path.isEmpty() || !m_fd.valid())
        return Result::failure(QStringLiteral("Cannot replace %1: nothing was written").arg(m_target));
    if (Interruption::received())
        return Result::failure(QStringLiteral("Not replacing %1: the program is being stopped").arg(m_target));
    if (const Result typed = checkType(m_target, m_resolved); !typed)
        return typed;

    struct stat existing {};
    const mode_t mode = modeFor(m_resolved, &existing);
    if (existing.st_mode != 0 && ::fchown(m_fd.get(), ::geteuid() == 0 ? existing.st_uid : uid_t(-1), existing.st_gid) != 0) {
        // Owner and group stay as before only where allowed (root, or a group
        // of ours); otherwise the new file is the writer's.
    }
    // The data reaches the disk before the name does: after a power cut the
    // target holds the old archive or the new one, never an empty file.
    if (::fchmod(m_fd.get(), mode) != 0 || ::fsync(m_fd.get()) != 0)
        return Result::failure(QStringLiteral("Cannot replace %1: %2").arg(m_target, Archive::errnoText(errno)));
    // Some file systems report a failed write only when the file is closed.
    if (const Result closed = m_fd.close(); !closed)
        return Result::failure(QStringLiteral("Cannot write %1: %2").arg(m_target, closed.reason()));
    if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(m_resolved).constData()) != 0)
        return Result::failure(QStringLiteral("Cannot replace %1: %2").arg(m_target, Archive::errnoText(errno)));
    m_committed = true;
    const Archive::Fd folder(::open(QFile::encodeName(QFileInfo(m_resolved).path()).constData(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The target is replaced already: a failure here is no failed store.
    if (!folder.valid() || ::fsync(folder.get()) != 0)
        qCDebug(lcArchive).noquote() << QStringLiteral("Cannot sync the folder of %1: %2").arg(m_target, Archive::errnoText(errno));
    return Result::success();
}
