#include "appstate.h"

#include "buildinfo.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "savepathdialog.h"
#include "treeremoval.h"

#include <QQuickWindow>

AppState::AppState(QQuickItem *parent)
    : QQuickItem(parent)
    , m_project(new ProjectEntity(this))
{
}

AppState::~AppState()
{
    // Closing the window keeps the project loaded, but its unpacked copies
    // must not outlive the program.
    Workspace::discardTrees(*m_project);
}

bool AppState::loadProject(QString path)
{
    return Workspace::loadProject(*m_project, path).ok();
}

void AppState::unloadProject()
{
    Workspace::unloadProject(*m_project);
}

bool AppState::storeCurrentProject(QString outpath)
{
    return Workspace::storeCurrentProject(*m_project, outpath).ok();
}

QString AppState::getSavePath()
{
    return askSavePath(window());
}

QString AppState::version()
{
    return QStringLiteral(TANDO_SOURCE_REVISION);
}

bool AppState::validateNewSettings()
{
    return Workspace::validateNewSettings(*m_project);
}
