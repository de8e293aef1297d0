// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ProjectEntity;
class QFile;

// The device list as CSV, out for a spreadsheet and back in as changes.
// Files follow RFC 4180: a header line; fields separated by commas, or by
// semicolons when the header line holds more of them; a field quoted with
// '"' where needed, '""' standing for a quote; UTF-8 with or without a
// byte-order mark; LF or CRLF line ends.
namespace Workspace::DeviceCsv {

enum class Columns {
    Loaded,    // type,label,mac: the devices as loaded
    WithEdits, // type,label,mac,new_label,new_mac: and each edited label and MAC
};

// A header line and one line per device in list order, the MAC as loaded in
// colon form; new_label and new_mac are empty where nothing was edited.
// Comma-separated UTF-8 without a byte-order mark, LF line ends.
QByteArray write(const ProjectEntity &project, Columns columns);
// write() to the file at path, whole or not at all.
Result writeFile(const ProjectEntity &project, Columns columns, const QString &path);

// What one row of a changes file does to one device.
struct Change
{
    int device = -1; // index in the project's device list
    int line = 0;    // where the row starts in the file
    std::optional<QString> newLabel;
    std::optional<QString> newMac; // whole, in colon form
};

// Reads a changes file: a "mac" column naming each device by its MAC as
// loaded, and a "new_mac" column, a "new_label" column or both; other
// columns are ignored, and column names are matched without regard to letter
// case and surrounding blanks. An empty cell changes nothing. Returns one
// "FILE:LINE: reason" per problem in line order (fileName as given); when
// there is none, *changes holds one change per row that changes something.
QStringList readChanges(const QByteArray &bytes, const QString &fileName, const ProjectEntity &project,
                        QList<Change> *changes);

// Gives each named device its new label and MAC through its setters, so they
// are edits as if typed.
void applyChanges(ProjectEntity &project, const QList<Change> &changes);

// Reads an opened changes file, up to a size no list of changes reaches (a
// device or a stream without end, say); fails saying why, naming the file
// as shownName.
Result readFile(QFile &file, const QString &shownName, QByteArray *bytes);

// The problems to show: at most `shown`, then a line counting the rest.
QStringList firstProblems(const QStringList &problems, int shown = 20);

} // namespace Workspace::DeviceCsv
