// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobrunner.h"

#include <QEventLoop>
#include <QPointer>

#include <system_error>
#include <thread>

Result JobRunner::run(const Work &work)
{
    if (m_running)
        return Result::failure(QStringLiteral("Another load or store is still running"));
    JobControl control;
    control.progress = [this](JobControl::Phase phase, qint64 done, qint64 total) { report(phase, done, total); };
    m_control = &control;
    m_lastShown = -1;
    m_running = true;
    emit runningChanged(true);

    Result result;
    QEventLoop loop;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = work(control);
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
    } catch (const std::system_error &) {
        result = work(control); // no thread to be had: the window waits
    }

    m_control = nullptr;
    m_running = false;
    emit runningChanged(false);
    return result;
}

void JobRunner::cancel()
{
    if (m_control)
        m_control->cancelled = true;
}

// On the worker thread: posts a report only when what it shows changes
// (a permille or the phase), so that thousands of entries do not flood the
// GUI thread's queue.
void JobRunner::report(JobControl::Phase phase, qint64 done, qint64 total)
{
    if (m_observer)
        m_observer(phase, done, total);
    const int permille = total > 0 ? int(qBound<qint64>(0, done * 1000 / total, 1000)) : 1001;
    const int shown = int(phase) * 10000 + permille;
    if (m_lastShown.exchange(shown) == shown)
        return;
    const double fraction = permille > 1000 ? -1.0 : permille / 1000.0;
    QMetaObject::invokeMethod(this, [this, phase, fraction] { emit progress(int(phase), fraction); },
                              Qt::QueuedConnection);
}
