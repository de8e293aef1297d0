// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once


#include <QString>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

// libarchive handles that free themselves, and the texts of their errors.
namespace Archive {

struct ReadArchiveFree
{
    void operator()(archive *a) const { archive_read_free(a); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveFree>;

// The libarchive call that failed and libarchive's reason.
inline QString archiveError(const char *call, archive *a)
{
    const char *text = archive_error_string(a);
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error"));
}

} // namespace Archive
