// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectentity.h"

#include "dataobjectmodel.h"
#include "deviceentity.h"

#include <QFileInfo>

ProjectEntity::ProjectEntity(QObject *parent)
    : QObject(parent)
    , m_ownDevices(new DataObjectModel)
{
    m_devices = m_ownDevices;
}

ProjectEntity::~ProjectEntity()
{
    // The model has no parent so that QML never takes it over; the one this
    // entity made goes with it.
    delete m_ownDevices;
}

QList<DeviceEntity *> ProjectEntity::deviceEntities() const
{
    return m_devices->objectsOfType<DeviceEntity>();
}

void ProjectEntity::setLoaded(bool loaded)
{
    if (m_loaded == loaded)
        return;
    m_loaded = loaded;
    emit loadedChanged(m_loaded);
}

void ProjectEntity::setName(QString name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged(m_name);
}

void ProjectEntity::setAuthor(QString author)
{
    if (m_author == author)
        return;
    m_author = author;
    emit authorChanged(m_author);
}

void ProjectEntity::setDescription(QString description)
{
    if (m_description == description)
        return;
    m_description = description;
    emit descriptionChanged(m_description);
}

void ProjectEntity::setOriginalPath(QString originalPath)
{
    m_originalPath = originalPath;
}

void ProjectEntity::setExtractedPath(QString extractedPath)
{
    m_extractedPath = extractedPath;
}

void ProjectEntity::setExtractedBackupPath(QString extractedBackupPath)
{
    m_extractedBackupPath = extractedBackupPath;
}

void ProjectEntity::setState(QString state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}
