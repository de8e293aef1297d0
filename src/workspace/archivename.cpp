// SPDX-License-Identifier: GPL-3.0-or-later
#include "archivename.h"

#include <QFileInfo>

namespace Workspace {

namespace {

struct Suffix
{
    QLatin1String text;
    bool gzip;
    bool project; // a name a project archive is given
};

// Longest first, so that ".tar.gz" is found before ".gz".
const Suffix suffixes[] = {
    {QLatin1String(".tar.gz"), true, true},
    {QLatin1String(".tgz"), true, true},
    {QLatin1String(".gz"), true, false},
    {QLatin1String(".tar"), false, true},
};

const Suffix *suffixOf(const QString &name)
{
    for (const Suffix &suffix : suffixes) {
        if (name.endsWith(suffix.text, Qt::CaseInsensitive))
            return &suffix;
    }
    return nullptr;
}

} // namespace

ArchiveForm archiveFormFor(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    const Suffix *suffix = suffixOf(name);
    if (suffix && !suffix->gzip)
        return {false, QString()};
    if (suffix)
        name.chop(suffix->text.size());
    return {true, name + QStringLiteral(".tar")};
}

bool isArchiveName(const QString &path)
{
    const Suffix *suffix = suffixOf(path);
    return suffix && suffix->project;
}

} // namespace Workspace
