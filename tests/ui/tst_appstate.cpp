#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace {

// A directory that outlives QTemporaryDir's scope, filled with one file.
QString makeTree(const QString &root, const QString &name)
{
    const QString path = root + "/" + name;
    QDir().mkpath(path + "/active-project");
    QFile f(path + "/active-project/project.xml");
    f.open(QIODevice::WriteOnly);
    f.write("<project/>");
    return path;
}

} // namespace

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

    void unloadRemovesBothTreesAndKeepsTexts()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString work = makeTree(scratch.path(), "work");
        const QString backup = makeTree(scratch.path(), "backup");
        const QString bystander = makeTree(scratch.path(), "bystander");

        AppState state;
        ProjectEntity *project = state.project();
        ModelChecker checker(project->devices());
        project->setExtractedPath(work);
        project->setExtractedBackupPath(backup);
        project->setName("Show");
        project->setAuthor("Ann");
        project->setDescription("Hall");
        auto *device = new DeviceEntity(project);
        project->devices()->append(device);
        project->setLoaded(true);

        SignalLog log;
        log.watch(project->devices(), &QAbstractItemModel::modelReset, "reset");
        log.watch(project, &ProjectEntity::loadedChanged, "loaded");
        state.unloadProject();

        QTRY_VERIFY(!QFileInfo::exists(work)); // removed in the background
        QTRY_VERIFY(!QFileInfo::exists(backup));
        QVERIFY(QFileInfo::exists(bystander));
        QCOMPARE(project->devices()->count(), 0);
        QVERIFY(!project->loaded());
        QCOMPARE(project->name(), QStringLiteral("Show"));
        QCOMPARE(project->author(), QStringLiteral("Ann"));
        QCOMPARE(project->description(), QStringLiteral("Hall"));
        QCOMPARE(project->extractedPath(), work);
        QCOMPARE(device->parent(), project); // listed devices are not destroyed

        // A second call only resets the list again.
        makeTree(scratch.path(), "work");
        log.events.clear();
        state.unloadProject();
        QCOMPARE(log.events, QStringList({"reset"}));
        QVERIFY(QFileInfo::exists(work));
    }

    void emptyBackupPathRemovesNothingElse()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString work = makeTree(scratch.path(), "work");
        const QString cwdMarker = QDir::current().absoluteFilePath("unload-marker.txt");
        {
            QFile f(cwdMarker);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }

        AppState state;
        state.project()->setExtractedPath(work);
        state.project()->setExtractedBackupPath(QString());
        state.project()->setLoaded(true);
        state.unloadProject();

        QTRY_VERIFY(!QFileInfo::exists(work)); // removed in the background
        QVERIFY(QFileInfo::exists(cwdMarker));
        QVERIFY(QFile::remove(cwdMarker));
    }

    // The editor closing with a project loaded takes the unpacked trees with it.
    void destroyedWithAProjectLoadedLeavesNoTrees()
    {
        ProjectFixture f;
        f.addProjectXml("Show", "Ann", "Hall");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString archive = f.makeTgz("show.tgz");
        QString work;
        QString backup;
        {
            AppState state;
            QVERIFY(state.loadProject(archive));
            work = state.project()->extractedPath();
            backup = state.project()->extractedBackupPath();
            QVERIFY(QFileInfo(work + "/active-project/project.xml").isFile());
            QVERIFY(QFileInfo(backup + "/active-project/project.xml").isFile());
        }
        QTRY_VERIFY(!QFileInfo::exists(work)); // removed in the background
        QTRY_VERIFY(!QFileInfo::exists(backup));
    }

    void versionIsSevenHexDigits()
    {
        AppState state;
        const QString v = state.version();
        QVERIFY2(QRegularExpression("^[0-9a-f]{7}$").match(v).hasMatch(), qPrintable(v));
        state.project()->setLoaded(true);
        QCOMPARE(state.version(), v);
        state.project()->setLoaded(false);
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
