// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectarchive.h"
#include "projectentity.h"
#include "projectlayout.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

// Plain copies of what a project holds, for work on another thread: the
// entities live in the GUI thread and are read or changed only there.
namespace Workspace {

struct DeviceRecord
{
    QString type;
    QString oldMac;
    QString newMac;
    QString oldLabel;
    QString newLabel;
    bool labelEdited = false; // the device's own rule, DeviceEntity::labelEdited
};

// What a load kept of the archive: the archive itself (its descriptor and
// index, for storing), the files the editor reads, by their path inside the
// archive ("active-project/project.xml", components joined by "/"), and the
// names in the two device family directories.
struct OpenedProject
{
    std::shared_ptr<const Archive::OpenedArchive> archive;
    QHash<QByteArray, int> fileEntries;             // path -> index of the entry that holds it (the last one)
    QHash<int, QByteArray> fileData;                // entry index -> data (a hard link's: what it names)
    QHash<int, int> hardLinks;                      // hard link's entry index -> the kept file it names
    QHash<QString, QByteArray> deviceDirs;          // family + "/" + MAC as loaded -> the directory's name
    QHash<QByteArray, QByteArrayList> profilePaths; // Tando device directory -> its profiles, listing order
    QHash<QByteArray, QByteArray> unreadProfiles;   // profile that is a hard link to no file read -> what it names

    // The data of the file at path; false when the archive holds no such regular file.
    bool file(const QByteArray &path, QByteArray *data) const;
    // The name of a device's directory in the archive, found by its MAC as loaded.
    QByteArray deviceDir(const DeviceRecord &device) const;
};

// What a load found, before it becomes the project's.
struct LoadedProject
{
    std::shared_ptr<const OpenedProject> opened;
    ProjectSettings settings;
    QList<DeviceRecord> devices; // KSB12 devices first, each family in listing order
};

// What a store needs to know of the project.
struct StoreRequest
{
    std::shared_ptr<const OpenedProject> opened;
    ProjectSettings settings;
    ProjectSettings loadedSettings;
    QList<DeviceRecord> devices;
    QString outpath;
};

} // namespace Workspace
