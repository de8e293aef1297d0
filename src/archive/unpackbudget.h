#pragma once

#include <QString>
#include <QtGlobal>

namespace Archive {

// Bounds on what one unpacking may write, against archives that expand far
// beyond their own size. A project of a few hundred MB stays well inside.
struct UnpackLimits
{
    quint64 maxBytes = quint64(16) << 30;     // file data of all entries together
    quint64 maxEntries = 1000000;              // files, directories and links
    quint64 reserveBytes = quint64(64) << 20;  // left free on the temporary file system
};

// The limits in force: the defaults above, or what setUnpackLimits set last.
// The editor keeps the defaults; the command-line tool takes them from its
// environment (TANDO_UNPACK_MAX_BYTES, TANDO_UNPACK_MAX_ENTRIES,
// TANDO_UNPACK_RESERVE_BYTES).
UnpackLimits unpackLimits();
void setUnpackLimits(const UnpackLimits &limits);

// What one unpacking into a directory may still write: the limits, and the
// free space and free inodes of the directory's file system at the start,
// less the reserve. Every entry counts at least one block of that file
// system, its data rounded up to whole blocks.
class UnpackBudget
{
public:
    explicit UnpackBudget(const QString &directory);

    // Takes one more entry with `bytes` of data. Returns why it does not fit,
    // or an empty text.
    QString takeEntry(qint64 bytes);
    // Takes more data of an entry whose size shows only while it is written.
    QString takeBytes(qint64 bytes);

private:
    QString take(quint64 blocks, quint64 bytes);

    UnpackLimits m_limits;
    quint64 m_blockSize = 4096;
    bool m_knowsSpace = false;
    quint64 m_availableBytes = 0;
    quint64 m_freeBytes = 0;     // what the reserve leaves of it
    bool m_knowsInodes = false;
    quint64 m_freeInodes = 0;
    quint64 m_bytes = 0;      // data taken, as written
    quint64 m_diskBytes = 0;  // data taken, in whole blocks
    quint64 m_entries = 0;
};

} // namespace Archive
