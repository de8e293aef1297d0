// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"

#include "buildinfo.h"
#include "dataobjectmodel.h"
#include "devicecsv.h"
#include "deviceentity.h"
#include "projectworkspace.h"
#include "savepathdialog.h"

#include <QFile>
#include <QFileInfo>
#include <QQuickWindow>

namespace {

// The bytes of a changes file.
Result readChangesBytes(const QString &path, QByteArray *bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result::failure(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return Workspace::DeviceCsv::readFile(file, path, bytes);
}

// Whether two paths name one file, through links and relative parts.
bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo first(a);
    const QFileInfo second(b);
    const QString canonical = first.canonicalFilePath();
    return canonical.isEmpty() ? first.absoluteFilePath() == second.absoluteFilePath()
                               : canonical == second.canonicalFilePath();
}

} // namespace

AppState::AppState(QQuickItem *parent)
    : QQuickItem(parent)
    , m_project(new ProjectEntity(this))
    , m_history(new EditHistory(m_project, this))
{
    connect(m_project, &ProjectEntity::nameChanged, this, &AppState::updateModified);
    connect(m_project, &ProjectEntity::authorChanged, this, &AppState::updateModified);
    connect(m_project, &ProjectEntity::descriptionChanged, this, &AppState::updateModified);
    connect(m_project->devices(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { watchDevices(first, last); });
    connect(&m_jobs, &JobRunner::runningChanged, this, [this](bool running) {
        showProgress(int(JobControl::Phase::Reading), running ? 0 : 1);
        emit busyChanged(running);
    });
    connect(&m_jobs, &JobRunner::progress, this, &AppState::showProgress);
}

void AppState::showProgress(int phase, double fraction)
{
    const int known = qBound(0, phase, int(JobControl::Phase::Writing));
    m_jobPhase = QString::fromLatin1(JobControl::phaseName(JobControl::Phase(known)));
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
    const QString local = Workspace::localPath(path);
    Workspace::LoadedProject loaded;
    const Result unpacked
        = m_jobs.run([&](JobControl &control) { return Workspace::unpackProject(local, &control, &loaded); });
    const Result result = Workspace::finishLoad(*m_project, unpacked, loaded);
    // The workspace's reason says what is wrong; the window names the file.
    setOutcome(result.isFailure() ? Result::failure(QStringLiteral("Cannot load %1: %2").arg(local, result.reason()))
                                  : result);
    // A failed or cancelled load leaves the project before it, edits and all.
    if (!result)
        return false;
    setFileName(QFileInfo(local).fileName());
    m_history->clear();
    setStoredElsewhere(QString());
    stopChecking();
    m_saveFolder.clear();
    m_csvFolder.clear();
    emit loadedSettingsChanged();
    markSaved();
    emit projectLoaded();
    return true;
}

void AppState::unloadProject()
{
    if (busy())
        return;
    Workspace::unloadProject(*m_project);
    // A store's failure belongs to the project; the start screen shows load failures.
    setLastError(QString());
    setLastOutcome(Outcome::None);
    setFileName(QString());
    m_history->clear();
    setStoredElsewhere(QString());
    stopChecking();
    markSaved();
}

bool AppState::storeCurrentProject(QString outpath)
{
    if (busy())
        return false;
    const Workspace::StoreRequest request = Workspace::storeRequest(*m_project, outpath);
    const Result result = m_jobs.run([&](JobControl &control) { return Workspace::storeProject(request, &control); });
    if (result) {
        Workspace::markStored(*m_project, outpath);
        m_saveFolder = QFileInfo(outpath).absolutePath();
        setStoredFileName(QFileInfo(outpath).fileName());
        setStoredElsewhere(sameFile(outpath, m_project->originalPath()) ? QString() : m_storedFileName);
        markSaved();
    }
    setOutcome(result);
    return result.ok();
}

// folder, or the opened archive's when folder is empty.
QString AppState::besideArchive(const QString &folder) const
{
    return folder.isEmpty() && !m_project->originalPath().isEmpty()
               ? QFileInfo(m_project->originalPath()).absolutePath()
               : folder;
}

QString AppState::getSavePath()
{
    return askSavePath(window(), besideArchive(m_saveFolder));
}

QString AppState::getExportPath()
{
    return askCsvSavePath(window(), besideArchive(m_csvFolder));
}

QString AppState::getChangesPath()
{
    return askCsvOpenPath(window(), besideArchive(m_csvFolder));
}

QString AppState::exportDeviceList(QString path)
{
    const QString local = Workspace::localPath(path);
    const Result written = Workspace::DeviceCsv::writeFile(*m_project, Workspace::DeviceCsv::Columns::WithEdits, local);
    if (!written)
        return written.reason();
    m_csvFolder = QFileInfo(local).absolutePath();
    return QString();
}

QStringList AppState::applyChangesFile(QString path)
{
    namespace Csv = Workspace::DeviceCsv;
    if (busy())
        return {}; // a store reads the project meanwhile; the window blocks input
    const QString local = Workspace::localPath(path);
    QByteArray bytes;
    if (const Result read = readChangesBytes(local, &bytes); !read)
        return {read.reason()};
    m_csvFolder = QFileInfo(local).absolutePath();
    const QString fileName = QFileInfo(local).fileName();
    QList<Csv::Change> changes;
    const QStringList problems = Csv::readChanges(bytes, fileName, *m_project, &changes);
    if (!problems.isEmpty())
        return Csv::firstProblems(problems);
    editAtOnce([&] { Csv::applyChanges(*m_project, changes); });
    emit changesApplied(fileName, changes.size());
    return {};
}

QString AppState::licence() const
{
    return QStringLiteral(TANDO_LICENCE_NOTICE);
}

void AppState::revertAllEdits()
{
    if (!busy()) // a store reads the project meanwhile
        editAtOnce([this] { Workspace::revertEdits(*m_project); });
}

void AppState::undo()
{
    if (!busy())
        editAtOnce([this] { m_history->undo(); });
}

void AppState::redo()
{
    if (!busy())
        editAtOnce([this] { m_history->redo(); });
}

// Many values change at once: the edit state and the check follow once at
// the end, not once per device.
void AppState::editAtOnce(const std::function<void()> &edit)
{
    m_batchEditing = true;
    edit();
    m_batchEditing = false;
    updateModified();
    if (m_checkingEdits)
        checkNewMacs();
}

QString AppState::version()
{
    return QStringLiteral(TANDO_VERSION);
}

QString AppState::revision()
{
    return QStringLiteral(TANDO_SOURCE_REVISION);
}

bool AppState::validateNewSettings()
{
    const bool valid = checkNewMacs();
    m_checkingEdits = m_checkingEdits || !valid;
    return valid;
}

bool AppState::checkNewMacs()
{
    m_checkPending = false;
    int invalid = 0;
    const bool valid = Workspace::validateNewSettings(*m_project, &invalid);
    setInvalidDeviceCount(invalid);
    return valid;
}

// Typing, a revert or an undo changes one MAC at a time: the check runs once
// the event that made the changes is done, before the next frame is drawn.
void AppState::scheduleCheck()
{
    if (!m_checkingEdits || m_checkPending)
        return;
    m_checkPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_checkPending)
                checkNewMacs();
        },
        Qt::QueuedConnection);
}

void AppState::stopChecking()
{
    m_checkingEdits = false;
    m_checkPending = false;
    setInvalidDeviceCount(0);
}

void AppState::setInvalidDeviceCount(int invalidDeviceCount)
{
    if (m_invalidDeviceCount == invalidDeviceCount)
        return;
    m_invalidDeviceCount = invalidDeviceCount;
    emit invalidDeviceCountChanged(m_invalidDeviceCount);
}

AppState::Snapshot AppState::snapshot() const
{
    Snapshot s;
    if (!m_project->loaded())
        return s;
    s.settings = m_project->settings();
    const QList<DeviceEntity *> devices = m_project->deviceEntities();
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
        connect(device, &DeviceEntity::newMacChanged, this, &AppState::scheduleCheck, Qt::UniqueConnection);
    }
}

void AppState::updateModified()
{
    if (m_batchEditing)
        return;
    setHasEdits(Workspace::hasEdits(*m_project));
    const bool modified = !(snapshot() == m_saved);
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(m_modified);
}

void AppState::setHasEdits(bool hasEdits)
{
    if (m_hasEdits == hasEdits)
        return;
    m_hasEdits = hasEdits;
    emit hasEditsChanged(m_hasEdits);
}

void AppState::setOutcome(const Result &result)
{
    setLastError(result.isFailure() ? result.reason() : QString());
    switch (result.kind()) {
    case Result::Kind::Ok:
        setLastOutcome(Outcome::Succeeded);
        break;
    case Result::Kind::Failed:
        setLastOutcome(Outcome::Failed);
        break;
    case Result::Kind::Cancelled:
        setLastOutcome(Outcome::Cancelled);
        break;
    }
}

void AppState::setLastOutcome(Outcome lastOutcome)
{
    if (m_lastOutcome == lastOutcome)
        return;
    m_lastOutcome = lastOutcome;
    emit lastOutcomeChanged(m_lastOutcome);
}

void AppState::setStoredFileName(const QString &storedFileName)
{
    if (m_storedFileName == storedFileName)
        return;
    m_storedFileName = storedFileName;
    emit storedFileNameChanged(m_storedFileName);
}

void AppState::setStoredElsewhere(const QString &storedElsewhere)
{
    if (m_storedElsewhere == storedElsewhere)
        return;
    m_storedElsewhere = storedElsewhere;
    emit storedElsewhereChanged(m_storedElsewhere);
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
