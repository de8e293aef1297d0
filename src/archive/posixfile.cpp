// SPDX-License-Identifier: GPL-3.0-or-later
#include "posixfile.h"


#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>

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

Result Fd::close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd >= 0 && ::close(fd) != 0 ? Result::failure(errnoText(errno)) : Result::success();
}

Result writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Result::failure(n < 0 ? errnoText(errno) : QStringLiteral("nothing written"));
        data += n;
        size -= n;
    }
    return Result::success();
}

qint64 readAt(int fd, char *data, qint64 size, qint64 offset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, data, static_cast<size_t>(size), off_t(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

QString shown(const QByteArray &name)
{
    return QFile::decodeName(name);
}

} // namespace Archive
