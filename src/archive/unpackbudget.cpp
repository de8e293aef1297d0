#include "unpackbudget.h"

#include <QFile>
#include <QLocale>

#include <sys/statvfs.h>

#include <limits>
#include <mutex>

namespace Archive {

namespace {

std::mutex limitsMutex;
UnpackLimits currentLimits;

QString size(quint64 bytes)
{
    return QLocale::c().formattedDataSize(qint64(std::min<quint64>(bytes, std::numeric_limits<qint64>::max())));
}

quint64 roundUp(quint64 bytes, quint64 block)
{
    if (bytes > std::numeric_limits<quint64>::max() - block)
        return std::numeric_limits<quint64>::max();
    return (bytes + block - 1) / block * block;
}

quint64 saturatedAdd(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

} // namespace

UnpackLimits unpackLimits()
{
    std::lock_guard<std::mutex> lock(limitsMutex);
    return currentLimits;
}

void setUnpackLimits(const UnpackLimits &limits)
{
    std::lock_guard<std::mutex> lock(limitsMutex);
    currentLimits = limits;
}

UnpackBudget::UnpackBudget(const QString &directory)
    : m_limits(unpackLimits())
{
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(directory).constData(), &fs) != 0)
        return; // the writes themselves will tell
    if (fs.f_frsize > 0)
        m_blockSize = fs.f_frsize;
    const quint64 available = quint64(fs.f_bavail) * m_blockSize;
    m_knowsSpace = true;
    m_availableBytes = available;
    m_freeBytes = available > m_limits.reserveBytes ? available - m_limits.reserveBytes : 0;
    // File systems without an inode count report none in total.
    m_knowsInodes = fs.f_files > 0;
    m_freeInodes = fs.f_favail;
}

QString UnpackBudget::takeEntry(qint64 bytes)
{
    const quint64 data = bytes > 0 ? quint64(bytes) : 0;
    if (++m_entries > m_limits.maxEntries)
        return QStringLiteral("the archive has more than %1 entries").arg(m_limits.maxEntries);
    if (m_knowsInodes && m_entries > m_freeInodes)
        return QStringLiteral("the archive has more entries (%1) than the temporary file system has free inodes")
            .arg(m_entries);
    return take(std::max<quint64>(roundUp(data, m_blockSize), m_blockSize), data);
}

QString UnpackBudget::takeBytes(qint64 bytes)
{
    const quint64 data = bytes > 0 ? quint64(bytes) : 0;
    // Whole blocks of the growing file: the total, rounded, less what was counted.
    const quint64 before = roundUp(m_bytes, m_blockSize);
    const quint64 after = roundUp(saturatedAdd(m_bytes, data), m_blockSize);
    return take(after - before, data);
}

QString UnpackBudget::take(quint64 blocks, quint64 bytes)
{
    m_bytes = saturatedAdd(m_bytes, bytes);
    m_diskBytes = saturatedAdd(m_diskBytes, blocks);
    if (m_bytes > m_limits.maxBytes)
        return QStringLiteral("unpacked, the archive would be larger than the limit of %1").arg(size(m_limits.maxBytes));
    if (m_knowsSpace && m_diskBytes > m_freeBytes)
        return QStringLiteral("unpacked, the archive would not fit into the temporary directory (%1 free, %2 of it kept free)")
            .arg(size(m_availableBytes), size(m_limits.reserveBytes));
    return QString();
}

} // namespace Archive
