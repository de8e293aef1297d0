// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

// What the caller of a long operation (a load or a store) can see and do
// while it runs, from any thread: progress reports and a cancel request.
// Stages report bytes of the archive processed and check `cancelled`
// between entries; a cancelled operation cleans up as a failed one does.
struct JobControl
{
    enum class Phase { Reading, Compressing, Writing }; // Writing: a store without gzip
    // What a person is told the job is doing.
    static const char *phaseName(Phase phase)
    {
        switch (phase) {
        case Phase::Reading:
            return "Reading";
        case Phase::Compressing:
            return "Compressing";
        case Phase::Writing:
            return "Writing";
        }
        return "";
    }

    std::atomic<bool> cancelled{false};
    // Called on the working thread; keep it cheap. May be empty.
    std::function<void(Phase phase, qint64 done, qint64 total)> progress;

    void report(Phase phase, qint64 done, qint64 total) const
    {
        if (progress)
            progress(phase, done, total);
    }
    bool isCancelled() const { return cancelled.load(std::memory_order_relaxed); }
};
