#pragma once

#include "archivehandles.h"

#include <QString>

namespace Archive {

// Writes guarded tar entries into one tree with libarchive's disk writer.
// The first error drops the rest of the tree and is kept. (A thread per
// tree gains nothing: creating files is the file system's work, and
// libarchive's disk writers must take turns where they read the umask.)
class TreeWriter
{
public:
    QString open();
    void header(Entry entry, const QString &name, bool spread);
    void data(const void *block, size_t size, la_int64_t offset);
    void finishEntry();
    // Finishes the tree (directory times and modes); the first error.
    QString close();

    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    void fail(const char *call);

    WriteArchive m_writer;
    QString m_current;
    QString m_error;
};

} // namespace Archive
