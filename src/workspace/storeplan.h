// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectdata.h"
#include "result.h"

#include <QHash>

namespace Workspace {

// What a store changes, worked out before anything is written: the new
// contents of the files that hold an edited value, and the device
// directories that move. Every other entry is copied as it is.
struct StorePlan
{
    QHash<int, QByteArray> files;         // entry index -> new data
    QHash<QByteArray, QByteArray> moves;  // family + "/" + directory name -> its new name
    std::shared_ptr<const OpenedProject> opened;

    // How the store writes one entry of the archive.
    TarStream::EntryEdit edit(int index, const TarStream::EntryInfo &entry) const;
    // The path with a moved device directory's new name; empty when nothing moves.
    QByteArray movedPath(const QByteArray &path) const;
    // The same for the name of an extension header, which may name the
    // directory from beside it.
    QByteArray movedHeaderName(const QByteArray &name) const;
    // The target of the symbolic link at linkPath, rewritten to lead into the
    // new directory where it led into a moved one; empty when unchanged.
    QByteArray movedLinkTarget(const QByteArray &linkPath, const QByteArray &target) const;

private:
    void editLink(int index, TarStream::EntryEdit *edit) const;
};

// Fails, naming the file and the field, when an edited value has no place
// to go (a missing, malformed or refused file, a missing element) or a
// device directory cannot move (another device has the new name).
Result planStore(const StoreRequest &request, StorePlan *plan);

} // namespace Workspace
