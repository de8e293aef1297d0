// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class DataObjectModel;
class DeviceEntity;
namespace Workspace {
struct OpenedProject;
}

// The three editable settings of a project.
struct ProjectSettings
{
    QString name;
    QString author;
    QString description;
    bool operator==(const ProjectSettings &o) const
    {
        return name == o.name && author == o.author && description == o.description;
    }
    bool operator!=(const ProjectSettings &o) const { return !(*this == o); }
};

// The open project: loaded flag, the three editable settings, the device
// model, the archive it was read from and the status text of the last store.
class ProjectEntity : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool loaded READ loaded WRITE setLoaded NOTIFY loadedChanged)
    Q_PROPERTY(QString originalPath READ originalPath WRITE setOriginalPath)
    Q_PROPERTY(QString extractedPath READ extractedPath WRITE setExtractedPath)
    Q_PROPERTY(QString extractedBackupPath READ extractedBackupPath WRITE setExtractedBackupPath)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString author READ author WRITE setAuthor NOTIFY authorChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)
    Q_PROPERTY(QString state READ state WRITE setState NOTIFY stateChanged)
    Q_PROPERTY(DataObjectModel *devices MEMBER m_devices NOTIFY devicesChanged)

public:
    explicit ProjectEntity(QObject *parent = nullptr);
    ~ProjectEntity() override;

    bool loaded() const { return m_loaded; }
    QString originalPath() const { return m_originalPath; }
    QString extractedPath() const { return m_extractedPath; }
    QString extractedBackupPath() const { return m_extractedBackupPath; }
    QString name() const { return m_name; }
    QString author() const { return m_author; }
    QString description() const { return m_description; }
    QString state() const { return m_state; }
    DataObjectModel *devices() const { return m_devices; }
    // The devices of the list, in its order.
    QList<DeviceEntity *> deviceEntities() const;

    // The settings as loaded: a value that differs from these is an edit.
    ProjectSettings loadedSettings() const { return m_loadedSettings; }
    void setLoadedSettings(const ProjectSettings &settings) { m_loadedSettings = settings; }
    ProjectSettings settings() const { return {m_name, m_author, m_description}; }

    // What a load kept of the archive it read; null while none is loaded.
    std::shared_ptr<const Workspace::OpenedProject> opened() const { return m_opened; }
    void setOpened(std::shared_ptr<const Workspace::OpenedProject> opened) { m_opened = std::move(opened); }

signals:
    void loadedChanged(bool loaded);
    void devicesChanged();
    void nameChanged(QString name);
    void authorChanged(QString author);
    void descriptionChanged(QString description);
    void stateChanged(QString state);

public slots:
    void setLoaded(bool loaded);
    void setName(QString name);
    void setAuthor(QString author);
    void setDescription(QString description);
    void setOriginalPath(QString originalPath);
    void setExtractedPath(QString extractedPath);
    void setExtractedBackupPath(QString extractedBackupPath);
    void setState(QString state);

private:
    bool m_loaded = false;
    QString m_originalPath;
    DataObjectModel *m_devices = nullptr;
    DataObjectModel *const m_ownDevices;
    QString m_name;
    QString m_author;
    QString m_description;
    QString m_extractedPath;
    QString m_extractedBackupPath;
    QString m_state;
    ProjectSettings m_loadedSettings;
    std::shared_ptr<const Workspace::OpenedProject> m_opened;
};
