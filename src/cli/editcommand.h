// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

class ProgressLine;
class ProjectEntity;
class QCommandLineParser;
struct JobControl;

// Applies the edit command's --name, --author, --description, --mac, --label
// and --changes (the changes file's bytes read before the load). Success, or
// the code of the first usage error after its message. A device may be named
// once per option, and not by both an option and the changes file.
int applyEdits(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes);

// The edit command on a loaded project: applies the edits, validates the new
// MACs and, unless --dry-run, stores OUTPUT. Returns the exit code.
int runEdit(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes, JobControl &control,
            ProgressLine &progress);
