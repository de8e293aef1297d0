// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPair>
#include <QQuickItem>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include <functional>

#include "archivename.h"
#include "edithistory.h"
#include "jobrunner.h"
#include "projectworkspace.h"
#include "projectentity.h"

// The editor's one controller, declared in main.qml as `appState`. It owns the
// project and hands every operation to the display-free workspace code.
class AppState : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(ProjectEntity *project MEMBER m_project NOTIFY projectChanged)
    // How the last load or store ended; None after an unload.
    Q_PROPERTY(Outcome lastOutcome READ lastOutcome NOTIFY lastOutcomeChanged)
    // The reason the last load or store failed; empty unless it failed.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // The file name of the last successful store; empty before one.
    Q_PROPERTY(QString storedFileName READ storedFileName NOTIFY storedFileNameChanged)
    // The file name of the last successful store of this project when it went
    // to another file than the opened archive; empty otherwise.
    Q_PROPERTY(QString storedElsewhere READ storedElsewhere NOTIFY storedElsewhereChanged)
    // True while the settings or devices differ from what was last loaded or stored.
    Q_PROPERTY(bool modified READ modified NOTIFY modifiedChanged)
    // True while the settings or devices differ from the archive as loaded,
    // so that revertAllEdits() has something to do.
    Q_PROPERTY(bool hasEdits READ hasEdits NOTIFY hasEditsChanged)
    // The file name of the loaded archive; empty when none is loaded.
    Q_PROPERTY(QString fileName READ fileName NOTIFY fileNameChanged)
    // name, author and description as loaded, for marking edited fields.
    Q_PROPERTY(QVariantMap loadedSettings READ loadedSettings NOTIFY loadedSettingsChanged)
    // While a load or store runs (on a worker thread): what it does and how far it is.
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString jobPhase READ jobPhase NOTIFY jobProgressChanged)
    // From 0 to 1; -1 when the total is not known.
    Q_PROPERTY(double jobProgress READ jobProgress NOTIFY jobProgressChanged)
    // The edits since the project was loaded, to undo and redo; a store
    // keeps them.
    Q_PROPERTY(EditHistory *history READ history CONSTANT)
    // Devices whose new MAC the last check refused. Once a check found any,
    // every change of a new MAC is checked again, until a load or unload.
    Q_PROPERTY(int invalidDeviceCount READ invalidDeviceCount NOTIFY invalidDeviceCountChanged)
    // Under what terms the editor is given, for the About dialog.
    Q_PROPERTY(QString licence READ licence CONSTANT)

public:
    enum class Outcome { None, Succeeded, Failed, Cancelled };
    Q_ENUM(Outcome)

    explicit AppState(QQuickItem *parent = nullptr);

    ProjectEntity *project() const { return m_project; }
    EditHistory *history() const { return m_history; }
    Outcome lastOutcome() const { return m_lastOutcome; }
    QString lastError() const { return m_lastError; }
    QString storedFileName() const { return m_storedFileName; }
    QString storedElsewhere() const { return m_storedElsewhere; }
    bool modified() const { return m_modified; }
    bool hasEdits() const { return m_hasEdits; }
    QString licence() const;
    QString fileName() const { return m_fileName; }
    QVariantMap loadedSettings() const;
    bool busy() const { return m_jobs.running(); }
    QString jobPhase() const { return m_jobPhase; }
    double jobProgress() const { return m_jobProgress; }
    int invalidDeviceCount() const { return m_invalidDeviceCount; }
    // For tests: called on the worker thread at every progress report.
    void setJobObserver(const JobRunner::Observer &observer) { m_jobs.setObserver(observer); }

    // Replaces a loaded project with one that loaded completely; after a
    // failure (lastError says why) or a cancel the loaded one stays as it was.
    Q_INVOKABLE bool loadProject(QString path);
    Q_INVOKABLE void unloadProject();
    Q_INVOKABLE bool storeCurrentProject(QString outpath);
    // The target file of a store, chosen by the user; empty when cancelled.
    // The dialog opens beside the opened archive, after a store where it went.
    Q_INVOKABLE QString getSavePath();
    // Where to write the device list, or which changes file to read, chosen
    // by the user; empty when cancelled. Both dialogs open beside the opened
    // archive, then where the last list or changes file was.
    Q_INVOKABLE QString getExportPath();
    Q_INVOKABLE QString getChangesPath();
    // Writes the device list with the current edits (type,label,mac,
    // new_label,new_mac) to path, whole or not at all. Empty when written,
    // else why not.
    Q_INVOKABLE QString exportDeviceList(QString path);
    // Gives the devices a changes file names their new labels and MACs, as
    // edits like typed ones (changesApplied() tells). Otherwise changes
    // nothing and returns what to show: the file's "FILE:LINE: reason"
    // problems, at most 20 and a count, or why it cannot be read.
    Q_INVOKABLE QStringList applyChangesFile(QString path);
    // What `tando-project --version` prints: the version, and the source
    // revision it was built from.
    Q_INVOKABLE QString version();
    Q_INVOKABLE QString revision();
    // A dropped or chosen file URL as the local path it names.
    Q_INVOKABLE QString localPath(QString url) const { return Workspace::localPath(url); }
    // Whether a dropped file is named as a project archive is.
    Q_INVOKABLE bool isArchiveName(QString url) const { return Workspace::isArchiveName(url); }
    Q_INVOKABLE bool validateNewSettings();
    // Puts the settings and devices back as loaded.
    Q_INVOKABLE void revertAllEdits();
    // Takes the last step of editing back, or does it again.
    Q_INVOKABLE void undo();
    Q_INVOKABLE void redo();
    // Asks the running load or store to stop; it then ends as Cancelled and
    // leaves nothing behind.
    Q_INVOKABLE void cancelJob() { m_jobs.cancel(); }

signals:
    void projectChanged();
    void lastOutcomeChanged(AppState::Outcome lastOutcome);
    void lastErrorChanged(QString lastError);
    void storedFileNameChanged(QString storedFileName);
    void storedElsewhereChanged(QString storedElsewhere);
    void modifiedChanged(bool modified);
    void hasEditsChanged(bool hasEdits);
    // A load replaced the project (after it is adopted and marked saved).
    void projectLoaded();
    void fileNameChanged(QString fileName);
    void loadedSettingsChanged();
    void busyChanged(bool busy);
    void jobProgressChanged();
    void invalidDeviceCountChanged(int invalidDeviceCount);
    // A changes file was applied; devices: how many rows changed something.
    void changesApplied(QString fileName, int devices);

private:
    // What a store would write: the settings and each device's new label and MAC.
    struct Snapshot
    {
        ProjectSettings settings;
        QVector<QPair<QString, QString>> devices;
        bool operator==(const Snapshot &o) const { return settings == o.settings && devices == o.devices; }
    };

    QString besideArchive(const QString &folder) const;
    Snapshot snapshot() const;
    void watchDevices(int first, int last);
    void updateModified();
    void editAtOnce(const std::function<void()> &edit);
    bool checkNewMacs();
    void scheduleCheck();
    void stopChecking();
    void setInvalidDeviceCount(int invalidDeviceCount);
    void setOutcome(const Result &result);
    void setLastOutcome(Outcome lastOutcome);
    void setLastError(const QString &lastError);
    void setStoredFileName(const QString &storedFileName);
    void setStoredElsewhere(const QString &storedElsewhere);
    void setHasEdits(bool hasEdits);
    void setFileName(const QString &fileName);
    void markSaved();

    void showProgress(int phase, double fraction);
    ProjectEntity *m_project = nullptr;
    EditHistory *m_history = nullptr;
    JobRunner m_jobs;
    QString m_jobPhase;
    double m_jobProgress = 0;
    Outcome m_lastOutcome = Outcome::None;
    QString m_lastError;
    QString m_storedFileName;
    QString m_storedElsewhere;
    bool m_modified = false;
    bool m_hasEdits = false;
    bool m_batchEditing = false; // one update at the end, not one per device
    bool m_checkingEdits = false; // a check found problems: edits are checked again
    bool m_checkPending = false;  // one check for a burst of edits
    int m_invalidDeviceCount = 0;
    QString m_fileName;
    QString m_saveFolder; // where the save dialog opens; empty: beside the opened archive
    QString m_csvFolder;  // where the CSV dialogs open; empty: beside the opened archive
    Snapshot m_saved;
};
