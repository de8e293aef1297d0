#pragma once

#include "entryguard.h"
#include "jobcontrol.h"
#include "result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

// The gzip and tar layers of a project archive, in-process with libarchive.
// Loading: source file -> gzip decoder (when the content is gzip) -> one tar
// entry loop with the entry guard -> one or more tree writers. Storing: one
// walk of a tree -> tar writer -> name patching -> gzip -> file.
namespace Archive {

using NamePatches = QList<QPair<QByteArray, QByteArray>>;

// Unpacks the tar in the archive at archivePath (gzip-compressed or not,
// told by its content) into each of the existing, empty destination
// directories, from one reading of the archive. Every entry is checked
// (guardEntry) and named through mapper. On failure, or when control asks
// to cancel, what was written stays for the caller to remove. tarBytes, when
// given, is the size of the tar read (a measure for storing it again).
Result unpackTrees(const QString &archivePath, const QStringList &destinations, const NameMapper &mapper,
                   JobControl *control = nullptr, qint64 *tarBytes = nullptr);

// Unpacks one layer of the archive at archivePath into a new temporary
// directory that is not removed automatically, and returns the directory's
// absolute path. A gzip file gives one file: the tar inside it, named by the
// gzip header's original name, else by the archive's base name with ".tgz"
// replaced by ".tar". A tar gives its tree, each entry's name passed through
// mapper when one is given. Returns an empty text on any failure (missing,
// empty or corrupt input, hostile entries, a full disk), after a debug line
// that names the file and the reason; nothing of the attempt is left on disk.
QString extractArchive(const QString &archivePath, const NameMapper &mapper = {});

// A tree as a store's edits would leave it, without touching it. Paths are
// relative to the tree's root, "/" between components, and name entries as
// they are on the disk.
struct TreeOverlay
{
    QHash<QByteArray, QByteArray> files;   // new contents of rewritten regular files
    QHash<QByteArray, QByteArray> renames; // new last component of renamed entries
    QSet<QByteArray> touched;              // entries whose modification time becomes `now`
    qint64 now = 0;
};

// What packTree writes: a tar, or with a member name a gzip file holding it.
struct PackOutput
{
    int fd = -1;             // written from its current position, not closed
    qint64 expectedTarBytes = 0; // for progress reports; 0 when unknown
    QByteArray gzipMember;   // empty: a plain tar
    quint32 gzipTime = 0;
};

// Packs every file, directory and symbolic link below root (the overlay
// applied) into a tar: names relative to root with "/" between components,
// sorted byte-wise, each directory followed by its contents; ustar with pax
// records only where a name does not fit; links stored as links, never
// followed. The tar's entry names get the patches as it streams. The output
// file itself is passed over should it lie inside the tree.
Result packTree(const QString &root, const TreeOverlay &overlay, const NamePatches &patches, const PackOutput &output,
                JobControl *control = nullptr);

// Writes a new tar at tarPath (an old file there is replaced) holding the
// tree below workingDirectory, as packTree does.
bool packTar(const QString &workingDirectory, const QString &tarPath);

// Writes a new gzip file at gzipPath whose single member is the file at
// tarPath byte for byte, with tarPath's file name as the original name.
bool packGzip(const QString &tarPath, const QString &gzipPath);

} // namespace Archive
