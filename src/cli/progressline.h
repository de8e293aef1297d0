// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "processsetup.h"

#include <chrono>

// A line on a terminal's standard error that tells how far a load or store
// is: "Reading  42 %". Written a few times a second at most, cleared when
// the work is done; nothing at all when standard error is no terminal.
class ProgressLine
{
public:
    // Reports of `control` go to the line from now on (when enabled).
    ProgressLine(JobControl &control, bool enabled);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // Removes the line, before other output; the next report shows it again.
    void clear();

private:
    void show(JobControl::Phase phase, qint64 done, qint64 total);

    JobControl &m_control;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last;
};
