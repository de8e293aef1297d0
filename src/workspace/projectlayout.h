// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// Where a project keeps what the editor reads and writes inside its archive;
// paths are components joined by "/":
//   active-project/project.xml                     the settings
//   active-project/devices/<family>/<MAC>/prefs    a device's label
//   active-project/devices/tando/<MAC>/profiles/*  a Tando device's profiles
namespace Workspace {

extern const QString tandoType; // "TANDO/QL3"
extern const QString ksb12Type; // "KSB12"

namespace Layout {

extern const QByteArray projectDir;  // "active-project"
extern const QByteArray devicesDir;  // "devices", in projectDir
extern const QByteArray projectFile; // "active-project/project.xml"

// The directory of a device type's family in devicesDir: "tando" or "ksb12".
QByteArray familyName(const QString &type);
// "active-project/devices/<family>"
QByteArray familyPath(const QByteArray &family);
// The prefs file of the device whose directory in its family is deviceDir.
QByteArray prefsPath(const QString &type, const QByteArray &deviceDir);

// What an entry of the archive is to the project, by its name's components.
struct Place
{
    enum Kind {
        Outside,     // not in projectDir
        Other,       // in projectDir, nothing the editor reads
        ProjectFile, // projectFile
        InDevice,    // in a device directory, nothing the editor reads
        Prefs,       // a device's prefs file
        Profile,     // a file directly in a Tando device's profiles, not hidden
    };
    Kind kind = Outside;
    QByteArray family; // for the last three kinds
    QByteArray device; // the device directory's name, likewise
};
Place placeOf(const QByteArrayList &parts);

} // namespace Layout
} // namespace Workspace
