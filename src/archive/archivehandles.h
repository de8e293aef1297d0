#pragma once

#include "posixfile.h"

#include <QString>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <memory>

// libarchive handles that free themselves, and the texts of their errors.
namespace Archive {

struct ReadArchiveFree
{
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteArchiveFree
{
    void operator()(archive *a) const
    {
        // libarchive 3.6 frees a writer whose output failed without closing
        // that output, and so loses its buffer; closing first frees it.
        archive_write_close(a);
        archive_write_free(a);
    }
};
struct EntryFree
{
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveFree>;
using WriteArchive = std::unique_ptr<archive, WriteArchiveFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

// The libarchive call that failed and libarchive's reason.
inline QString archiveError(const char *call, archive *a)
{
    const char *text = archive_error_string(a);
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error"));
}

// For errors of writing to the disk, where the system's reason says most.
inline QString archiveWriteError(const char *call, archive *a)
{
    const int error = archive_errno(a);
    const QString text = archiveError(call, a);
    return error > 0 ? QStringLiteral("%1 (%2)").arg(text, errnoText(error)) : text;
}

} // namespace Archive
