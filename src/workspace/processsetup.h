// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobcontrol.h"
#include "result.h"

#include <QString>

// What the editor and the tool need of their process around loads and
// stores, so that neither reaches below the workspace for it.
namespace Workspace {

enum class Host { Tool, Window };

// First thing in main(), before any thread: reads the umask, lets a closed
// pipe or the file size limit fail a write rather than kill the program,
// and turns termination signals into a cancel of the running job (the tool:
// SIGHUP, SIGINT, SIGTERM; the window: SIGINT, SIGTERM). The tool also takes
// the archive limits from TANDO_UNPACK_MAX_BYTES and TANDO_UNPACK_MAX_ENTRIES.
// For the window, returns a descriptor that becomes readable on each signal
// (for a QSocketNotifier); otherwise -1.
int prepareProcess(Host host);

// The first termination signal received, or 0.
int stopSignal();

// Whether a store may replace target: a regular file, a link to one, or a
// name not taken yet; a directory or a device is refused.
Result checkStoreTarget(const QString &target);

} // namespace Workspace
