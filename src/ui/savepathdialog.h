#pragma once

#include <QString>

class QWindow;

// Asks where to store the project, with the platform's save dialog kept modal
// over owner (may be null). Offers "*.tgz" first, appends ".tgz" to a name
// typed without extension and asks nothing about existing files, because the
// store replaces them. Returns the chosen path, or an empty text on cancel.
QString askSavePath(QWindow *owner);
