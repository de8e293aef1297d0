#include "posixfile.h"

#include "archivehandles.h"

#include <QFile>

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace Archive {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

QString Fd::close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd >= 0 && ::close(fd) != 0 ? errnoText(errno) : QString();
}

QString writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errnoText(errno) : QStringLiteral("nothing written");
        data += n;
        size -= n;
    }
    return QString();
}

qint64 readSome(int fd, char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, static_cast<size_t>(size));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

QString listDirectory(const QByteArray &path, std::vector<std::string> *names)
{
    struct DirClose
    {
        void operator()(DIR *d) const { closedir(d); }
    };
    std::unique_ptr<DIR, DirClose> dir(::opendir(path.constData()));
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

QString shown(const QByteArray &name)
{
    return QFile::decodeName(name);
}

} // namespace Archive
