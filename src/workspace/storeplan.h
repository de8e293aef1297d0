#pragma once

#include "projectarchive.h"
#include "projectdata.h"
#include "result.h"

namespace Workspace {

// What a store changes, worked out before anything is written: the new
// contents of the files that hold an edited value, the device directories
// that move, and the renaming of device paths in the tar's entry names.
// Files that hold no edited value keep their bytes.
struct StorePlan
{
    Archive::TreeOverlay overlay;
    Archive::NamePatches namePatches;
};

// Fails, naming the file and the field, when an edited value has no place
// to go (a missing, malformed or refused file, a missing element) or a
// device directory cannot move (another entry has the new name).
Result planStore(const StoreRequest &request, StorePlan *plan);

// The renaming of device paths in a stored tar: each known device's
// directory from the underscore to the colon form of its new MAC.
Archive::NamePatches devicePathPatches(const QList<DeviceRecord> &devices);

} // namespace Workspace
