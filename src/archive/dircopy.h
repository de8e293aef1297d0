#pragma once

#include <QString>
#include <QStringList>

// Copies the tree below source into destination, file by file: the files of a
// directory first (sorted by name, ignoring case), then its subdirectories.
// Hidden entries are skipped; symbolic links are copied as links. Returns
// false at the first failure, after debug lines naming it.
bool copyDirectory(QString source, QString destination);
