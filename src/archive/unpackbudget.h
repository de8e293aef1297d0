// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QString>
#include <QtGlobal>

namespace Archive {

// Bounds on what one archive may hold, against archives that claim far more
// than their own size. A project of a few hundred MB stays well inside.
struct UnpackLimits
{
    quint64 maxBytes = quint64(16) << 30; // file data of all entries together
    quint64 maxEntries = 1000000;          // files, directories and links
};

// The limits in force: the defaults above, or what setUnpackLimits set last.
// The editor keeps the defaults; the command-line tool takes them from its
// environment (TANDO_UNPACK_MAX_BYTES, TANDO_UNPACK_MAX_ENTRIES).
UnpackLimits unpackLimits();
void setUnpackLimits(const UnpackLimits &limits);

// What one reading of an archive may still take.
class UnpackBudget
{
public:
    UnpackBudget() : m_limits(unpackLimits()) {}

    // Takes one more entry with `bytes` of data; fails, saying why, when it does not fit.
    Result takeEntry(qint64 bytes);

private:
    UnpackLimits m_limits;
    quint64 m_bytes = 0;
    quint64 m_entries = 0;
};

} // namespace Archive
