// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceentity.h"

DeviceEntity::DeviceEntity(QObject *parent)
    : QObject(parent)
{
}

void DeviceEntity::setNewMac(QString newMac)
{
    if (m_newMac == newMac)
        return;
    m_newMac = newMac;
    emit newMacChanged(m_newMac);
    updateEdited();
}

void DeviceEntity::setNewLabel(QString newLabel)
{
    if (m_newLabel == newLabel)
        return;
    m_newLabel = newLabel;
    emit newLabelChanged(m_newLabel);
    updateEdited();
}

void DeviceEntity::setOldMac(QString oldMac)
{
    if (m_oldMac == oldMac)
        return;
    m_oldMac = oldMac;
    emit oldMacChanged(m_oldMac);
    updateEdited();
}

void DeviceEntity::setOldLabel(QString oldLabel)
{
    if (m_oldLabel == oldLabel)
        return;
    m_oldLabel = oldLabel;
    emit oldLabelChanged(m_oldLabel);
    updateEdited();
}

void DeviceEntity::setDeviceType(QString deviceType)
{
    if (m_deviceType == deviceType)
        return;
    m_deviceType = deviceType;
    emit deviceTypeChanged(m_deviceType);
}

void DeviceEntity::setLabelEditable(bool labelEditable)
{
    if (m_labelEditable == labelEditable)
        return;
    m_labelEditable = labelEditable;
    emit labelEditableChanged(m_labelEditable);
}

void DeviceEntity::setIssue(QString issue)
{
    if (m_issue == issue)
        return;
    m_issue = issue;
    emit issueChanged(m_issue);
}

void DeviceEntity::revertLabel()
{
    setNewLabel(m_oldLabel);
}

void DeviceEntity::revertMac()
{
    setNewMac(shownOldMac().toLower());
}

void DeviceEntity::revert()
{
    revertLabel();
    revertMac();
}

QString DeviceEntity::shownOldMac() const
{
    return QString(m_oldMac).replace(QLatin1Char('_'), QLatin1Char(':'));
}

void DeviceEntity::updateEdited()
{
    const bool labelEdited = m_newLabel != m_oldLabel;
    const bool macEdited = m_newMac.toLower() != shownOldMac().toLower();
    if (m_labelEdited != labelEdited) {
        m_labelEdited = labelEdited;
        emit labelEditedChanged(m_labelEdited);
    }
    if (m_macEdited != macEdited) {
        m_macEdited = macEdited;
        emit macEditedChanged(m_macEdited);
    }
}
