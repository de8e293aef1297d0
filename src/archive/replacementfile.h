// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "posixfile.h"
#include "result.h"

#include <QString>

// A new file beside the target, under a hidden name that tells its owner
// (leftovers.h), that takes the target's place only when committed;
// otherwise it is removed. The target is a regular file or does not exist;
// a symbolic link is followed, so the link stays and the file it names is
// replaced. The new file gets the target's permission bits, or those a new
// file gets under the umask. It is written, and made ready, only through
// the descriptor that created it: a name swapped for a link meanwhile is
// never opened.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // Checks the target, removes stale hidden files of dead runs for it and
    // makes the new, empty hidden file.
    Result open();
    QString path() const { return m_path; }
    // The new file, open for writing until commit().
    int fd() const { return m_fd.get(); }
    // Gives the new file its owner and mode, syncs and closes it, and moves
    // it over the target in one step; refused once a termination signal has
    // come (the program is ending without a result).
    Result commit();

    // Whether target may be replaced; on success, resolved (when given) is
    // the file to replace: target with every symbolic link followed.
    static Result check(const QString &target, QString *resolved = nullptr);

private:
    QString m_target;
    QString m_resolved;
    QString m_path;
    Archive::Fd m_fd;
    bool m_committed = false;
};
