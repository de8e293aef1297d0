// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruption.h"

#include "processfacts.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace Interruption {

namespace {

std::atomic<int> firstSignal{0};
// The jobs running now: a few may run side by side (a diff reads both its
// archives at once).
constexpr int MaxRunningJobs = 4;
std::atomic<JobControl *> runningJobs[MaxRunningJobs] = {};
std::atomic<int> wakeUpWriteEnd{-1};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<JobControl *>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

void handle(int signalNumber)
{
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signalNumber);
    for (std::atomic<JobControl *> &running : runningJobs) {
        if (JobControl *job = running.load())
            job->cancelled.store(true);
    }
    const int fd = wakeUpWriteEnd.load();
    if (fd >= 0) {
        const char byte = char(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

int makeWakeUpPipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    wakeUpWriteEnd.store(fds[1]);
    return fds[0];
}

} // namespace

int install(std::initializer_list<int> signalNumbers, bool wakeUp)
{
    const int readEnd = wakeUp ? makeWakeUpPipe() : -1;
    struct sigaction action {};
    action.sa_handler = handle;
    sigemptyset(&action.sa_mask);
    for (int s : signalNumbers)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int s : signalNumbers)
        ::sigaction(s, &action, nullptr);
    return readEnd;
}

void ignoreWriteSignals()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

int received()
{
    return firstSignal.load();
}

CancelOnSignal::CancelOnSignal(JobControl &control)
{
    for (m_slot = 0; m_slot < MaxRunningJobs; ++m_slot) {
        JobControl *none = nullptr;
        if (runningJobs[m_slot].compare_exchange_strong(none, &control))
            break;
    }
    // More jobs than slots cannot happen here; such a job would only not be
    // cancelled while it runs.
    if (received())
        control.cancelled.store(true);
}

CancelOnSignal::~CancelOnSignal()
{
    if (m_slot < MaxRunningJobs)
        runningJobs[m_slot].store(nullptr);
}

void pauseAt(const char *point)
{
    if (Archive::testPausePoint() != point)
        return;
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!done.insert(point).second)
            return;
    }
    std::fprintf(stderr, "paused at %s\n", point);
    std::fflush(stderr);
    const struct timespec step {0, 10 * 1000 * 1000};
    for (int i = 0; i < 6000 && !received(); ++i)
        ::nanosleep(&step, nullptr);
}

} // namespace Interruption
