#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <functional>

struct archive_entry;

namespace Archive {

// Renames components of an unpacked entry's name (relative, split at "/")
// before it is written; the project layer names its device directories so.
// Returns why the entry must be refused, or an empty text.
using NameMapper = std::function<QString(QByteArrayList *parts)>;

// Checks one tar entry before anything of it is written, and points its
// names (and a hard link's target) at the destination directory. Refused:
// absolute names, ".." components, links leading out of the tree, device
// nodes, FIFOs, sockets, paths too long to be used again. Set-id bits are
// dropped; the owner can always read and write what is unpacked, so the
// tree can be removed. Returns why the entry is refused, or an empty text;
// sets *skip for an entry that stands for the destination itself.
QString guardEntry(archive_entry *entry, const QByteArray &destination, const NameMapper &mapper, bool *skip);

} // namespace Archive
