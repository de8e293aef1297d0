// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>


// Small POSIX helpers of the archive layer.
namespace Archive {

// The system's text for an errno value.
QString errnoText(int error);

// A file descriptor that is closed when it goes out of scope, unless closed
// explicitly first (which reports the result).
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(-1); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd);
    // Closes now; fails with the system's reason.
    Result close();

private:
    int m_fd = -1;
};

// Writes all bytes, going on after interruptions; the system's reason on failure.
Result writeAll(int fd, const char *data, qint64 size);

// Reads up to size bytes at offset, going on after interruptions; -1 on
// failure (errno set). The file position stays where it is, so that readers
// of one descriptor never move each other's place.
qint64 readAt(int fd, char *data, qint64 size, qint64 offset);

// A file name as text, for messages.
QString shown(const QByteArray &name);

} // namespace Archive
