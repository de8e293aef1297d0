// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "processsetup.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

// Runs one long operation (a load or a store) on a worker thread while the
// caller waits in a local event loop, as a modal dialog's exec() does: the
// window keeps painting and answering the window manager, and the caller
// still gets the result back. Progress reaches the GUI thread through
// signals; cancel() asks the job to stop at its next entry.
class JobRunner : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<Result(JobControl &control)>;
    // Called on the worker thread at every progress report; for tests that
    // pause a job at a known point.
    using Observer = std::function<void(JobControl::Phase phase, qint64 done, qint64 total)>;

    explicit JobRunner(QObject *parent = nullptr) : QObject(parent) {}

    // Runs work and returns its result; a second job is refused while one runs.
    Result run(const Work &work);
    void cancel();
    bool running() const { return m_running; }
    void setObserver(const Observer &observer) { m_observer = observer; }

signals:
    void runningChanged(bool running);
    // phase as JobControl::Phase; fraction from 0 to 1, or -1 when unknown.
    void progress(int phase, double fraction);

private:
    void report(JobControl::Phase phase, qint64 done, qint64 total);

    bool m_running = false;
    JobControl *m_control = nullptr;
    Observer m_observer;
    std::atomic<int> m_lastShown{-1}; // phase * 10000 + permille, as last posted
};
