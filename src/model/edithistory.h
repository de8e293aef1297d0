// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class DeviceEntity;
class ProjectEntity;

// The edits of a project as steps that can be undone and redone: every
// change of a setting or of a device's new label or MAC, however it was
// made. What changes in one turn of the event loop is one step (a revert of
// a row or of everything, an applied changes file); a lone change of the
// field changed just before, within a pause, joins that step (typing).
class EditHistory : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY changed)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY changed)

public:
    // How long a pause between two changes of one field ends a step.
    static constexpr int pauseMs = 1000;

    explicit EditHistory(ProjectEntity *project, QObject *parent = nullptr);

    bool canUndo() const { return !m_undo.isEmpty() || !m_turn.isEmpty(); }
    bool canRedo() const { return !m_redo.isEmpty() && m_turn.isEmpty(); }

    // Forgets every step: the project's values as they are now are where
    // the history starts (after a load or an unload).
    void clear();
    Q_INVOKABLE void undo();
    Q_INVOKABLE void redo();

signals:
    void changed();

private:
    enum class Field { Name, Author, Description, Label, Mac };
    struct Change
    {
        QPointer<QObject> target;
        Field field;
        QString before;
        QString after;
    };
    using Step = QVector<Change>;

    void watch(int first, int last);
    void record(QObject *target, Field field, const QString &value);
    QString &lastValue(QObject *target, Field field);
    void endTurn();
    void move(QVector<Step> &from, QVector<Step> &to, bool forward);
    void apply(const Step &step, bool forward);
    static void set(QObject *target, Field field, const QString &value);

    ProjectEntity *m_project = nullptr;
    QVector<Step> m_undo;
    QVector<Step> m_redo;
    Step m_turn;                // the changes of the current turn of the event loop
    bool m_applying = false;    // an undo or redo sets the values
    bool m_open = false;        // the last step may take more typing
    QElapsedTimer m_sinceChange;
    QString m_settings[3];                  // name, author, description as last seen
    QHash<QObject *, QString> m_labels;     // each device's new label as last seen
    QHash<QObject *, QString> m_macs;       // and its new MAC
};
