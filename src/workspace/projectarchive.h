#pragma once

#include <QString>

// The gzip and tar layers of a project archive, in-process with libarchive.
namespace Archive {

// Unpacks one layer of the archive at archivePath into a new temporary
// directory that is not removed automatically, and returns the directory's
// absolute path. A gzip file gives one file: the tar inside it, named by the
// gzip header's original name, else by the archive's base name with ".tgz"
// replaced by ".tar". A tar gives its tree; the entry names directly inside
// active-project/devices/tando and active-project/devices/ksb12 are written in
// the underscore form (normalizeMac with "_", any other ":" becoming "_").
// Returns an empty text on any failure (missing, empty or corrupt input,
// hostile entries, a full disk), after a debug line that names the file and
// the reason; nothing of the attempt is left on disk.
QString extractArchive(const QString &archivePath);

// Writes a new tar at tarPath (an old file there is replaced) holding every
// file, directory and symbolic link below workingDirectory, named relative to
// it with "/" between components, in ustar form (pax records only where a name
// does not fit). Links are stored as links, never followed.
bool packTar(const QString &workingDirectory, const QString &tarPath);

// Writes a new gzip file at gzipPath whose single member is the file at
// tarPath byte for byte, with tarPath's file name as the original name.
bool packGzip(const QString &tarPath, const QString &gzipPath);

} // namespace Archive
