// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Facts about this process that are read once, before any thread runs, and
// never change afterwards: the umask (reading it with umask() would set it,
// which races with threads creating files) and what names this process as
// the owner of its temporary files.
namespace Archive {

// Reads the facts; runs during static initialisation and again, harmlessly,
// first thing in main(). Later calls change nothing.
void captureProcessFacts();

// The umask the program was started with.
mode_t processUmask();

// "<pid namespace>-<pid>-<start time>": names this process among all that
// ever ran on this machine (a pid alone is reused). Empty when /proc cannot
// tell; then nothing made by this process is ever taken for stale.
QString ownerTag();

enum class Owner {
    Alive,   // still running, or cannot be told: keep what it made
    Gone,    // no longer running: what it made may be removed
};
// Whether the process named by a tag from ownerTag() still runs. Tags of
// another pid namespace count as alive: their processes cannot be seen.
Owner ownerState(const QString &tag);

// The point where a test wants the program to stop and wait for a signal
// (TANDO_TEST_PAUSE_AT: "load" or "store"); empty normally.
QByteArray testPausePoint();

} // namespace Archive
