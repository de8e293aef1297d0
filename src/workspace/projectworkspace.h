// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

#include "projectdata.h"
#include "jobcontrol.h"
#include "result.h"

class DeviceEntity;
class ProjectEntity;

// The operations on an open project. They work on the project they are given
// and need no display, so the editor's controller and the command-line tool
// share them.
namespace Workspace {

// A file URL (from a drop, a file dialog or the command line) as a local
// path; any other text as it is.
QString localPath(const QString &pathOrUrl);

// Opens the project archive at path (a local path or a file URL): reads it
// once, keeping its index and the files the editor reads, reads the settings
// and lists one device per entry of the device family directories. Nothing
// is unpacked to disk. On failure, the reason, which does not name the
// archive (the caller says which file it could not load); cancelled when
// control was cancelled. Only a complete load replaces a project loaded before.
// control, when given, receives progress and may cancel the load; while it
// runs, a termination signal (prepareProcess()) cancels it too.
Result loadProject(ProjectEntity &project, const QString &path, JobControl *control = nullptr);

// The two halves of loadProject. unpackProject touches no QObject and may
// run on any thread.
// adoptProject makes what it found the project's (GUI thread), replacing a
// project loaded before; its devices go as unloadProject's do.
// finishLoad ends a load on the GUI thread as loadProject does: adopts what
// unpackProject found when it succeeded, else leaves the project as it was.
Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded);

// What a review of an archive (diff, check) asks of a load besides the project.
struct LoadOptions
{
    // When set, sees the facts of every entry, in archive order.
    std::function<void(const Archive::EntryFacts &)> facts;
    // When set, a second spelling of a device directory does not fail the
    // load: its path is added here with the first spelling's path.
    QList<QPair<QByteArray, QByteArray>> *secondSpellings = nullptr;
};
Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded, const LoadOptions &options);
void adoptProject(ProjectEntity &project, const LoadedProject &loaded);
Result finishLoad(ProjectEntity &project, const Result &result, const LoadedProject &loaded);

// Empties the device list, deleting (later, from the event loop) the devices
// that are the project's children, as those a load made are; when a project
// is loaded, lets go of its archive and marks it not loaded.
void unloadProject(ProjectEntity &project);

// Checks every device's new MAC (syntax first; duplicates only when all are
// well-formed) and sets each device's issue text. True when all are valid;
// *invalid, when given, counts the devices with an issue.
bool validateNewSettings(ProjectEntity &project, int *invalid = nullptr);

// Writes the edited project as a new archive at outpath, from the archive as
// it was opened: every entry it does not change is copied byte for byte. An
// existing file at outpath is replaced only when everything succeeded. On
// failure, the reason (naming the file and field when an edited value has no
// place to go); cancelled when control was cancelled before the target was
// replaced. control, when given, receives progress and may cancel the store,
// as a termination signal does while it runs.
Result storeCurrentProject(ProjectEntity &project, const QString &outpath, JobControl *control = nullptr);

// The two halves of storeCurrentProject: what the store needs of the
// project, copied on the GUI thread, and the store itself, which touches no
// QObject and may run on any thread.
// markStored records a successful store in the project's state text.
StoreRequest storeRequest(const ProjectEntity &project, const QString &outpath);
Result storeProject(const StoreRequest &request, JobControl *control = nullptr);
void markStored(ProjectEntity &project, const QString &outpath);

// Whether any setting or device's new label or MAC differs from the archive
// as loaded; false while no project is loaded.
bool hasEdits(const ProjectEntity &project);

// Puts the settings and every device's new label and MAC back as loaded
// and clears the devices' validation messages.
void revertEdits(ProjectEntity &project);

} // namespace Workspace
