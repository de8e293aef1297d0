// SPDX-License-Identifier: GPL-3.0-or-later
#include "progressline.h"

#include <unistd.h>

#include <cstdio>

ProgressLine::ProgressLine(JobControl &control, bool enabled) : m_control(control)
{
    if (enabled && ::isatty(STDERR_FILENO))
        m_control.progress = [this](JobControl::Phase phase, qint64 done, qint64 total) { show(phase, done, total); };
}

void ProgressLine::clear()
{
    if (m_shown)
        std::fputs("\r\033[K", stderr);
    m_shown = false;
}

void ProgressLine::show(JobControl::Phase phase, qint64 done, qint64 total)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_last < std::chrono::milliseconds(200))
        return;
    m_last = now;
    m_shown = true;
    if (total > 0)
        std::fprintf(stderr, "\r\033[K%s %3d %%", JobControl::phaseName(phase), int(qBound<qint64>(0, done * 100 / total, 100)));
    else
        std::fprintf(stderr, "\r\033[K%s %lld MB", JobControl::phaseName(phase), static_cast<long long>(done >> 20));
    std::fflush(stderr);
}
