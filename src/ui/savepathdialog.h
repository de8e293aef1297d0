// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWindow;

// The file dialogs of the window: the platform's widget dialogs, kept modal
// over owner (may be null) and opened in startFolder (when it exists), with
// the name field empty. Each returns the chosen path, or an empty text on
// cancel; owner is asked to take the keyboard back when the dialog closes.

// Where to store the project. Offers "*.tgz" first, appends ".tgz" to a name
// typed without extension and asks nothing about existing files, because the
// store replaces them.
QString askSavePath(QWindow *owner, const QString &startFolder = QString());

// Where to write the device list. Offers "*.csv" first, appends ".csv" to a
// name typed without extension and asks before replacing a file, which may
// hold a spreadsheet's work.
QString askCsvSavePath(QWindow *owner, const QString &startFolder = QString());

// Which changes file to read: an existing file, "*.csv" offered first.
QString askCsvOpenPath(QWindow *owner, const QString &startFolder = QString());
