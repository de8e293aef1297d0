// SPDX-License-Identifier: GPL-3.0-or-later
#include "unpackbudget.h"

#include <QLocale>

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

Result UnpackBudget::takeEntry(qint64 bytes)
{
    if (++m_entries > m_limits.maxEntries)
        return Result::failure(QStringLiteral("the archive has more than %1 entries").arg(m_limits.maxEntries));
    const quint64 data = bytes > 0 ? quint64(bytes) : 0;
    if (data > m_limits.maxBytes || m_bytes > m_limits.maxBytes - data)
        return Result::failure(QStringLiteral("unpacked, the archive would be larger than the limit of %1").arg(size(m_limits.maxBytes)));
    m_bytes += data;
    return Result::success();
}

} // namespace Archive
