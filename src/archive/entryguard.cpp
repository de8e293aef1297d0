// SPDX-License-Identifier: GPL-3.0-or-later
#include "entryguard.h"

#include "posixfile.h"

#include <archive_entry.h>

#include <climits>

namespace Archive {

namespace {

// Splits a relative entry name into its components, dropping empty and "."
// components. Fails for names that must not be written.
Result splitEntryName(const QByteArray &name, QByteArrayList *parts)
{
    parts->clear();
    if (name.isEmpty())
        return Result::failure(QStringLiteral("entry without a name"));
    if (name.startsWith('/'))
        return Result::failure(QStringLiteral("absolute path"));
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return Result::failure(QStringLiteral("path contains \"..\""));
        parts->append(part);
    }
    return Result::success();
}

// A symbolic link may only point into the extracted tree. Its target is
// checked by its text: leading ".." components climb real directories (the
// link's own parents are never links), and after the first named component no
// ".." may follow, because a named component may itself be a link whose
// parent is elsewhere.
Result symlinkTargetError(const QByteArrayList &linkParts, const QByteArray &target)
{
    if (target.isEmpty())
        return Result::failure(QStringLiteral("symbolic link without a target"));
    if (target.startsWith('/'))
        return Result::failure(QStringLiteral("symbolic link to the absolute path %1").arg(shown(target)));
    int depth = linkParts.size() - 1;
    bool descended = false;
    bool climbsAfterName = false;
    for (const QByteArray &part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            climbsAfterName = climbsAfterName || descended;
            if (--depth < 0)
                return Result::failure(QStringLiteral("symbolic link to %1 leaves the unpacked tree").arg(shown(target)));
        } else {
            descended = true;
            ++depth;
        }
    }
    if (climbsAfterName)
        return Result::failure(QStringLiteral("symbolic link to %1 climbs through a named directory").arg(shown(target)));
    return Result::success();
}

Result typeError(mode_t type)
{
    switch (type) {
    case AE_IFREG:
    case AE_IFDIR:
    case AE_IFLNK:
        return Result::success();
    case AE_IFCHR:
        return Result::failure(QStringLiteral("character device"));
    case AE_IFBLK:
        return Result::failure(QStringLiteral("block device"));
    case AE_IFIFO:
        return Result::failure(QStringLiteral("FIFO"));
    case AE_IFSOCK:
        return Result::failure(QStringLiteral("socket"));
    default:
        return Result::failure(QStringLiteral("unknown entry type"));
    }
}

Result guardHardlink(archive_entry *entry)
{
    const QByteArray hardlink(archive_entry_hardlink(entry));
    QByteArrayList targetParts;
    Result result = splitEntryName(hardlink, &targetParts);
    if (result && targetParts.isEmpty())
        result = Result::failure(QStringLiteral("names the top directory"));
    return result ? result : Result::failure(QStringLiteral("hard link target %1: %2").arg(shown(hardlink), result.reason()));
}

} // namespace

Result EntryGuard::check(archive_entry *entry, QByteArrayList *parts)
{
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray name = rawName ? QByteArray(rawName) : QByteArray();
    Result result = splitEntryName(name, parts);
    if (!result)
        return Result::failure(QStringLiteral("%1: %2").arg(shown(name), result.reason()));

    const bool isHardlink = archive_entry_hardlink(entry) != nullptr;
    const mode_t type = archive_entry_filetype(entry);
    if (parts->isEmpty()) {
        if (type == AE_IFDIR && !isHardlink)
            return Result::success();
        return Result::failure(QStringLiteral("%1: names the top directory itself").arg(shown(name)));
    }
    if (isHardlink)
        result = guardHardlink(entry);
    else if (type == AE_IFLNK)
        result = symlinkTargetError(*parts, QByteArray(archive_entry_symlink(entry)));
    else
        result = typeError(type);
    if (result)
        result = throughSymlink(*parts);
    if (!result)
        return Result::failure(QStringLiteral("%1: %2").arg(shown(name), result.reason()));
    // Longer paths cannot be opened, listed or removed by their name.
    if (name.size() >= PATH_MAX)
        return Result::failure(QStringLiteral("%1...: path too long").arg(shown(name.left(100))));
    if (type == AE_IFLNK && !isHardlink)
        m_symlinks.insert(parts->join('/'));
    return Result::success();
}

// An entry below a symbolic link of the archive would be written wherever
// the link points when the archive is unpacked.
Result EntryGuard::throughSymlink(const QByteArrayList &parts) const
{
    if (m_symlinks.isEmpty())
        return Result::success();
    QByteArray prefix;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        prefix += (i ? "/" : "") + parts.at(i);
        if (m_symlinks.contains(prefix))
            return Result::failure(QStringLiteral("lies below the symbolic link %1").arg(shown(prefix)));
    }
    return Result::success();
}

} // namespace Archive
