// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>
#include <QString>

struct archive_entry;

namespace Archive {

// Checks the entries of one archive as they are read. Nothing is unpacked,
// but an archive that would harm whatever unpacks it later is refused:
// absolute names, ".." components, links leading out of the tree, device
// nodes, FIFOs, sockets, paths too long to be used again, entries below a
// symbolic link of the archive.
class EntryGuard
{
public:
    // Fails, saying why, for an entry that is refused. *parts gets the
    // name's components, empty and "." ones dropped; none for an entry that
    // stands for the archive's top directory.
    Result check(archive_entry *entry, QByteArrayList *parts);

private:
    Result throughSymlink(const QByteArrayList &parts) const;

    QSet<QByteArray> m_symlinks;
};

} // namespace Archive
