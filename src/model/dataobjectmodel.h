// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QQmlListProperty>

// A flat list of object references. Views see one role (257, "dataObject")
// that yields the row's object; QML object trees see a default list property.
// The model owns only what was given to it with insert().
class DataObjectModel : public QAbstractListModel
{
    Q_OBJECT
    Q_CLASSINFO("DefaultProperty", "content")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QQmlListProperty<QObject> content READ content)

public:
    static constexpr int DataObjectRole = Qt::UserRole + 1;

    explicit DataObjectModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const;
    QQmlListProperty<QObject> content();

    // Empties the list with a model reset; deletes nothing.
    void clear();

    template<class T>
    QList<T *> objectsOfType() const
    {
        QList<T *> result;
        for (QObject *object : m_objects) {
            if (T *typed = dynamic_cast<T *>(object))
                result.append(typed);
        }
        return result;
    }

public slots:
    void append(QList<QObject *> &o);
    void append(QObject *o);
    void insert(QObject *o, int i);
    QObject *get(int i);

    static void dataObjectAppend(QQmlListProperty<QObject> *list, QObject *e);
    static int dataObjectCount(QQmlListProperty<QObject> *list);
    static QObject *dataObjectAt(QQmlListProperty<QObject> *list, int i);
    static void dataObjectClear(QQmlListProperty<QObject> *list);

signals:
    void countChanged(int count);

private:
    QList<QObject *> m_objects;
};
