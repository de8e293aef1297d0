#pragma once

#include <QPair>
#include <QQuickItem>
#include <QString>
#include <QVariantMap>
#include <QVector>

#include "jobrunner.h"
#include "projectworkspace.h"
#include "projectentity.h"

// The editor's one controller, declared in main.qml as `appState`. It owns the
// project and hands every operation to the display-free workspace code.
class AppState : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(ProjectEntity *project MEMBER m_project NOTIFY projectChanged)
    // The reason the last load or store failed; empty after a success.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // True while the settings or devices differ from what was last loaded or stored.
    Q_PROPERTY(bool modified READ modified NOTIFY modifiedChanged)
    // The file name of the loaded archive; empty when none is loaded.
    Q_PROPERTY(QString fileName READ fileName NOTIFY fileNameChanged)
    // name, author and description as loaded, for marking edited fields.
    Q_PROPERTY(QVariantMap loadedSettings READ loadedSettings NOTIFY loadedSettingsChanged)
    // While a load or store runs (on a worker thread): what it does and how far it is.
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString jobPhase READ jobPhase NOTIFY jobProgressChanged)
    // From 0 to 1; -1 when the total is not known.
    Q_PROPERTY(double jobProgress READ jobProgress NOTIFY jobProgressChanged)

public:
    explicit AppState(QQuickItem *parent = nullptr);

    ProjectEntity *project() const { return m_project; }
    QString lastError() const { return m_lastError; }
    bool modified() const { return m_modified; }
    QString fileName() const { return m_fileName; }
    QVariantMap loadedSettings() const;
    bool busy() const { return m_jobs.running(); }
    QString jobPhase() const { return m_jobPhase; }
    double jobProgress() const { return m_jobProgress; }
    // For tests: called on the worker thread at every progress report.
    void setJobObserver(const JobRunner::Observer &observer) { m_jobs.setObserver(observer); }

    // Replaces a loaded project; on failure lastError says why.
    Q_INVOKABLE bool loadProject(QString path);
    Q_INVOKABLE void unloadProject();
    Q_INVOKABLE bool storeCurrentProject(QString outpath);
    // The target file of a store, chosen by the user; empty when cancelled.
    Q_INVOKABLE QString getSavePath();
    Q_INVOKABLE QString version();
    Q_INVOKABLE bool validateNewSettings();
    // Asks the running load or store to stop; it then fails as "cancelled"
    // and leaves nothing behind.
    Q_INVOKABLE void cancelJob() { m_jobs.cancel(); }

signals:
    void projectChanged();
    void lastErrorChanged(QString lastError);
    void modifiedChanged(bool modified);
    void fileNameChanged(QString fileName);
    void loadedSettingsChanged();
    void busyChanged(bool busy);
    void jobProgressChanged();

private:
    // What a store would write: the settings and each device's new label and MAC.
    struct Snapshot
    {
        ProjectSettings settings;
        QVector<QPair<QString, QString>> devices;
        bool operator==(const Snapshot &o) const { return settings == o.settings && devices == o.devices; }
    };

    Snapshot snapshot() const;
    void watchDevices(int first, int last);
    void updateModified();
    void setLastError(const QString &lastError);
    void setFileName(const QString &fileName);
    void markSaved();

    void showProgress(int phase, double fraction);
    ProjectEntity *m_project = nullptr;
    JobRunner m_jobs;
    QString m_jobPhase;
    double m_jobProgress = 0;
    QString m_lastError;
    bool m_modified = false;
    QString m_fileName;
    Snapshot m_saved;
};
