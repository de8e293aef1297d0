// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

class DeviceEntity;
class ProjectEntity;

// The edit command's --changes FILE: a changes file, applied as the --mac and
// --label options are.

// Reads FILE ("-" for standard input) into *bytes before the archive is
// loaded. Success, or a usage error after its message.
int readChangesFile(const QString &fileName, QByteArray *bytes);

// Applies the file's rows to the project. Any problem, or a device that an
// option names too (`namedByOptions`), is a usage error after one line per
// problem, and nothing is applied.
int applyChangesFile(ProjectEntity &project, const QString &fileName, const QByteArray &bytes,
                     const QSet<const DeviceEntity *> &namedByOptions);
