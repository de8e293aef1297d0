// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "startup.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

class TestDataObjectModel : public QObject
{
    Q_OBJECT

private:
    // Each test gets a model under a tester that checks every change it makes.
    struct Fixture
    {
        Fixture()
            : model(new DataObjectModel)
            , checker(std::make_unique<ModelChecker>(model.get()))
        {
            log.watch(model.get(), &QAbstractItemModel::rowsAboutToBeInserted, QStringLiteral("aboutToInsert"));
            log.watch(model.get(), &QAbstractItemModel::rowsInserted, QStringLiteral("inserted"));
            log.watch(model.get(), &QAbstractItemModel::modelAboutToBeReset, QStringLiteral("aboutToReset"));
            log.watch(model.get(), &QAbstractItemModel::modelReset, QStringLiteral("reset"));
            log.watch(model.get(), &DataObjectModel::countChanged, QStringLiteral("count"));
        }
        std::unique_ptr<DataObjectModel> model;
        std::unique_ptr<ModelChecker> checker;
        SignalLog log;
    };

private slots:
    void newModelIsEmpty()
    {
        Fixture f;
        QCOMPARE(f.model->count(), 0);
        QCOMPARE(f.model->rowCount(), 0);
        const QHash<int, QByteArray> expected{{257, "dataObject"}};
        QCOMPARE(f.model->roleNames(), expected);
    }

    void dataIgnoresRoleAndParent()
    {
        Fixture f;
        QObject a, b;
        f.model->append(&a);
        f.model->append(&b);
        const QModelIndex second = f.model->index(1, 0);
        for (int role : {int(Qt::DisplayRole), 257, 1000})
            QCOMPARE(f.model->data(second, role).value<QObject *>(), &b);
        // Rows have no children of their own.
        QCOMPARE(f.model->rowCount(f.model->index(0, 0)), 0);
        QCOMPARE(f.model->get(0), &a);
    }

    void batchAppendAnnouncesOnce()
    {
        Fixture f;
        QObject parentOfAll;
        QList<QObject *> first{new QObject(&parentOfAll), new QObject(&parentOfAll)};
        f.model->append(first);
        f.log.events.clear();

        QSignalSpy inserted(f.model.get(), &QAbstractItemModel::rowsAboutToBeInserted);
        QSignalSpy counts(f.model.get(), &DataObjectModel::countChanged);
        QList<QObject *> batch{new QObject(&parentOfAll), new QObject(&parentOfAll), new QObject(&parentOfAll)};
        f.model->append(batch);

        QCOMPARE(f.log.events, QStringList({"aboutToInsert", "count", "inserted"}));
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(inserted.at(0).at(2).toInt(), 4);
        QVERIFY(spyCarries(counts, {5}));
        for (QObject *o : batch)
            QCOMPARE(o->parent(), &parentOfAll);
        QCOMPARE(f.model->get(4), batch.last());
    }

    void emptyBatchOnlyReportsCount()
    {
        Fixture f;
        QObject a;
        f.model->append(&a);
        f.log.events.clear();
        QList<QObject *> none;
        f.model->append(none);
        QCOMPARE(f.log.events, QStringList({"count"}));
        QCOMPARE(f.model->count(), 1);
    }

    void insertTakesOwnership()
    {
        QPointer<QObject> inserted = new QObject;
        QObject kept;
        {
            Fixture f;
            f.model->append(&kept);
            f.log.events.clear();
            QSignalSpy counts(f.model.get(), &DataObjectModel::countChanged);
            f.model->insert(inserted, 0);
            QCOMPARE(f.log.events, QStringList({"aboutToInsert", "count", "inserted"}));
            QVERIFY(spyCarries(counts, {2}));
            QCOMPARE(f.model->get(0), inserted.data());
            QCOMPARE(f.model->get(1), &kept);
            QCOMPARE(inserted->parent(), f.model.get());
            f.checker.reset();
        }
        QVERIFY(inserted.isNull());
        QVERIFY(kept.parent() == nullptr);
    }

    void clearResetsAndDeletesNothing()
    {
        Fixture f;
        QPointer<QObject> a = new QObject;
        f.model->append(a);
        f.log.events.clear();
        f.model->clear();
        QCOMPARE(f.log.events, QStringList({"aboutToReset", "reset", "count"}));
        QCOMPARE(f.model->count(), 0);
        QVERIFY(!a.isNull());
        delete a;

        // Clearing an empty model still tells listeners the count, after the reset.
        f.log.events.clear();
        QSignalSpy counts(f.model.get(), &DataObjectModel::countChanged);
        f.model->clear();
        QCOMPARE(f.log.events, QStringList({"aboutToReset", "reset", "count"}));
        QVERIFY(spyCarries(counts, {0}));
    }

    void objectsOfTypeFiltersAndSkipsNull()
    {
        Fixture f;
        DeviceEntity d1, d2;
        QObject plain;
        f.model->append(&d1);
        f.model->append(&plain);
        f.model->append(static_cast<QObject *>(nullptr));
        f.model->append(&d2);
        QCOMPARE(f.model->count(), 4);
        QCOMPARE(f.model->objectsOfType<DeviceEntity>(), QList<DeviceEntity *>({&d1, &d2}));
        QCOMPARE(f.model->objectsOfType<QObject>().size(), 3);
    }

    void listPropertyPath()
    {
        Fixture f;
        QQmlListProperty<QObject> content = f.model->content();
        QObject a;
        DataObjectModel::dataObjectAppend(&content, nullptr);
        QCOMPARE(f.model->count(), 0);
        DataObjectModel::dataObjectAppend(&content, &a);
        QCOMPARE(DataObjectModel::dataObjectCount(&content), 1);
        QCOMPARE(DataObjectModel::dataObjectAt(&content, 0), &a);
        // The list-property path bypasses the model signals.
        QVERIFY(f.log.events.isEmpty());
        DataObjectModel::dataObjectClear(&content);
        QCOMPARE(f.model->count(), 0);

        // A list property whose object is not a model yields nothing.
        QObject other;
        QQmlListProperty<QObject> foreign(&other, nullptr, &DataObjectModel::dataObjectAppend,
                                          &DataObjectModel::dataObjectCount,
                                          &DataObjectModel::dataObjectAt,
                                          &DataObjectModel::dataObjectClear);
        DataObjectModel::dataObjectAppend(&foreign, &a);
        QCOMPARE(DataObjectModel::dataObjectCount(&foreign), 0);
        QCOMPARE(DataObjectModel::dataObjectAt(&foreign, 0), nullptr);
    }

    void objectsDeclaredInQml()
    {
        Startup::registerTypes();
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\nimport Norvel 1.0\n"
                          "DataObjectModel { QtObject {} DeviceEntity { newMac: \"x\" } }",
                          QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        QCOMPARE(root->property("count").toInt(), 2);
        auto *model = qobject_cast<DataObjectModel *>(root.get());
        QVERIFY(model);
        QCOMPARE(model->objectsOfType<DeviceEntity>().size(), 1);
    }
};

QTEST_MAIN(TestDataObjectModel)
#include "tst_dataobjectmodel.moc"
