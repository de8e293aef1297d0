#pragma once

#include <QString>

// What a program run leaves behind when it is killed: unpacked trees in the
// temporary directory and a hidden half-written file beside a target. Their
// names carry the owner's tag (processfacts.h), so that a later run removes
// those whose owner has gone and leaves alone everything else: other
// programs' files, and those of runs still going. The mark is the name
// alone: removing a tree or a hidden file removes its mark with it, and a
// tree removed and made again under the same name stays marked.
namespace Archive {

// mkdtemp() template for a new tree in the temporary directory:
// "<temp>/<application>-tando-<owner tag>-XXXXXX".
QString treeTemplate();

// mkstemps() template for the hidden file that replaces directory/fileName:
// "<directory>/.<fileName>.<owner tag>.XXXXXX.part" (suffix of 5).
QString hiddenFileTemplate(const QString &directory, const QString &fileName);

// Removes the trees in the temporary directory whose owner has gone. Both
// programs call it at start-up.
void removeStaleLeftovers();

// Removes the hidden files for directory/fileName whose owner has gone.
void removeStaleHiddenFiles(const QString &directory, const QString &fileName);

} // namespace Archive
