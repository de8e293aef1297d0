#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QByteArrayList>

#include <functional>

// The gzip and tar layers of a project archive, in-process with libarchive.
namespace Archive {

// Renames components of an unpacked entry's name (relative, split at "/")
// before it is written; the project layer names its device directories so.
using NameMapper = std::function<void(QByteArrayList *parts)>;

// Unpacks one layer of the archive at archivePath into a new temporary
// directory that is not removed automatically, and returns the directory's
// absolute path. A gzip file gives one file: the tar inside it, named by the
// gzip header's original name, else by the archive's base name with ".tgz"
// replaced by ".tar". A tar gives its tree, each entry's name passed through
// mapper when one is given.
// Returns an empty text on any failure (missing, empty or corrupt input,
// hostile entries, a full disk), after a debug line that names the file and
// the reason; nothing of the attempt is left on disk.
QString extractArchive(const QString &archivePath, const NameMapper &mapper = {});

// Writes a new tar at tarPath (an old file there is replaced) holding every
// file, directory and symbolic link below workingDirectory, named relative to
// it with "/" between components, in ustar form (pax records only where a name
// does not fit). Links are stored as links, never followed.
bool packTar(const QString &workingDirectory, const QString &tarPath);

// Writes a new gzip file at gzipPath whose single member is the file at
// tarPath byte for byte, with tarPath's file name as the original name.
bool packGzip(const QString &tarPath, const QString &gzipPath);

// ---- One-pass forms of the above, for loading and storing large projects.

enum class TwoTrees { Done, NotApplicable, Failed };

// Unpacks a gzip-compressed tar into two new temporary directories, a
// working and a backup tree, from one decoding of the gzip layer: what
// extractArchive does for the gzip layer and then twice for the tar in it.
// NotApplicable, with nothing left on disk, when the file is no gzip file or
// its member would not be named "*.tar"; the caller then goes layer by layer.
// Failed, after a debug line, with nothing left on disk. When only the
// backup tree cannot be written, *backup is empty and the result is Done.
TwoTrees extractTarTwice(const QString &archivePath, QString *work, QString *backup,
                         const NameMapper &mapper = {});

// A working tree as a store's edits would leave it, without touching it.
// Paths are relative to the tree's root, "/" between components, and name
// entries as they are on the disk.
struct TreeOverlay
{
    QHash<QByteArray, QByteArray> files;   // new contents of rewritten files
    QHash<QByteArray, QByteArray> renames; // new last component of renamed entries
    QSet<QByteArray> touched;              // entries whose modification time becomes `now`
    qint64 now = 0;
};

// packTar of the overlaid tree, the tar's names patched with the pairs as
// TarPatch::patchTarNames does, and packGzip of the result, in one pass and
// on several threads: the tar never exists as a file. The gzip member is
// named memberName. False, after a debug line, on any failure.
bool packOverlaidTreeToGzip(const QString &workingDirectory, const TreeOverlay &overlay,
                            const QList<QPair<QByteArray, QByteArray>> &namePatches, const QByteArray &memberName,
                            const QString &gzipPath);

} // namespace Archive
