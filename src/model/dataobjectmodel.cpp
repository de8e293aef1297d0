// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"

DataObjectModel::DataObjectModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int DataObjectModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children. Answering the full count for a valid
    // parent would make every row look like a parent of the whole list again.
    if (parent.isValid())
        return 0;
    return m_objects.size();
}

QVariant DataObjectModel::data(const QModelIndex &index, int) const
{
    // Out of range answers an invalid variant rather than reading past the list.
    if (index.row() < 0 || index.row() >= m_objects.size())
        return QVariant();
    return QVariant::fromValue(m_objects.at(index.row()));
}

QHash<int, QByteArray> DataObjectModel::roleNames() const
{
    static const QHash<int, QByteArray> roles{{DataObjectRole, QByteArrayLiteral("dataObject")}};
    return roles;
}

int DataObjectModel::count() const
{
    return m_objects.size();
}

QQmlListProperty<QObject> DataObjectModel::content()
{
    return QQmlListProperty<QObject>(this, nullptr, &DataObjectModel::dataObjectAppend,
                                     &DataObjectModel::dataObjectCount,
                                     &DataObjectModel::dataObjectAt,
                                     &DataObjectModel::dataObjectClear);
}

void DataObjectModel::clear()
{
    beginResetModel();
    m_objects.clear();
    endResetModel();
    emit countChanged(0);
}

void DataObjectModel::append(QList<QObject *> &o)
{
    const int first = m_objects.size();
    // An empty batch announces no rows; listeners still learn the (unchanged) count.
    if (o.isEmpty()) {
        emit countChanged(m_objects.size());
        return;
    }
    beginInsertRows(QModelIndex(), first, first + o.size() - 1);
    for (QObject *object : o)
        m_objects.append(object);
    emit countChanged(m_objects.size());
    endInsertRows();
}

void DataObjectModel::append(QObject *o)
{
    const int row = m_objects.size();
    beginInsertRows(QModelIndex(), row, row);
    m_objects.append(o);
    emit countChanged(m_objects.size());
    endInsertRows();
}

void DataObjectModel::insert(QObject *o, int i)
{
    // Positions outside 0..count are clamped so a bad index cannot corrupt the list.
    i = qBound(0, i, m_objects.size());
    beginInsertRows(QModelIndex(), i, i);
    m_objects.insert(i, o);
    if (o)
        o->setParent(this);
    emit countChanged(m_objects.size());
    endInsertRows();
}

QObject *DataObjectModel::get(int i)
{
    if (i < 0 || i >= m_objects.size())
        return nullptr;
    return m_objects.at(i);
}

void DataObjectModel::dataObjectAppend(QQmlListProperty<QObject> *list, QObject *e)
{
    auto *model = qobject_cast<DataObjectModel *>(list->object);
    if (model && e)
        model->m_objects.append(e);
}

int DataObjectModel::dataObjectCount(QQmlListProperty<QObject> *list)
{
    auto *model = qobject_cast<DataObjectModel *>(list->object);
    return model ? model->m_objects.size() : 0;
}

QObject *DataObjectModel::dataObjectAt(QQmlListProperty<QObject> *list, int i)
{
    auto *model = qobject_cast<DataObjectModel *>(list->object);
    return model ? model->get(i) : nullptr;
}

void DataObjectModel::dataObjectClear(QQmlListProperty<QObject> *list)
{
    if (auto *model = qobject_cast<DataObjectModel *>(list->object))
        model->m_objects.clear();
}
