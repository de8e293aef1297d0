// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobcontrol.h"
#include "result.h"

#include <QList>
#include <QString>

// How two project archives differ, as a user thinks of them: settings,
// devices, profiles, then every other entry.
namespace Workspace {

// One value before and after: a setting ("name"), a header field ("mode").
struct ValueChange
{
    QString what;
    QString before;
    QString after;
};

struct DeviceChange
{
    enum Kind { Relabelled, Readdressed, Added, Removed };
    Kind kind = Relabelled;
    QString type;
    QString mac;    // as the old archive has it; an added device's as the new one has it
    QString before; // Relabelled: the labels; Readdressed: the MACs
    QString after;
    QString label;  // Added, Removed
    int entries = 0; // Added, Removed: the entries of its directory, the directory's own too
};

// One side of a profile's pair; a missing element is null.
struct ProfilePair
{
    QString mac;
    QString unitname;
    bool isNull() const { return mac.isNull() && unitname.isNull(); }
};

struct PairChange
{
    QString profile; // its path in the new archive
    int pair = 0;    // 1-based
    ProfilePair before;
    ProfilePair after;
};

struct EntryChange
{
    enum Kind { Added, Removed, Content, Header };
    Kind kind = Added;
    QString path; // in the new archive; a removed entry's in the old one
    QList<ValueChange> fields; // Content and Header: the header fields that differ
};

struct ProjectDiff
{
    QList<ValueChange> settings;
    QList<DeviceChange> devices;
    QList<PairChange> pairs;
    QList<EntryChange> entries; // by path
    QString firstOutOfOrder;    // the first entry found in another place among the rest; empty: same order

    bool isSame() const
    {
        return settings.isEmpty() && devices.isEmpty() && pairs.isEmpty() && entries.isEmpty() && firstOutOfOrder.isNull();
    }
};

// Reads both archives once each (entry data by checksum, nothing unpacked)
// and compares them. An entry of a directory that the diff tells as a
// device added or removed is not listed again, nor a project file's content
// when its settings, label or pairs tell the change; entries of a device
// that moved are compared with their new names. Fails, naming the archive,
// when one cannot be loaded.
Result diffProjects(const QString &oldPath, const QString &newPath, JobControl *control, ProjectDiff *diff);

} // namespace Workspace
