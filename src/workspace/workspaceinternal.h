#pragma once

// Internal switches of the workspace operations, for tests only: the editor
// and the command-line tool never change them.
namespace Workspace {
namespace Internal {

// Loading a ".tgz" in one pass over its gzip layer and storing without
// writing into the working tree (on by default). Off, loading and storing go
// step by step: gzip layer to a file, the tar unpacked twice; edits written
// into the working tree, tar file, name patching, gzip, full restore.
void setFastPaths(bool enabled);
bool fastPaths();

} // namespace Internal
} // namespace Workspace
