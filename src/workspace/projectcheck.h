// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobcontrol.h"
#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

// What in a project would stop a store or surprise the devices, found
// without changing anything.
namespace Workspace {

struct Finding
{
    enum Kind {
        SameMac,           // two device directories name one MAC
        NotAMac,           // a device directory's name is no MAC
        NoPrefs,           // a Tando device without prefs
        PrefsUnreadable,   // its prefs do not parse
        ProfileUnreadable, // a profile does not parse
        UnknownMac,        // profiles name a MAC that no device has
        PairCounts,        // a profile's <mac> and <unitname> counts differ
    };
    Kind kind = SameMac;
    QString path; // of the directory or file it is about (the first profile for UnknownMac)
    QString text; // what was found, for a person
    QString mac;          // UnknownMac: the text as the first profile writes it
    QStringList profiles; // UnknownMac: every profile that names it, in path order
};

// A short name of the kind, for scripts ("same-mac").
QString kindName(Finding::Kind kind);

// Reads the archive at path once and lists what it finds, sorted by path.
// Fails, with the reason, only when the archive cannot be loaded; cancelled
// when control was cancelled.
Result checkProject(const QString &path, JobControl *control, QList<Finding> *findings);

} // namespace Workspace
