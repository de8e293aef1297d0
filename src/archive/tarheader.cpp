// SPDX-License-Identifier: GPL-3.0-or-later
#include "tarpatch.h"

#include "tarfields.h"

namespace TarPatch {

using namespace Fields;

unsigned int tarHeaderChecksum(const tar_ustarheader *header)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(header);
    unsigned int sum = 0;
    for (int i = 0; i < int(sizeof(tar_ustarheader)); ++i)
        sum += (i >= 148 && i < 156) ? 32u : bytes[i];
    return sum;
}

quint64 tarEntrySize(const tar_ustarheader *header)
{
    const unsigned char *field = reinterpret_cast<const unsigned char *>(header->size);
    const int length = int(sizeof(header->size));
    if (field[0] & 0x80) {
        // Base-256: big-endian binary; bit 6 of the first byte is the sign.
        if (field[0] & 0x40)
            return 0;
        quint64 value = field[0] & 0x3f;
        for (int i = 1; i < length; ++i) {
            if (value >> 56)
                return 0; // does not fit
            value = (value << 8) | field[i];
        }
        return value;
    }
    quint64 value = 0;
    return parseOctalField(header->size, length, &value) ? value : 0;
}

void fixTarHeaderChecksum(tar_ustarheader *header)
{
    // At most 512 * 255: six octal digits.
    const QByteArray digits = QByteArray::number(tarHeaderChecksum(header), 8);
    std::memset(header->chksum, 0, sizeof(header->chksum));
    std::memcpy(header->chksum, digits.constData(), size_t(digits.size()));
}

} // namespace TarPatch
