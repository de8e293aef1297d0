// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "processrun.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "testfiles.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void unloadWithNothingLoaded()
    {
        AppState state;
        ProjectEntity *project = state.project();
        ModelChecker checker(project->devices());
        SignalLog log;
        log.watch(project->devices(), &QAbstractItemModel::modelReset, "reset");
        log.watch(project->devices(), &DataObjectModel::countChanged, "count");
        QSignalSpy loadedSpy(project, &ProjectEntity::loadedChanged);

        state.unloadProject();
        QCOMPARE(log.events, QStringList({"reset", "count"}));
        QCOMPARE(loadedSpy.count(), 0);
        QVERIFY(!project->loaded());
    }

    void unloadKeepsTexts()
    {
        AppState state;
        ProjectEntity *project = state.project();
        ModelChecker checker(project->devices());
        project->setName("Show");
        project->setAuthor("Ann");
        project->setDescription("Hall");
        QPointer<DeviceEntity> device = new DeviceEntity(project);
        project->devices()->append(device.data());
        project->setLoaded(true);

        SignalLog log;
        log.watch(project->devices(), &QAbstractItemModel::modelReset, "reset");
        log.watch(project, &ProjectEntity::loadedChanged, "loaded");
        state.unloadProject();
        QCOMPARE(log.events, QStringList({"reset", "loaded"}));
        QCOMPARE(project->devices()->count(), 0);
        QVERIFY(!project->loaded());
        QCOMPARE(project->name(), QStringLiteral("Show"));
        QCOMPARE(project->author(), QStringLiteral("Ann"));
        QCOMPARE(project->description(), QStringLiteral("Hall"));
        QVERIFY(device); // views may still be told about it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(device.isNull());

        // A second call only resets the list again.
        log.events.clear();
        state.unloadProject();
        QCOMPARE(log.events, QStringList({"reset"}));
    }

    // Each reload and the unload free the devices before them, so a window
    // that opens one project after another keeps its size.
    void reloadsFreeTheDevicesBefore()
    {
        ProjectFixture f;
        f.addProjectXml("Show", "Ann", "Hall");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addTando("00:1a:2b:3c:4d:5f", "Back");
        const QString archive = f.makeTgz("show.tgz");
        AppState state;
        QList<QPointer<DeviceEntity>> before;
        for (int load = 0; load < 4; ++load) {
            if (load < 3)
                QVERIFY(state.loadProject(archive));
            else
                state.unloadProject();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            for (const QPointer<DeviceEntity> &old : qAsConst(before))
                QVERIFY2(old.isNull(), qPrintable(QString::number(load)));
            before.clear();
            for (DeviceEntity *device : state.project()->deviceEntities())
                before.append(device);
            QCOMPARE(before.size(), load < 3 ? 2 : 0);
        }
        QCOMPARE(state.project()->children().size(), 0);
    }

    // A store reads the archive as it was opened: replaced or deleted since,
    // it is still the one stored; changed in place, the store is refused and
    // the target keeps what it held.
    void storeReadsTheArchiveAsOpened_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("another archive renamed over it, then deleted") << "replaced";
        QTest::newRow("truncated in place") << "truncated";
    }

    void storeReadsTheArchiveAsOpened()
    {
        QFETCH(QString, change);
        ProjectFixture f;
        f.addProjectXml("Show", "Ann", "Hall");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString source = f.makeTgz("show.tgz");
        ProjectFixture other;
        other.addProjectXml("Other", "Bo", "Side");
        other.addTando("00:1a:2b:77:77:77", "Side");
        const QString replacement = other.makeTgz("other.tgz");
        const QString target = f.path("stored.tgz");
        QVERIFY(writeFile(target, "previous"));

        AppState state;
        QVERIFY(state.loadProject(source));
        state.project()->setAuthor("Cy");
        if (change == "replaced") {
            QCOMPARE(std::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(source).constData()), 0);
            QVERIFY(QFile::remove(source));
        } else {
            QVERIFY(QFile::resize(source, QFileInfo(source).size() / 2));
        }
        const bool stored = state.storeCurrentProject(target);

        if (change == "truncated") {
            QVERIFY(!stored);
            QVERIFY2(state.lastError().contains(source) && state.lastError().contains("open it again"),
                     qPrintable(state.lastError()));
            QCOMPARE(readFile(target), QByteArray("previous"));
            QCOMPARE(QDir(f.path(".")).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY2(stored, qPrintable(state.lastError()));
        AppState reader;
        QVERIFY(reader.loadProject(target));
        QCOMPARE(reader.project()->name(), QStringLiteral("Show"));
        QCOMPARE(reader.project()->author(), QStringLiteral("Cy"));
        QCOMPARE(reader.project()->devices()->count(), 1);
        QVERIFY(deviceByMac(*reader.project(), "TANDO/QL3", "00:1a:2b:3c:4d:5e"));
    }

    // About shows what the command-line tool prints.
    void versionIsTheTools()
    {
        AppState state;
        QVERIFY2(QRegularExpression("^[0-9]+\\.[0-9]+\\.[0-9]+$").match(state.version()).hasMatch(), qPrintable(state.version()));
        QVERIFY2(QRegularExpression("^[0-9a-f]{7}$").match(state.revision()).hasMatch(), qPrintable(state.revision()));
        const ProcessRun tool = runTool({"--version"});
        QCOMPARE(tool.outText().section('\n', 0, 0),
                 QStringLiteral("tando-project %1 (revision %2)").arg(state.version(), state.revision()));
        QVERIFY(tool.outText().contains(state.licence().section('\n', 0, 0)));
    }

    void projectPointerWrite()
    {
        AppState state;
        QSignalSpy spy(&state, &AppState::projectChanged);
        ProjectEntity *own = state.project();
        QVERIFY(own);
        QCOMPARE(own->parent(), &state);
        QVERIFY(state.setProperty("project", QVariant::fromValue(own)));
        QCOMPARE(spy.count(), 0);
        ProjectEntity other;
        QVERIFY(state.setProperty("project", QVariant::fromValue(&other)));
        QCOMPARE(spy.count(), 1);
        QVERIFY(state.setProperty("project", QVariant::fromValue(own)));
    }
};

QTEST_MAIN(TestAppState)
#include "tst_appstate.moc"
