// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What a store leaves behind when the program is killed: a hidden
// half-written file beside the target. Its name carries the owner's tag
// (processfacts.h), so that a later store to the same target removes those
// whose owner has gone and leaves alone everything else: other programs'
// files, and those of runs still going. The mark is the name alone.
namespace Archive {

// mkstemps() template for the hidden file that replaces directory/fileName:
// "<directory>/.<fileName>.<owner tag>.XXXXXX.part" (suffix of 5).
QString hiddenFileTemplate(const QString &directory, const QString &fileName);

// Removes the hidden files for directory/fileName whose owner has gone.
void removeStaleHiddenFiles(const QString &directory, const QString &fileName);

} // namespace Archive
