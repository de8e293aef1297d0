// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QtGlobal>

#include <sys/types.h>

struct archive;
struct archive_entry;

namespace Archive {

// What a review of an archive learns of one entry besides its place in the
// project: its header as read, and a checksum of its data, so that two
// archives can be compared without keeping either's data.
struct EntryFacts
{
    int index = 0;
    QByteArray path;       // the name's components joined by "/" ("." and empty ones dropped)
    mode_t type = 0;       // AE_IFREG, AE_IFDIR, AE_IFLNK; a hard link is AE_IFREG with hardLink set
    bool hardLink = false;
    QByteArray linkTarget; // a symbolic link's target as written; a hard link's name in the form of path
    mode_t permissions = 0;
    qint64 uid = 0;
    qint64 gid = 0;
    QByteArray user;
    QByteArray group;
    qint64 mtime = 0;      // seconds since the epoch
    long mtimeNanoseconds = 0;
    qint64 size = 0;       // of the data read
    quint64 crc = 0;       // CRC-64 (ECMA-182, reflected) of the data read
};

// The header's facts of an entry that libarchive has just read; for a hard
// link, hardLinkTarget is the name it links to in the form of path.
EntryFacts headerFacts(archive_entry *entry, int index, const QByteArray &path, const QByteArray &hardLinkTarget);

// Adds data to the entry's checksum and size.
void addData(EntryFacts *facts, const char *data, size_t size);

// Reads the rest of the entry's data from libarchive into its checksum
// (holes of a sparse file, up to its size, as the zeros they stand for).
Result digestData(archive *a, qint64 size, EntryFacts *facts);

} // namespace Archive
