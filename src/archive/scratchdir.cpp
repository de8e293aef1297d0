#include "scratchdir.h"

#include "posixfile.h"

#include "interruption.h"
#include "leftovers.h"
#include "logging.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Archive {

QString newTemporaryDirectory(Result *problem)
{
    QByteArray name = QFile::encodeName(treeTemplate());
    if (!::mkdtemp(name.data())) {
        const int error = errno;
        qCDebug(lcArchive) << "Couldnt create temorary file";
        if (problem)
            *problem = Result::failure(QStringLiteral("Cannot create a temporary directory in %1: %2")
                                           .arg(QDir::tempPath(), errnoText(error)));
        return QString();
    }
    const QString path = QFile::decodeName(name);
    placeTreeApart(path);
    Interruption::pauseAt("load");
    return QFileInfo(path).canonicalFilePath();
}

// The directories made in a marked directory are spread over the least used
// block groups instead of being packed beside their parent. Without a
// journal, ext4 steps over every recently deleted inode of a group for each
// new one; a project's trees, made and removed again and again in the same
// few groups, would make each new file cost more than the last.
void placeTreeApart(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && !(flags & FS_TOPDIR_FL)) {
        flags |= FS_TOPDIR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

} // namespace Archive
