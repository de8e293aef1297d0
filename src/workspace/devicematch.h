// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectdiff.h"
#include "projectreview.h"

#include <QHash>
#include <QSet>

// Which device of one archive is which of another: by family and MAC, and
// a directory that went with one of the same family that came, holding the
// same files, as one device re-addressed.
namespace Workspace {

// The entries of each device directory ("active-project/devices/<family>/<name>"),
// its own entry among them, in archive order.
using EntriesByDir = QHash<QByteArray, QList<const Archive::EntryFacts *>>;
EntriesByDir entriesByDeviceDir(const ReviewedProject &project);

// The directory an entry lies in or is, when that lies in the devices
// directory ("active-project/devices/<family>/<name>"); empty when not.
QByteArray deviceDirOf(const QByteArray &path);

struct DeviceMatch
{
    QList<DeviceChange> changes;                                  // by family, listing order
    QList<QPair<const DeviceRecord *, const DeviceRecord *>> same; // old and new of each device in both
    QHash<QByteArray, QByteArray> moves; // "<family>/<old name>" -> new name, as a store moves them
    QSet<QByteArray> removedDirs;        // old directories of removed devices
    QSet<QByteArray> addedDirs;          // new directories of added devices
};

DeviceMatch matchDevices(const ReviewedProject &before, const EntriesByDir &beforeDirs, const ReviewedProject &after,
                         const EntriesByDir &afterDirs);

} // namespace Workspace
