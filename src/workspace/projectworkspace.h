#pragma once

#include <QString>

class ProjectEntity;

// The operations on an open project. They work on the project they are given
// and need no display, so the editor's controller and the command-line tool
// share them.
namespace Workspace {

// Empties the device list; when a project is loaded, removes its working and
// backup trees and marks it not loaded.
void unloadProject(ProjectEntity &project);

} // namespace Workspace
