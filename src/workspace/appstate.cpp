#include "appstate.h"

#include "buildinfo.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "savepathdialog.h"

#include <QQuickWindow>

AppState::AppState(QQuickItem *parent)
    : QQuickItem(parent)
    , m_project(new ProjectEntity(this))
{
}

void AppState::unloadProject()
{
    Workspace::unloadProject(*m_project);
}

QString AppState::version()
{
    return QStringLiteral(TANDO_SOURCE_REVISION);
}

QString AppState::getSavePath()
{
    return askSavePath(window());
}
