#include "treeremoval.h"

#include "logging.h"

#include <QFile>

#include <ftw.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// nftw keeps no state for its callback; the first failure is kept here.
thread_local int firstError = 0;
thread_local QByteArray firstFailure;

int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    // A directory that could not be read is still tried: remove() then fails
    // with the reason, unless it was empty.
    if (type == FTW_NS || ::remove(path) == 0)
        return 0;
    if (firstError == 0) {
        firstError = errno;
        firstFailure = path;
    }
    return 0; // go on: remove as much as possible
}

} // namespace

bool removeDirectoryTree(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 && errno == ENOENT)
        return true;
    firstError = 0;
    firstFailure.clear();
    const int walked = ::nftw(native.constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    if (walked != 0 && firstError == 0) {
        firstError = errno;
        firstFailure = native;
    }
    if (firstError == 0)
        return true;
    qCDebug(lcWorkspace).noquote() << QStringLiteral("Cannot remove %1: %2")
                                          .arg(QFile::decodeName(firstFailure), QString::fromLocal8Bit(std::strerror(firstError)));
    return false;
}
