// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCommandLineParser;

// The tool's command line: its help text, its options and what it checks of
// them before the archive is read.

// Declares every option, --help and --version too, and the help text.
void declareOptions(QCommandLineParser &parser);

// The command line as given, checked before the archive is read. Success,
// or the code after its message.
int checkArguments(const QCommandLineParser &parser);
