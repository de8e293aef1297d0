#include "projectworkspace.h"

#include "dataobjectmodel.h"
#include "projectentity.h"

#include <QDir>

namespace Workspace {

namespace {

void removeTree(const QString &path)
{
    // An empty path names no directory; it must never stand for the current one.
    if (path.isEmpty())
        return;
    QDir(path).removeRecursively();
}

} // namespace

void unloadProject(ProjectEntity &project)
{
    project.devices()->clear();
    if (!project.loaded())
        return;
    removeTree(project.extractedPath());
    removeTree(project.extractedBackupPath());
    project.setLoaded(false);
}

} // namespace Workspace
