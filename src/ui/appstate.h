#pragma once

#include <QQuickItem>
#include <QString>

class ProjectEntity;

// The editor's one controller, declared in main.qml as `appState`. It owns the
// project and hands every operation to the display-free workspace code.
class AppState : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(ProjectEntity *project MEMBER m_project NOTIFY projectChanged)

public:
    explicit AppState(QQuickItem *parent = nullptr);
    // Removes the unpacked trees of a project still loaded: they do not
    // outlive the editor.
    ~AppState() override;

    ProjectEntity *project() const { return m_project; }

    Q_INVOKABLE bool loadProject(QString path);
    Q_INVOKABLE void unloadProject();
    Q_INVOKABLE bool storeCurrentProject(QString outpath);
    // The target file of a store, chosen by the user; empty when cancelled.
    Q_INVOKABLE QString getSavePath();
    Q_INVOKABLE QString version();
    Q_INVOKABLE bool validateNewSettings();

signals:
    void projectChanged();

private:
    ProjectEntity *m_project = nullptr;
};
