// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace Startup {

// Makes AppState, the model types, MacInput and the window's Theme known to
// QML as module Norvel 1.0.
void registerTypes();

// Prepares the application, loads the main document and runs the event loop.
// Returns the loop's exit code, or -1 when the main document cannot be created.
int runEditor(int &argc, char **argv, const QString &mainUrl);

} // namespace Startup
