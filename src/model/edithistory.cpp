// SPDX-License-Identifier: GPL-3.0-or-later
#include "edithistory.h"

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"

#include <QTimer>

#include <algorithm>

EditHistory::EditHistory(ProjectEntity *project, QObject *parent)
    : QObject(parent), m_project(project)
{
    connect(project, &ProjectEntity::nameChanged, this, [this](const QString &v) { record(m_project, Field::Name, v); });
    connect(project, &ProjectEntity::authorChanged, this, [this](const QString &v) { record(m_project, Field::Author, v); });
    connect(project, &ProjectEntity::descriptionChanged, this,
            [this](const QString &v) { record(m_project, Field::Description, v); });
    DataObjectModel *devices = project->devices();
    connect(devices, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { watch(first, last); });
    connect(devices, &QAbstractItemModel::modelReset, this, [this] {
        m_labels.clear();
        m_macs.clear();
    });
    watch(0, devices->count() - 1);
    clear();
}

void EditHistory::clear()
{
    m_undo.clear();
    m_redo.clear();
    m_turn.clear();
    m_open = false;
    m_settings[0] = m_project->name();
    m_settings[1] = m_project->author();
    m_settings[2] = m_project->description();
    for (auto it = m_labels.begin(); it != m_labels.end(); ++it)
        it.value() = static_cast<DeviceEntity *>(it.key())->newLabel();
    for (auto it = m_macs.begin(); it != m_macs.end(); ++it)
        it.value() = static_cast<DeviceEntity *>(it.key())->newMac();
    emit changed();
}

void EditHistory::undo()
{
    move(m_undo, m_redo, false);
}

void EditHistory::redo()
{
    move(m_redo, m_undo, true);
}

// The last step of one list is taken back or done again, and goes to the other.
void EditHistory::move(QVector<Step> &from, QVector<Step> &to, bool forward)
{
    endTurn(); // a redo after new edits has nothing to do again
    if (from.isEmpty())
        return;
    const Step step = from.takeLast();
    apply(step, forward);
    to.append(step);
    m_open = false;
    emit changed();
}

void EditHistory::watch(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        auto *device = qobject_cast<DeviceEntity *>(m_project->devices()->get(row));
        if (!device || m_labels.contains(device))
            continue;
        m_labels.insert(device, device->newLabel());
        m_macs.insert(device, device->newMac());
        connect(device, &DeviceEntity::newLabelChanged, this, [this, device](const QString &v) { record(device, Field::Label, v); });
        connect(device, &DeviceEntity::newMacChanged, this, [this, device](const QString &v) { record(device, Field::Mac, v); });
        connect(device, &QObject::destroyed, this, [this, device] {
            m_labels.remove(device);
            m_macs.remove(device);
        });
    }
}

QString &EditHistory::lastValue(QObject *target, Field field)
{
    switch (field) {
    case Field::Name:
        return m_settings[0];
    case Field::Author:
        return m_settings[1];
    case Field::Description:
        return m_settings[2];
    case Field::Label:
        return m_labels[target];
    case Field::Mac:
        break;
    }
    return m_macs[target];
}

void EditHistory::record(QObject *target, Field field, const QString &value)
{
    QString &last = lastValue(target, field);
    if (last == value)
        return;
    const QString before = last;
    last = value;
    if (m_applying)
        return;
    for (Change &change : m_turn) {
        if (change.target == target && change.field == field) {
            change.after = value;
            return;
        }
    }
    if (m_turn.isEmpty()) {
        QTimer::singleShot(0, this, &EditHistory::endTurn);
        emit changed();
    }
    m_turn.append({target, field, before, value});
}

// The changes of the turn become a step, or more typing of the step before.
void EditHistory::endTurn()
{
    Step turn;
    turn.swap(m_turn);
    turn.erase(std::remove_if(turn.begin(), turn.end(), [](const Change &c) { return c.before == c.after; }), turn.end());
    if (turn.isEmpty())
        return;
    m_redo.clear();
    const bool typing = turn.size() == 1 && m_open && !m_undo.isEmpty() && m_undo.last().size() == 1
                        && m_undo.last().first().target == turn.first().target
                        && m_undo.last().first().field == turn.first().field && m_sinceChange.elapsed() < pauseMs;
    if (typing) {
        m_undo.last().first().after = turn.first().after;
        if (m_undo.last().first().before == m_undo.last().first().after)
            m_undo.removeLast();
    } else {
        m_undo.append(turn);
    }
    m_open = turn.size() == 1;
    m_sinceChange.start();
    emit changed();
}

void EditHistory::apply(const Step &step, bool forward)
{
    m_applying = true;
    for (int i = 0; i < step.size(); ++i) {
        const Change &change = step.at(forward ? i : step.size() - 1 - i);
        if (change.target)
            set(change.target, change.field, forward ? change.after : change.before);
    }
    m_applying = false;
}

void EditHistory::set(QObject *target, Field field, const QString &value)
{
    if (auto *project = qobject_cast<ProjectEntity *>(target)) {
        if (field == Field::Name)
            project->setName(value);
        else if (field == Field::Author)
            project->setAuthor(value);
        else
            project->setDescription(value);
    } else if (auto *device = qobject_cast<DeviceEntity *>(target)) {
        if (field == Field::Label)
            device->setNewLabel(value);
        else
            device->setNewMac(value);
    }
}
