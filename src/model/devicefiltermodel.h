// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QVector>

class DeviceEntity;

// The device table's view of the device list: the rows whose label, new
// label, type or MAC contain the search text, in the order of one column.
// Only the view changes; the list below keeps the order that storing and
// validation use. Rows keep their place while their device is edited, so a
// row being typed in never vanishes; a new search text or sort applies edits.
class DeviceFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(QString filterText READ filterText WRITE setFilterText NOTIFY filterTextChanged)
    // Only devices with an edited label or MAC; with the search text, both apply.
    Q_PROPERTY(bool editedOnly READ editedOnly WRITE setEditedOnly NOTIFY editedOnlyChanged)
    Q_PROPERTY(SortKey sortKey READ sortKey NOTIFY sortChanged)
    Q_PROPERTY(bool descending READ descending NOTIFY sortChanged)
    Q_PROPERTY(int count READ count NOTIFY countsChanged)
    Q_PROPERTY(int totalCount READ totalCount NOTIFY countsChanged)
    // "12 of 1 000 devices"; "1 000 devices" without a search text; with
    // editedOnly, how many are edited too: "3 of 1 000 devices, 3 edited".
    Q_PROPERTY(QString summary READ summary NOTIFY countsChanged)
    // Devices with an issue, shown or not.
    Q_PROPERTY(int problemCount READ problemCount NOTIFY problemCountChanged)

public:
    enum SortKey { Unsorted, ByNumber, ByType, ByLabel, ByMac };
    Q_ENUM(SortKey)
    // The row's device, its row in the list below, and its issueText().
    static constexpr int DataObjectRole = Qt::UserRole + 1;
    static constexpr int SourceRowRole = Qt::UserRole + 2;
    static constexpr int IssueTextRole = Qt::UserRole + 3;

    explicit DeviceFilterModel(QObject *parent = nullptr);

    QString filterText() const { return m_filterText; }
    bool editedOnly() const { return m_editedOnly; }
    SortKey sortKey() const { return m_sortKey; }
    bool descending() const { return m_descending; }
    int count() const { return m_count; }
    int totalCount() const { return m_totalCount; }
    QString summary() const { return m_summary; }
    int problemCount() const { return m_problems.size(); }

    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role) const override;
    void setSourceModel(QAbstractItemModel *model) override;

    // Sorts by that column; the column sorted by already is reversed.
    Q_INVOKABLE void sortBy(SortKey key);
    // The view row of the first device with an issue after `row`, from the
    // top again after the last; -1 when no device has one. A search (or
    // editedOnly) that hides every such device is cleared first.
    Q_INVOKABLE int nextProblem(int row);
    // The device's issue; when an earlier row has the same new MAC, also
    // which one ("#" numbers, from 1). The rows' IssueTextRole follows every
    // change of an issue at once and of a new MAC before the next frame.
    Q_INVOKABLE QString issueText(QObject *device) const;

public slots:
    void setFilterText(QString filterText);
    void setEditedOnly(bool editedOnly);

signals:
    void filterTextChanged(QString filterText);
    void editedOnlyChanged(bool editedOnly);
    void sortChanged();
    void countsChanged();
    void problemCountChanged(int problemCount);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    // What a search looks in, lower-cased: the texts, and both MACs without separators.
    struct SearchKey
    {
        QString texts;
        QString macs;
    };

    DeviceEntity *deviceAt(int sourceRow) const;
    const SearchKey &searchKey(DeviceEntity *device) const;
    int problemAfter(int row) const;
    void watchRows(int first, int last);
    void unwatchRows(int first, int last);
    void forgetRows();
    void noteIssue(DeviceEntity *device);
    void noteEdited(DeviceEntity *device);
    void noteNewMac(DeviceEntity *device);
    void refreshIssueTexts();
    int sourceRowOf(const QObject *device) const;
    int firstRowWithMac(const QString &key) const;
    void updateCounts();

    QString m_filterText;
    QString m_query;
    QString m_macQuery;
    SortKey m_sortKey = Unsorted;
    bool m_descending = false;
    int m_count = 0;
    int m_totalCount = 0;
    QString m_summary = QStringLiteral("0 devices");
    bool m_editedOnly = false;
    QSet<const QObject *> m_problems;
    QSet<const QObject *> m_edited;
    mutable QHash<const QObject *, SearchKey> m_keys;
    // Made when first needed: each device's row, the first row of each new MAC.
    mutable QHash<const QObject *, int> m_sourceRows;
    mutable QHash<QString, int> m_firstRows;
    bool m_refreshPending = false;
    QVector<QMetaObject::Connection> m_sourceConnections;
};
