// SPDX-License-Identifier: GPL-3.0-or-later
#include "archivesource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Archive {

namespace {
constexpr int ReadSize = 256 * 1024;
}

Result ArchiveSource::open(int fd)
{
    m_fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Result::failure(errnoText(errno));
    if (S_ISDIR(st.st_mode))
        return Result::failure(QStringLiteral("is a directory"));
    m_size = st.st_size;
    unsigned char magic[2] = {};
    const ssize_t n = ::pread(fd, magic, 2, 0);
    if (n < 0)
        return Result::failure(errnoText(errno));
    if (n == 0)
        return Result::failure(QStringLiteral("empty file"));
    if (n == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
        m_inflater = std::make_unique<GzipStream::Inflater>();
        m_inflater->start(fd);
    } else {
        m_buffer.resize(ReadSize);
    }
    return Result::success();
}

QByteArray ArchiveSource::next()
{
    if (m_inflater) {
        const QByteArray block = m_inflater->next();
        m_tarBytes += block.size();
        return block;
    }
    if (!m_readError.isEmpty())
        return QByteArray();
    const qint64 n = readAt(m_fd, m_buffer.data(), m_buffer.size(), m_consumed);
    if (n < 0) {
        m_readError = errnoText(errno);
        return QByteArray();
    }
    m_consumed += n;
    m_tarBytes += n;
    return QByteArray::fromRawData(m_buffer.constData(), int(n));
}

} // namespace Archive
