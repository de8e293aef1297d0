#pragma once

#include <QString>
#include <QStringList>

// Copies the tree below source into destination, file by file: the files of a
// directory first (sorted by name, ignoring case), then its subdirectories.
// Hidden entries are skipped; symbolic links are copied as links. Returns
// false at the first failure, after debug lines naming it.
bool copyDirectory(QString source, QString destination);

// Copies the tree below source into destination as it is: every entry,
// hidden ones and names in any byte form included, links as links, the mode
// bits of files and directories exactly. For trees that must come back
// whole, such as a project's working tree rebuilt from its backup.
// destination must not exist yet; its parent must. Returns false at the
// first failure, after a debug line naming it.
bool copyDirectoryExactly(const QString &source, const QString &destination);

// Removes the directories at paths and everything below them, links as
// links, never following one, on `threads` threads:
// with online discard, a file system waits for the disk at every freed
// extent, and these waits can overlap.
void removeDirectoryTrees(const QStringList &paths, int threads);
