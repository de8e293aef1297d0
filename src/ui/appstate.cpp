#include "appstate.h"

#include "buildinfo.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectworkspace.h"
#include "savepathdialog.h"

#include <QFileInfo>
#include <QQuickWindow>
#include <QUrl>

AppState::AppState(QQuickItem *parent)
    : QQuickItem(parent)
    , m_project(new ProjectEntity(this))
{
    connect(m_project, &ProjectEntity::nameChanged, this, &AppState::updateModified);
    connect(m_project, &ProjectEntity::authorChanged, this, &AppState::updateModified);
    connect(m_project, &ProjectEntity::descriptionChanged, this, &AppState::updateModified);
    connect(m_project->devices(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { watchDevices(first, last); });
    connect(&m_jobs, &JobRunner::runningChanged, this, [this](bool running) {
        showProgress(int(JobControl::Phase::Unpacking), running ? 0 : 1);
        emit busyChanged(running);
    });
    connect(&m_jobs, &JobRunner::progress, this, &AppState::showProgress);
}

void AppState::showProgress(int phase, double fraction)
{
    m_jobPhase = QString::fromLatin1(JobControl::phaseName(JobControl::Phase(qBound(0, phase, 1))));
    m_jobProgress = fraction;
    emit jobProgressChanged();
}

QVariantMap AppState::loadedSettings() const
{
    const ProjectSettings loaded = m_project->loadedSettings();
    return {{QStringLiteral("name"), loaded.name},
            {QStringLiteral("author"), loaded.author},
            {QStringLiteral("description"), loaded.description}};
}

bool AppState::loadProject(QString path)
{
    if (busy())
        return false; // the window blocks input meanwhile; this is a second caller
    // A file URL (from the file dialog or a drop) as a path, which reasons name.
    const QUrl url(path);
    const QString local = url.isLocalFile() ? url.toLocalFile() : path;
    Workspace::LoadedProject loaded;
    const Result unpacked
        = m_jobs.run([&](JobControl &control) { return Workspace::unpackProject(local, &control, &loaded); });
    const Result result = Workspace::finishLoad(*m_project, unpacked, loaded);
    setLastError(result.reason());
    // A failed load may leave the project before it loaded, edits and all.
    if (!result.ok() && m_project->loaded())
        return false;
    setFileName(result.ok() ? QFileInfo(local).fileName() : QString());
    emit loadedSettingsChanged();
    markSaved();
    return result.ok();
}

void AppState::unloadProject()
{
    if (busy())
        return;
    Workspace::unloadProject(*m_project);
    // A store's failure belongs to the project; the start screen shows load failures.
    setLastError(QString());
    setFileName(QString());
    markSaved();
}

bool AppState::storeCurrentProject(QString outpath)
{
    if (busy())
        return false;
    const Workspace::StoreRequest request = Workspace::storeRequest(*m_project, outpath);
    const Result result = m_jobs.run([&](JobControl &control) { return Workspace::storeProject(request, &control); });
    setLastError(result.reason());
    if (result.ok()) {
        Workspace::markStored(*m_project, outpath);
        markSaved();
    }
    return result.ok();
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

AppState::Snapshot AppState::snapshot() const
{
    Snapshot s;
    if (!m_project->loaded())
        return s;
    s.settings = m_project->settings();
    const QList<DeviceEntity *> devices = m_project->devices()->objectsOfType<DeviceEntity>();
    s.devices.reserve(devices.size());
    for (const DeviceEntity *device : devices)
        s.devices.append({device->newLabel(), device->newMac().toLower()});
    return s;
}

void AppState::watchDevices(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        auto *device = qobject_cast<DeviceEntity *>(m_project->devices()->get(row));
        if (!device)
            continue;
        connect(device, &DeviceEntity::newLabelChanged, this, &AppState::updateModified, Qt::UniqueConnection);
        connect(device, &DeviceEntity::newMacChanged, this, &AppState::updateModified, Qt::UniqueConnection);
    }
}

void AppState::updateModified()
{
    const bool modified = !(snapshot() == m_saved);
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(m_modified);
}

void AppState::markSaved()
{
    m_saved = snapshot();
    updateModified();
}

void AppState::setLastError(const QString &lastError)
{
    if (m_lastError == lastError)
        return;
    m_lastError = lastError;
    emit lastErrorChanged(m_lastError);
}

void AppState::setFileName(const QString &fileName)
{
    if (m_fileName == fileName)
        return;
    m_fileName = fileName;
    emit fileNameChanged(m_fileName);
}
