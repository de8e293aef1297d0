#pragma once

#include "projectentity.h"

#include <QList>
#include <QString>

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
};

// The paths inside an unpacked tree.
struct ProjectTree
{
    QString root; // the working tree, holding active-project

    QString projectFile() const { return root + QStringLiteral("/active-project/project.xml"); }
    QString familyDir(const QString &type) const;
    QString prefsFile(const DeviceRecord &device) const;
    // The regular files (not links) in a Tando device directory's profiles.
    QStringList profileFiles(const QString &deviceDirName) const;
};

// What a load found, before it becomes the project's.
struct LoadedProject
{
    QString work;
    QString backup;
    bool unpacked = false; // the archive itself was read completely
    qint64 tarBytes = 0;
    ProjectSettings settings;
    QList<DeviceRecord> devices; // KSB12 devices first, each family in listing order
};

// What a store needs to know of the project.
struct StoreRequest
{
    ProjectTree tree;
    ProjectSettings settings;
    ProjectSettings loadedSettings;
    QList<DeviceRecord> devices;
    QString outpath;
    qint64 tarBytes = 0; // of the tar as loaded, for progress reports
};

} // namespace Workspace
