// SPDX-License-Identifier: GPL-3.0-or-later
#include "entryfacts.h"

#include <archive.h>
#include <archive_entry.h>

#include <isa-l/crc64.h>

#include <algorithm>

namespace Archive {

EntryFacts headerFacts(archive_entry *entry, int index, const QByteArray &path, const QByteArray &hardLinkTarget)
{
    EntryFacts facts;
    facts.index = index;
    facts.path = path;
    facts.hardLink = archive_entry_hardlink(entry) != nullptr;
    facts.type = facts.hardLink ? AE_IFREG : archive_entry_filetype(entry);
    if (facts.hardLink)
        facts.linkTarget = hardLinkTarget;
    else if (const char *target = archive_entry_symlink(entry))
        facts.linkTarget = target;
    facts.permissions = archive_entry_perm(entry);
    facts.uid = archive_entry_uid(entry);
    facts.gid = archive_entry_gid(entry);
    if (const char *user = archive_entry_uname(entry))
        facts.user = user;
    if (const char *group = archive_entry_gname(entry))
        facts.group = group;
    facts.mtime = archive_entry_mtime(entry);
    facts.mtimeNanoseconds = archive_entry_mtime_nsec(entry);
    return facts;
}

void addData(EntryFacts *facts, const char *data, size_t size)
{
    // ISA-L's CRC-64 runs at memory speed, well ahead of the gzip decoder;
    // the hashes Qt offers would take longer than decoding.
    facts->crc = crc64_ecma_refl(facts->crc, reinterpret_cast<const unsigned char *>(data), size);
    facts->size += qint64(size);
}

namespace {

void addZeros(EntryFacts *facts, qint64 upTo)
{
    static const char zeros[64 * 1024] = {};
    while (facts->size < upTo)
        addData(facts, zeros, size_t(std::min<qint64>(sizeof zeros, upTo - facts->size)));
}

} // namespace

Result digestData(archive *a, qint64 entrySize, EntryFacts *facts)
{
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a, &block, &size, &offset);
        if (r == ARCHIVE_EOF) {
            addZeros(facts, entrySize);
            return Result::success();
        }
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            const char *text = archive_error_string(a);
            return Result::failure(text ? QString::fromLocal8Bit(text) : QStringLiteral("the data cannot be read"));
        }
        addZeros(facts, offset);
        addData(facts, static_cast<const char *>(block), size);
    }
}

} // namespace Archive
