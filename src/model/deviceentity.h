// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// One device of the open project: MAC and label as found in the archive
// ("old"), as the user wants them ("new"), its family type text and the
// current validation message. A new value that differs from the old one is
// an edit, which the revert slots undo.
class DeviceEntity : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString oldMac READ oldMac WRITE setOldMac NOTIFY oldMacChanged)
    Q_PROPERTY(QString oldLabel READ oldLabel WRITE setOldLabel NOTIFY oldLabelChanged)
    Q_PROPERTY(QString newMac READ newMac WRITE setNewMac NOTIFY newMacChanged)
    Q_PROPERTY(QString newLabel READ newLabel WRITE setNewLabel NOTIFY newLabelChanged)
    Q_PROPERTY(QString issue READ issue WRITE setIssue NOTIFY issueChanged)
    Q_PROPERTY(QString deviceType READ deviceType WRITE setDeviceType NOTIFY deviceTypeChanged)
    Q_PROPERTY(bool labelEditable READ labelEditable WRITE setLabelEditable NOTIFY labelEditableChanged)
    Q_PROPERTY(bool labelEdited READ labelEdited NOTIFY labelEditedChanged)
    Q_PROPERTY(bool macEdited READ macEdited NOTIFY macEditedChanged)
    Q_PROPERTY(QString shownOldMac READ shownOldMac NOTIFY oldMacChanged)

public:
    explicit DeviceEntity(QObject *parent = nullptr);

    QString oldMac() const { return m_oldMac; }
    // The old MAC as the list shows it: "_" written as ":".
    QString shownOldMac() const;
    QString oldLabel() const { return m_oldLabel; }
    QString newMac() const { return m_newMac; }
    QString newLabel() const { return m_newLabel; }
    QString deviceType() const { return m_deviceType; }
    bool labelEditable() const { return m_labelEditable; }
    QString issue() const { return m_issue; }
    bool labelEdited() const { return m_labelEdited; }
    bool macEdited() const { return m_macEdited; }

signals:
    void oldMacChanged(QString oldMac);
    void oldLabelChanged(QString oldLabel);
    void newMacChanged(QString newMac);
    void newLabelChanged(QString newLabel);
    void deviceTypeChanged(QString deviceType);
    void labelEditableChanged(bool labelEditable);
    void issueChanged(QString issue);
    void labelEditedChanged(bool labelEdited);
    void macEditedChanged(bool macEdited);

public slots:
    void setNewMac(QString newMac);
    void setNewLabel(QString newLabel);
    void setOldMac(QString oldMac);
    void setOldLabel(QString oldLabel);
    void setDeviceType(QString deviceType);
    void setLabelEditable(bool labelEditable);
    void setIssue(QString issue);
    void revertLabel();
    void revertMac();
    void revert();

private:
    void updateEdited();

    QString m_oldMac;
    QString m_oldLabel;
    QString m_newMac;
    QString m_newLabel;
    QString m_deviceType;
    bool m_labelEditable = false;
    QString m_issue;
    bool m_labelEdited = false;
    bool m_macEdited = false;
};
