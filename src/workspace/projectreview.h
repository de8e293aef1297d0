// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectdata.h"
#include "result.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

// An archive read for review rather than editing (diff, check): the project
// as the editor loads it, and what the editor's load does not keep.
namespace Workspace {

struct ReviewedProject
{
    LoadedProject loaded;
    std::vector<Archive::EntryFacts> entries; // every entry, archive order; only when asked for
    // A device directory in a second spelling of its MAC (path), and the
    // first spelling's path; only when asked for.
    QList<QPair<QByteArray, QByteArray>> secondSpellings;

    // The path of a device's directory, "active-project/devices/<family>/<name>".
    QByteArray deviceDirPath(const DeviceRecord &device) const;
};

struct ReviewRead
{
    bool facts = false;           // read every entry's data into its checksum
    bool secondSpellings = false; // list a second spelling of a device rather than fail
};

// Reads the archive once, as loadProject does (a signal cancels it).
Result readForReview(const QString &path, const ReviewRead &what, JobControl *control, ReviewedProject *project);

// A profile's <mac> and <unitname> texts in document order: the i-th of
// each make the i-th pair, as the devices read them.
struct ProfilePairs
{
    Result parsed; // the reason when the file is missing or does not parse
    QStringList macs;
    QStringList unitnames;

    bool operator==(const ProfilePairs &other) const { return macs == other.macs && unitnames == other.unitnames; }
    bool operator!=(const ProfilePairs &other) const { return !(*this == other); }
};
ProfilePairs readProfilePairs(const OpenedProject &opened, const QByteArray &path);

} // namespace Workspace
