// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>


// The 512-byte header record of a ustar archive.
struct tar_ustarheader
{
    char name[100];
    char mode[8];
    char uid[8];
    char gid[8];
    char size[12];
    char mtime[12];
    char chksum[8];
    char typeflag;
    char linkname[100];
    char magic[6];
    char version[2];
    char uname[32];
    char gname[32];
    char devmajor[8];
    char devminor[8];
    char prefix[155];
    char padding[12];
};
static_assert(sizeof(tar_ustarheader) == 512, "a tar header is one 512-byte block");

namespace TarPatch {

// Sum of the header's bytes as unsigned values, the chksum field counting as spaces.
unsigned int tarHeaderChecksum(const tar_ustarheader *header);

// Entry size as tar readers read it: leading spaces, octal digits ended by NUL
// or space; base-256 when the first byte has its high bit set. 0 when unreadable.
quint64 tarEntrySize(const tar_ustarheader *header);

// Writes the header's checksum as octal digits without leading zeros,
// followed by zero bytes.
void fixTarHeaderChecksum(tar_ustarheader *header);

} // namespace TarPatch
