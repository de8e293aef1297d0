#pragma once

#include <QString>

class QWindow;

// Asks where to store the project, with the platform's save dialog kept modal
// over owner (may be null) and opened in startFolder (when it exists). Offers
// "*.tgz" first, appends ".tgz" to a name typed without extension and asks
// nothing about existing files, because the store replaces them; the name
// field starts empty. Returns the chosen path, or an empty text on cancel.
// owner is asked to take the keyboard back when the dialog closes.
QString askSavePath(QWindow *owner, const QString &startFolder = QString());
