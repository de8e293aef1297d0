// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The fields of tar headers as the archive layer reads and normalises them;
// shared by the header functions and the tar stream walker.

#include "tarpatch.h"

#include <QtGlobal>

#include <cstring>
#include <limits>

namespace TarPatch {
namespace Fields {

inline constexpr qint64 kBlock = 512;
// Largest data of a pax or GNU long-name entry that is read into memory.
inline constexpr quint64 kMaxExtensionData = 1024 * 1024;


inline quint64 roundUpToBlock(quint64 size)
{
    return (size + (kBlock - 1)) / kBlock * kBlock;
}

inline int fieldLength(const char *field, int maxLength)
{
    const void *nul = std::memchr(field, 0, size_t(maxLength));
    return nul ? int(static_cast<const char *>(nul) - field) : maxLength;
}

// Octal text as tar readers read it: leading spaces, then octal digits ended by
// a NUL, a space or the end of the field. False when there are no digits, a
// character is not an octal digit, or the value overflows.
inline bool parseOctalField(const char *field, int length, quint64 *value)
{
    int i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    quint64 result = 0;
    int digits = 0;
    for (; i < length; ++i) {
        const char c = field[i];
        if (c == '\0' || c == ' ')
            break;
        if (c < '0' || c > '7')
            return false;
        if (result > (std::numeric_limits<quint64>::max() >> 3))
            return false;
        result = result * 8 + quint64(c - '0');
        ++digits;
    }
    if (digits == 0)
        return false;
    *value = result;
    return true;
}

inline bool isExtensionType(char type)
{
    return type == 'x' || type == 'g' || type == 'L' || type == 'K';
}

inline bool isZeroBlock(const tar_ustarheader *header)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(header);
    for (int i = 0; i < int(sizeof(tar_ustarheader)); ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// The stored checksum matches the unsigned sum (or, as old writers made it,
// the sum of the bytes taken as signed values).
inline bool hasValidChecksum(const tar_ustarheader *header)
{
    quint64 stored = 0;
    if (!parseOctalField(header->chksum, sizeof(header->chksum), &stored))
        return false;
    const unsigned int unsignedSum = tarHeaderChecksum(header);
    const signed char *bytes = reinterpret_cast<const signed char *>(header);
    qint64 signedSum = 0;
    for (int i = 0; i < int(sizeof(tar_ustarheader)); ++i)
        signedSum += (i >= 148 && i < 156) ? 32 : bytes[i];
    return stored == unsignedSum || qint64(stored) == signedSum;
}

// Tar writers end the size field with a space or a NUL; the devices read
// the layout with a NUL, like the checksum field.
inline void endSizeWithNul(tar_ustarheader *header)
{
    char *size = header->size;
    if (header->name[0] == '\0' || size[11] != ' ')
        return;
    for (int i = 0; i < 11; ++i) {
        if (size[i] < '0' || size[i] > '7')
            return;
    }
    size[11] = '\0';
}

// Old GNU sparse entries: extension blocks of the sparse map sit between the
// header and the data.
inline bool hasSparseMapBlocks(const tar_ustarheader *header)
{
    return header->typeflag == 'S' && std::memcmp(header->magic, "ustar ", 6) == 0
           && reinterpret_cast<const char *>(header)[482] != 0;
}

} // namespace Fields
} // namespace TarPatch
