// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "testutil.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

QStringList propertyNames(const QMetaObject &mo)
{
    QStringList names;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
        names << QString::fromLatin1(mo.property(i).name());
    return names;
}

QStringList methodSignatures(const QMetaObject &mo, QMetaMethod::MethodType type)
{
    QStringList names;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        if (mo.method(i).methodType() == type)
            names << QString::fromLatin1(mo.method(i).methodSignature());
    }
    return names;
}

std::unique_ptr<QObject> makeEntity(const QString &cls)
{
    if (cls == QLatin1String("DeviceEntity"))
        return std::make_unique<DeviceEntity>();
    return std::make_unique<ProjectEntity>();
}

} // namespace

class TestEntities : public QObject
{
    Q_OBJECT

private slots:
    void notifyingSetters_data()
    {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("other");

        const QVariant mac = QStringLiteral("00:1a:2b:3c:4d:5e");
        const QVariant macUpper = QStringLiteral("00:1A:2B:3C:4D:5E");
        QTest::newRow("device oldMac") << "DeviceEntity" << "oldMac" << mac << macUpper;
        QTest::newRow("device oldLabel") << "DeviceEntity" << "oldLabel" << QVariant("Stage") << QVariant("stage");
        QTest::newRow("device newMac case") << "DeviceEntity" << "newMac" << mac << macUpper;
        QTest::newRow("device newLabel") << "DeviceEntity" << "newLabel" << QVariant("Left") << QVariant("Right");
        QTest::newRow("device issue") << "DeviceEntity" << "issue" << QVariant("This is not a valid MAC") << QVariant("");
        QTest::newRow("device deviceType") << "DeviceEntity" << "deviceType" << QVariant("KSB12") << QVariant("TANDO/QL3");
        QTest::newRow("device labelEditable") << "DeviceEntity" << "labelEditable" << QVariant(true) << QVariant(false);
        QTest::newRow("project loaded") << "ProjectEntity" << "loaded" << QVariant(true) << QVariant(false);
        QTest::newRow("project name") << "ProjectEntity" << "name" << QVariant("Show") << QVariant("show");
        QTest::newRow("project author") << "ProjectEntity" << "author" << QVariant("Ann") << QVariant("Bob");
        QTest::newRow("project description") << "ProjectEntity" << "description" << QVariant("Hall") << QVariant("");
        QTest::newRow("project state") << "ProjectEntity" << "state" << QVariant("/p.tgz saved") << QVariant("x");
    }

    // Every notifying setter stores and announces a change exactly once, never
    // an equal value, and the QML property write behaves like the setter.
    void notifyingSetters()
    {
        QFETCH(QString, cls);
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        QFETCH(QVariant, other);

        auto entity = makeEntity(cls);
        const QMetaObject *mo = entity->metaObject();
        const QMetaProperty prop = mo->property(mo->indexOfProperty(qPrintable(property)));
        QVERIFY(prop.isValid());
        QVERIFY(prop.hasNotifySignal());
        QSignalSpy spy(entity.get(), prop.notifySignal());

        const QByteArray setter = "set" + property.left(1).toUpper().toLatin1() + property.mid(1).toLatin1();
        auto callSetter = [&](const QVariant &v) {
            bool ok = false;
            if (v.type() == QVariant::Bool)
                ok = QMetaObject::invokeMethod(entity.get(), setter.constData(), Q_ARG(bool, v.toBool()));
            else
                ok = QMetaObject::invokeMethod(entity.get(), setter.constData(), Q_ARG(QString, v.toString()));
            QVERIFY(ok);
        };

        callSetter(value);
        QCOMPARE(entity->property(qPrintable(property)), value);
        QVERIFY(spyCarries(spy, {value}));

        callSetter(value);
        QCOMPARE(spy.count(), 1);

        QVERIFY(entity->setProperty(qPrintable(property), other));
        QCOMPARE(entity->property(qPrintable(property)), other);
        QVERIFY(spyCarries(spy, {value, other}));

        QVERIFY(entity->setProperty(qPrintable(property), other));
        QCOMPARE(spy.count(), 2);
    }

    void freshDeviceIsEmpty()
    {
        DeviceEntity device;
        for (const char *p : {"oldMac", "oldLabel", "newMac", "newLabel", "issue", "deviceType"})
            QVERIFY2(device.property(p).toString().isEmpty(), p);
    }

    // An edit is a new value other than the old one (a MAC in any letter
    // case or the underscore form is not); revert gives back the old value.
    void editsAreMarkedAndReverted()
    {
        DeviceEntity device;
        device.setOldLabel(QStringLiteral("Door"));
        device.setOldMac(QStringLiteral("00_1a_2b_3c_4d_5e"));
        device.setNewLabel(QStringLiteral("Door"));
        device.setNewMac(QStringLiteral("00:1A:2B:3C:4D:5E"));
        QVERIFY(!device.labelEdited() && !device.macEdited());
        QSignalSpy labelSpy(&device, &DeviceEntity::labelEditedChanged);
        QSignalSpy macSpy(&device, &DeviceEntity::macEditedChanged);

        device.setNewLabel(QStringLiteral("Gate"));
        device.setNewMac(QStringLiteral("00:1a:2b:3c:4d:ff"));
        QVERIFY(device.labelEdited() && device.macEdited());
        device.revertMac();
        QCOMPARE(device.newMac(), QStringLiteral("00:1a:2b:3c:4d:5e"));
        QVERIFY(device.labelEdited() && !device.macEdited());

        device.setNewMac(QStringLiteral("00:1a:2b:3c:4d:ff"));
        device.revert();
        QCOMPARE(device.newLabel(), QStringLiteral("Door"));
        QCOMPARE(device.newMac(), QStringLiteral("00:1a:2b:3c:4d:5e"));
        QVERIFY(spyCarries(labelSpy, {true, false}));
        QVERIFY(spyCarries(macSpy, {true, false, true, false}));
    }

    void metaInterfaceOrder_data()
    {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QStringList>("properties");
        QTest::addColumn<QStringList>("signalList");
        QTest::addColumn<QStringList>("slotList");

        QTest::newRow("DeviceEntity")
            << "DeviceEntity"
            << QStringList{"oldMac", "oldLabel", "newMac", "newLabel", "issue", "deviceType", "labelEditable",
                           "labelEdited", "macEdited", "shownOldMac"}
            << QStringList{"oldMacChanged(QString)", "oldLabelChanged(QString)", "newMacChanged(QString)",
                           "newLabelChanged(QString)", "deviceTypeChanged(QString)",
                           "labelEditableChanged(bool)", "issueChanged(QString)", "labelEditedChanged(bool)",
                           "macEditedChanged(bool)"}
            << QStringList{"setNewMac(QString)", "setNewLabel(QString)", "setOldMac(QString)",
                           "setOldLabel(QString)", "setDeviceType(QString)", "setLabelEditable(bool)",
                           "setIssue(QString)", "revertLabel()", "revertMac()", "revert()"};
        QTest::newRow("ProjectEntity")
            << "ProjectEntity"
            << QStringList{"loaded", "originalPath", "extractedPath", "extractedBackupPath", "name",
                           "author", "description", "state", "devices"}
            << QStringList{"loadedChanged(bool)", "devicesChanged()", "nameChanged(QString)",
                           "authorChanged(QString)", "descriptionChanged(QString)", "stateChanged(QString)"}
            << QStringList{"setLoaded(bool)", "setName(QString)", "setAuthor(QString)",
                           "setDescription(QString)", "setOriginalPath(QString)",
                           "setExtractedPath(QString)", "setExtractedBackupPath(QString)",
                           "setState(QString)"};
    }

    // QML sees the properties, signals and slots in this order.
    void metaInterfaceOrder()
    {
        QFETCH(QString, cls);
        QFETCH(QStringList, properties);
        QFETCH(QStringList, signalList);
        QFETCH(QStringList, slotList);
        auto entity = makeEntity(cls);
        QCOMPARE(propertyNames(*entity->metaObject()), properties);
        QCOMPARE(methodSignatures(*entity->metaObject(), QMetaMethod::Signal), signalList);
        QCOMPARE(methodSignatures(*entity->metaObject(), QMetaMethod::Slot), slotList);
    }

    void projectPathsAndDevices()
    {
        ProjectEntity project;
        QVERIFY(!project.loaded());
        QVERIFY(project.devices());
        QCOMPARE(project.devices()->count(), 0);
        for (const char *p : {"originalPath", "extractedPath", "extractedBackupPath", "name", "author",
                              "description", "state"})
            QVERIFY2(project.property(p).toString().isEmpty(), p);

        // Path properties store unconditionally and have no signal at all.
        project.setExtractedPath(QStringLiteral("/tmp/x"));
        project.setExtractedPath(QStringLiteral("/tmp/x"));
        QCOMPARE(project.extractedPath(), QStringLiteral("/tmp/x"));
        QVERIFY(!project.metaObject()->property(project.metaObject()->indexOfProperty("extractedPath")).hasNotifySignal());
    }

    void devicesPointerWrite()
    {
        ProjectEntity project;
        QSignalSpy spy(&project, &ProjectEntity::devicesChanged);
        DataObjectModel *own = project.devices();
        QVERIFY(project.setProperty("devices", QVariant::fromValue(own)));
        QCOMPARE(spy.count(), 0);

        DataObjectModel other;
        QPointer<DataObjectModel> previous = own;
        QVERIFY(project.setProperty("devices", QVariant::fromValue(&other)));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(project.devices(), &other);
        QVERIFY(!previous.isNull());
    }
};

QTEST_GUILESS_MAIN(TestEntities)
#include "tst_entities.moc"
