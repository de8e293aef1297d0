// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobcontrol.h"

#include <initializer_list>

// Termination signals turned into a cancelled job and a clean exit. The
// handler only records the signal, cancels the running job and wakes an
// event loop through a pipe (all async-signal-safe); the program then
// cleans up as after a failure and ends.
namespace Interruption {

// Handles these signals from now on. With wakeUp, the returned descriptor
// becomes readable on each of them (for a QSocketNotifier); otherwise -1.
int install(std::initializer_list<int> signalNumbers, bool wakeUp = false);

// Ignores SIGPIPE and SIGXFSZ: a closed pipe or the file size limit then
// fails the write (EPIPE, EFBIG) instead of killing the program untidily.
void ignoreWriteSignals();

// The first handled signal received, or 0.
int received();

// Cancels the job while it runs, at once if a signal came before; several
// jobs may run side by side, each with its own.
class CancelOnSignal
{
public:
    explicit CancelOnSignal(JobControl &control);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal &) = delete;
    CancelOnSignal &operator=(const CancelOnSignal &) = delete;

private:
    int m_slot = 0;
};

// For tests that signal at a known point: when TANDO_TEST_PAUSE_AT names
// this point, says so once on standard error and waits for a handled signal
// (a minute at most).
void pauseAt(const char *point);

} // namespace Interruption
