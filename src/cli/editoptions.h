#pragma once

#include <QByteArray>

class ProjectEntity;
class QCommandLineParser;

// Applies the edit command's --name, --author, --description, --mac, --label
// and --changes (the changes file's bytes read before the load). Success, or
// the code of the first usage error after its message. A device may be named
// once per option, and not by both an option and the changes file.
int applyEdits(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes);
