// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the name of a project archive says about its content: the one list
// of archive suffixes (".tgz", ".tar.gz", ".gz", ".tar", any letter case).
namespace Workspace {

// How a store writes the archive it is given a name for.
struct ArchiveForm
{
    bool gzip = true;
    // The gzip header's name for the tar inside; empty for a plain tar.
    QString gzipMember;
};

// A name ending in ".tar" is a plain tar; any other gets gzip, its member
// named after it with a gzip suffix dropped and ".tar" added:
// "x.tgz" and "x.tar.gz" hold "x.tar", "x.bin" holds "x.bin.tar".
ArchiveForm archiveFormFor(const QString &path);

// Whether path (or a URL) names a project archive: ".tgz", ".tar.gz" or ".tar".
bool isArchiveName(const QString &path);

} // namespace Workspace
