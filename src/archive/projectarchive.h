// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "entryfacts.h"
#include "jobcontrol.h"
#include "posixfile.h"
#include "result.h"
#include "tarstream.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

// A project archive as a stream: loading reads it once and keeps an index
// of its entries and the data of the few files the caller asks for; storing
// reads it again and writes every entry on byte for byte, except the few
// the caller edits. Nothing is unpacked to disk.
namespace Archive {

// Files kept in memory by one reading, each and all together.
constexpr qint64 MaxKeptFileBytes = qint64(8) << 20;
constexpr qint64 MaxKeptBytes = qint64(128) << 20;

// Where an entry lies in the tar, and a check of its header blocks.
struct IndexEntry
{
    qint64 offset = 0;
    qint64 dataOffset = 0;
    qint64 end = 0;
    quint32 headerCrc = 0;
};

// An archive as it was opened: its descriptor stays open until the last
// user lets go, so that a store still reads what was loaded after the file
// was renamed over, replaced or deleted.
struct OpenedArchive
{
    QString path;
    Fd fd;
    std::vector<IndexEntry> entries;
    qint64 tailOffset = 0; // where the end-of-archive blocks start
    qint64 tarBytes = 0;   // of the decoded tar
};

// What the caller learns of each entry while an archive is read.
class EntryVisitor
{
public:
    virtual ~EntryVisitor() = default;
    // parts: the entry's name split at "/" ("." and empty parts dropped);
    // hardlink: for a hard link, the name it links to in the same form,
    // joined by "/". Fails, saying why, for an entry that is refused; *keep
    // asks for the data of a regular file.
    virtual Result entry(int index, const QByteArrayList &parts, mode_t type, const QByteArray &hardlink, bool *keep) = 0;
    virtual void data(int index, const QByteArray &data) = 0;
    // A visitor that wants the facts of every entry (its header and a
    // checksum of its data) gets them after entry() and data(); reading the
    // data of every entry costs the checksum's time.
    virtual bool wantsFacts() const { return false; }
    virtual void facts(const EntryFacts &) {}
};

// Reads the archive at path (gzip or not, told by its content) once: every
// entry is checked by the entry guard and the limits, and shown to visitor.
// A failure's reason does not name the archive: the caller names it once.
Result readArchive(const QString &path, EntryVisitor &visitor, JobControl *control,
                   std::shared_ptr<OpenedArchive> *opened);

// Reads the opened archive once more, as readArchive did, for files that
// only a later entry showed to be needed (what a hard link names).
Result readAgain(const OpenedArchive &archive, EntryVisitor &visitor, JobControl *control);

// How a store changes one entry; called for every entry, in order.
using EntryEditor = std::function<TarStream::EntryEdit(int index, const TarStream::EntryInfo &entry)>;

// Where a store writes: a gzip file with one member, or a plain tar.
struct ArchiveOutput
{
    int fd = -1; // written from its current position, not closed
    bool gzip = true;
    QByteArray gzipMember;
    quint32 gzipTime = 0;
};

// Reads the opened archive again and writes it to output with the editor's
// changes. Fails, naming the archive, when it is no longer what was opened.
Result writeArchive(const OpenedArchive &archive, const EntryEditor &editor, const ArchiveOutput &output,
                    JobControl *control);

} // namespace Archive
