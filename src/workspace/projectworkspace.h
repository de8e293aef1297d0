#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

#include "projectarchive.h"
#include "projectdata.h"
#include "jobcontrol.h"
#include "result.h"

class DeviceEntity;
class ProjectEntity;

// The operations on an open project. They work on the project they are given
// and need no display, so the editor's controller and the command-line tool
// share them.
namespace Workspace {

extern const QString tandoType; // "TANDO/QL3"
extern const QString ksb12Type; // "KSB12"

// Removes a project's trees that are no longer needed; without one they are
// removed at once (a window hands them to a BackgroundRemoval instead).
using TreeDisposal = std::function<void(const QStringList &trees)>;

// Opens the project archive at path (a local path or a file URL): unpacks it
// into a working and a backup tree, reads the settings and appends one device
// per entry of the device family directories. On failure, the reason.
// control, when given, receives progress and may cancel the load.
Result loadProject(ProjectEntity &project, const QString &path, JobControl *control = nullptr);

// The two halves of loadProject. unpackProject touches no QObject and may
// run on any thread; on failure or cancel nothing of it stays on disk.
// adoptProject makes what it found the project's (GUI thread), replacing a
// project loaded before.
// finishLoad ends a load on the GUI thread as loadProject does: adopts what
// unpackProject found, or after a failed unpacking unloads the project.
Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded);
void adoptProject(ProjectEntity &project, const LoadedProject &loaded, const TreeDisposal &dispose = {});
Result finishLoad(ProjectEntity &project, const Result &result, const LoadedProject &loaded,
                  const TreeDisposal &dispose = {});

// Empties the device list; when a project is loaded, removes its working and
// backup trees and marks it not loaded.
void unloadProject(ProjectEntity &project, const TreeDisposal &dispose = {});

// Removes the working and backup trees of a loaded project and changes
// nothing else; for a program that ends with a project still loaded.
void discardTrees(ProjectEntity &project, const TreeDisposal &dispose = {});

// Checks every device's new MAC (syntax first; duplicates only when all are
// well-formed) and sets each device's issue text. True when all are valid.
bool validateNewSettings(ProjectEntity &project);

// Writes the edited project as a new archive at outpath; the working tree
// is read, never written. An existing file at outpath is replaced only when
// everything succeeded. On failure, the reason (naming the file and field
// when an edited value has no place to go).
// control, when given, receives progress and may cancel the store.
Result storeCurrentProject(ProjectEntity &project, const QString &outpath, JobControl *control = nullptr);

// The two halves of storeCurrentProject: what the store needs of the
// project, copied on the GUI thread, and the store itself, which touches no
// QObject and may run on any thread.
// markStored records a successful store in the project's state text.
StoreRequest storeRequest(const ProjectEntity &project, const QString &outpath);
Result storeProject(const StoreRequest &request, JobControl *control = nullptr);
void markStored(ProjectEntity &project, const QString &outpath);

// The devices by the colon form of their old MAC; a later device with the
// same key replaces an earlier one.
QMap<QString, DeviceEntity *> devicesByOldMac(const ProjectEntity &project);

// Renames the device directories inside a packed tar from the underscore to
// the colon form of each device's new MAC and fixes the header checksums.
bool patchTarDevicePaths(const ProjectEntity &project, const QString &tarPath);

// Names the device directories of an unpacked project in the underscore
// form (normalizeMac with "_", any other ":" becoming "_"), and refuses a
// second spelling of a device directory already seen in the same family
// (two entries that would become one directory). One mapper per unpacking.
Archive::NameMapper deviceDirectoryMapper();

} // namespace Workspace
