// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class ProgressLine;
class QCommandLineParser;
struct JobControl;

// The commands that read archives without changing them. Each returns its
// exit code: diff as diff(1) (0 the same, 1 different, 2 trouble), check
// 0 when it finds nothing, 1 with findings, 2 when the archive cannot be
// loaded; 128 + N when signal N stopped it.
int runDiff(const QCommandLineParser &parser, JobControl &control, ProgressLine &progress);
int runCheck(const QCommandLineParser &parser, JobControl &control, ProgressLine &progress);
