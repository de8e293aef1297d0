// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "projectworkspace.h"

#include <QString>
#include <QTextStream>

// What the tool tells the terminal, and how it ends.
enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

QTextStream &err();
QTextStream &out();

// Prints "tando-project: MESSAGE" on standard error; returns code.
int fail(ExitCode code, const QString &message);

// Control characters in a name, label or MAC would move the terminal's
// cursor or change its colours; they are shown as \xNN instead.
QString printable(const QString &text);

// Standard output must take everything printed: a closed pipe (EPIPE, as
// SIGPIPE is ignored) or a full disk fails the command.
Result flushOutput();

// Tells that a signal stopped the command; returns 128 + its number.
int stopped(int signalNumber);
