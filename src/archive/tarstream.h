// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A push-style walk over the bytes of a tar stream: every entry is reported
// with its layout as soon as its header blocks are in, and the stream can be
// written on, byte for byte, with only the entries the caller edits rewritten.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace TarStream {

struct EntryInfo
{
    int index = 0;         // 0-based, archive order
    qint64 offset = 0;     // first header block of the entry (its first extension header when it has any)
    qint64 dataOffset = 0; // after all its header blocks (extension headers with their data, the main header, sparse map)
    qint64 end = 0;        // one past its data and padding: the next entry's offset
    QByteArray path;       // pax GNU.sparse.name or path, else GNU long name, else ustar prefix/name
    QByteArray linkTarget; // hard and symbolic links: pax linkpath, else GNU long link, else the linkname field
    char type = 0;         // typeflag of the main header
    quint64 size = 0;      // data size: the pax size record when there is one, else the size field
    quint32 headerCrc = 0; // CRC-32 of the bytes [offset, dataOffset)
};

struct EntryEdit
{
    QByteArray path;       // new name; empty: unchanged
    QByteArray linkTarget; // new target of a hard or symbolic link; empty: unchanged
    // The entry's new data: a regular file keeps its other header fields; a
    // hard link becomes a regular file with this data, its other fields kept.
    bool replaceData = false;
    QByteArray data;
    bool checkData = false; // fail when the entry's data differs from expectedData
    QByteArray expectedData;
    // The new name for a header block whose name is not the entry's own
    // (extension headers, a sparse file's stand-in name); empty: kept.
    std::function<QByteArray(const QByteArray &name)> renameHeader;

    bool isDefault() const
    {
        return path.isEmpty() && linkTarget.isEmpty() && !replaceData && !checkData && !renameHeader;
    }
};

class Walker
{
public:
    // Called once per entry as soon as all its header blocks have arrived,
    // before any of its data passes. Fill *edit to change the entry (left
    // default, it is copied byte for byte). Return false with *error to stop.
    using Decide = std::function<bool(const EntryInfo &entry, EntryEdit *edit, QString *error)>;
    // Empty: nothing is written (the walk only reports).
    using Sink = std::function<bool(const char *data, qint64 size)>;

    Walker(Decide decide, Sink sink);
    ~Walker();
    Walker(const Walker &) = delete;
    Walker &operator=(const Walker &) = delete;

    // False after an error.
    bool write(const char *data, qint64 size);
    // The input ended: false unless it ended after the end-of-archive zero
    // block or exactly at an entry boundary.
    bool finish();
    QString error() const;
    // The end-of-archive zero block was seen.
    bool ended() const;
    // Offset of that zero block, or of the end of the input when there is none.
    qint64 endOffset() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace TarStream
