#include "entryguard.h"

#include "posixfile.h"

#include <archive_entry.h>

#include <climits>

namespace Archive {

namespace {

// Splits a relative entry name into its components, dropping empty and "."
// components. Returns an error text for names that must not be written.
QString splitEntryName(const QByteArray &name, QByteArrayList *parts)
{
    parts->clear();
    if (name.isEmpty())
        return QStringLiteral("entry without a name");
    if (name.startsWith('/'))
        return QStringLiteral("absolute path");
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return QStringLiteral("path contains \"..\"");
        parts->append(part);
    }
    return QString();
}

// A symbolic link may only point into the extracted tree. Its target is
// checked by its text: leading ".." components climb real directories (the
// link's own parents are never links), and after the first named component no
// ".." may follow, because a named component may itself be a link whose
// parent is elsewhere.
QString symlinkTargetError(const QByteArrayList &linkParts, const QByteArray &target)
{
    if (target.isEmpty())
        return QStringLiteral("symbolic link without a target");
    if (target.startsWith('/'))
        return QStringLiteral("symbolic link to the absolute path %1").arg(shown(target));
    int depth = linkParts.size() - 1;
    bool descended = false;
    bool climbsAfterName = false;
    for (const QByteArray &part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            climbsAfterName = climbsAfterName || descended;
            if (--depth < 0)
                return QStringLiteral("symbolic link to %1 leaves the unpacked tree").arg(shown(target));
        } else {
            descended = true;
            ++depth;
        }
    }
    if (climbsAfterName)
        return QStringLiteral("symbolic link to %1 climbs through a named directory").arg(shown(target));
    return QString();
}

QString typeError(mode_t type)
{
    switch (type) {
    case AE_IFREG:
    case AE_IFDIR:
    case AE_IFLNK:
        return QString();
    case AE_IFCHR:
        return QStringLiteral("character device");
    case AE_IFBLK:
        return QStringLiteral("block device");
    case AE_IFIFO:
        return QStringLiteral("FIFO");
    case AE_IFSOCK:
        return QStringLiteral("socket");
    default:
        return QStringLiteral("unknown entry type");
    }
}

QString guardHardlink(archive_entry *entry)
{
    const QByteArray hardlink(archive_entry_hardlink(entry));
    QByteArrayList targetParts;
    QString error = splitEntryName(hardlink, &targetParts);
    if (error.isEmpty() && targetParts.isEmpty())
        error = QStringLiteral("names the top directory");
    return error.isEmpty() ? QString() : QStringLiteral("hard link target %1: %2").arg(shown(hardlink), error);
}

} // namespace

QString EntryGuard::check(archive_entry *entry, QByteArrayList *parts)
{
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray name = rawName ? QByteArray(rawName) : QByteArray();
    QString error = splitEntryName(name, parts);
    if (!error.isEmpty())
        return QStringLiteral("%1: %2").arg(shown(name), error);

    const bool isHardlink = archive_entry_hardlink(entry) != nullptr;
    const mode_t type = archive_entry_filetype(entry);
    if (parts->isEmpty()) {
        if (type == AE_IFDIR && !isHardlink)
            return QString();
        return QStringLiteral("%1: names the top directory itself").arg(shown(name));
    }
    if (isHardlink)
        error = guardHardlink(entry);
    else if (type == AE_IFLNK)
        error = symlinkTargetError(*parts, QByteArray(archive_entry_symlink(entry)));
    else
        error = typeError(type);
    if (error.isEmpty())
        error = throughSymlink(*parts);
    if (!error.isEmpty())
        return QStringLiteral("%1: %2").arg(shown(name), error);
    // Longer paths cannot be opened, listed or removed by their name.
    if (name.size() >= PATH_MAX)
        return QStringLiteral("%1...: path too long").arg(shown(name.left(100)));
    if (type == AE_IFLNK && !isHardlink)
        m_symlinks.insert(parts->join('/'));
    return QString();
}

// An entry below a symbolic link of the archive would be written wherever
// the link points when the archive is unpacked.
QString EntryGuard::throughSymlink(const QByteArrayList &parts) const
{
    if (m_symlinks.isEmpty())
        return QString();
    QByteArray prefix;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        prefix += (i ? "/" : "") + parts.at(i);
        if (m_symlinks.contains(prefix))
            return QStringLiteral("lies below the symbolic link %1").arg(shown(prefix));
    }
    return QString();
}

} // namespace Archive
