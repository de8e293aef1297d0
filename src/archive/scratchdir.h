#pragma once

#include "result.h"

#include <QString>

namespace Archive {

// A new, empty directory in the system's temporary directory for an unpacked
// tree, not removed automatically; its name tells which process made it
// (leftovers.h). Its canonical path; empty, after a debug line, when none
// can be made, and then problem (when given) names the directory and why.
QString newTemporaryDirectory(Result *problem = nullptr);

// Marks a directory as the top of a tree of its own, where the file system
// knows the flag (ext2/3/4). Only a hint: failure changes nothing else.
void placeTreeApart(const QString &directory);

} // namespace Archive
