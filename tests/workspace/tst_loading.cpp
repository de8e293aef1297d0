// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

namespace {

struct Row
{
    QString type;
    QString mac;
    QString label;
};

QList<Row> rowsOf(const ProjectEntity &project)
{
    QList<Row> rows;
    for (const DeviceEntity *d : project.devices()->objectsOfType<DeviceEntity>())
        rows.append({d->deviceType(), d->oldMac(), d->oldLabel()});
    return rows;
}

QStringList describe(const QList<Row> &rows)
{
    QStringList out;
    for (const Row &r : rows)
        out << r.type + QLatin1Char('|') + r.mac + QLatin1Char('|') + r.label;
    return out;
}

QByteArray ksb12Prefs(const QByteArray &label, int total = 100)
{
    QByteArray bytes = label;
    bytes.append(qMax(0, 16 - bytes.size()), '\0');
    while (bytes.size() < total)
        bytes.append(char(bytes.size() & 0x7f));
    return bytes;
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT

private:
    // The usual sample: two KSB12 and two Tando devices with a profile.
    static void fillSample(ProjectFixture &f)
    {
        f.addProjectXml("Main Hall", "Ann", "Spring show");
        f.addKsb12("00:1a:2b:00:00:02", ksb12Prefs("Stage Left"));
        f.addKsb12("00:1a:2b:00:00:01", ksb12Prefs("Stage Right"));
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addProfile("00:1a:2b:3c:4d:5e", "p1.xml", {{"00:1a:2b:00:00:01", "Stage Right"}});
    }

    static QStringList sampleRows()
    {
        return {"KSB12|00:1a:2b:00:00:01|Stage Right", "KSB12|00:1a:2b:00:00:02|Stage Left",
                "TANDO/QL3|00:1a:2b:3c:4d:5e|Front"};
    }

private slots:
    void loadsByPathAndUrl_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("plain path") << "path";
        QTest::newRow("file URL") << "url";
        QTest::newRow("plain tar") << "tar";
        QTest::newRow("gzip member named in upper case") << "upper";
        QTest::newRow("gzip without original name") << "noname";
    }

    void loadsByPathAndUrl()
    {
        QFETCH(QString, form);
        ProjectFixture f;
        fillSample(f);
        QString archive;
        if (form == "tar") {
            archive = f.makeTar("show.tar");
        } else if (form == "upper") {
            archive = f.makeTgz("show.tgz", "PROJECT.TAR");
        } else if (form == "noname") {
            const QString tar = f.makeTar("inner.tar");
            outputOf("sh", {"-c", QStringLiteral("gzip -n -c '%1' > '%2'").arg(tar, f.path("show.tgz"))});
            archive = f.path("show.tgz");
        } else {
            archive = f.makeTgz("show.tgz");
        }
        const QString argument = form == "url" ? QUrl::fromLocalFile(archive).toString() : archive;
        TemporaryDirWatch tmp(f.path("tmp"));

        ProjectEntity project;
        ModelChecker checker(project.devices());
        QSignalSpy loadedSpy(&project, &ProjectEntity::loadedChanged);
        SignalLog log;
        log.watch(project.devices(), &QAbstractItemModel::rowsInserted, "inserted");
        log.watch(&project, &ProjectEntity::loadedChanged, "loaded");

        QVERIFY(Workspace::loadProject(project, argument));
        QCOMPARE(project.name(), QStringLiteral("Main Hall"));
        QCOMPARE(project.author(), QStringLiteral("Ann"));
        QCOMPARE(project.description(), QStringLiteral("Spring show"));
        QCOMPARE(describe(rowsOf(project)), sampleRows());
        QVERIFY(spyCarries(loadedSpy, {true}));
        QCOMPARE(log.events, QStringList({"inserted", "loaded"})); // one batch, loaded last

        QCOMPARE(project.originalPath(), archive);
        QCOMPARE(tmp.entries(), QStringList()); // nothing is unpacked
        const auto device = project.devices()->objectsOfType<DeviceEntity>();
        QCOMPARE(device.at(0)->newMac(), device.at(0)->oldMac());
        QCOMPARE(device.at(0)->newLabel(), device.at(0)->oldLabel());
        QCOMPARE(device.at(0)->labelEditable(), false);
        QCOMPARE(device.at(2)->labelEditable(), true);

        Workspace::unloadProject(project);
    }

    // Gzip is told by the content, whatever the name.
    void gzipByContent()
    {
        ProjectFixture f;
        fillSample(f);
        for (const QString &name : {QStringLiteral("show.TGZ"), QStringLiteral("show.tar.gz"), QStringLiteral("show.bin")}) {
            ProjectEntity project;
            QVERIFY2(Workspace::loadProject(project, f.makeTgz(name)), qPrintable(name));
            QCOMPARE(project.devices()->count(), 3);
            Workspace::unloadProject(project);
        }
    }

    void deviceEntries_data()
    {
        QTest::addColumn<QStringList>("tandoNames");
        QTest::addColumn<QStringList>("expectedMacs");

        QTest::newRow("upper-case colon form") << QStringList{"00:1A:2B:3C:4D:5E"} << QStringList{"00:1a:2b:3c:4d:5e"};
        QTest::newRow("dash form") << QStringList{"00-1A-2B-3C-4D-5E"} << QStringList{"00:1a:2b:3c:4d:5e"};
        QTest::newRow("underscore form") << QStringList{"00_1a_2b_3c_4d_5e"} << QStringList{"00:1a:2b:3c:4d:5e"};
        QTest::newRow("one-digit groups") << QStringList{"a:b:c:d:e:f"} << QStringList{"0a:0b:0c:0d:0e:0f"};
        QTest::newRow("not a MAC kept") << QStringList{"gateway"} << QStringList{"gateway"};
        QTest::newRow("listing ignores case") << QStringList{"B0", "a1", "C2"} << QStringList{"a1", "B0", "C2"};
    }

    void deviceEntries()
    {
        QFETCH(QStringList, tandoNames);
        QFETCH(QStringList, expectedMacs);
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        for (const QString &name : tandoNames)
            f.addTando(name, "L");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        QStringList macs;
        for (const Row &r : rowsOf(project))
            macs << r.mac;
        QCOMPARE(macs, expectedMacs);
        Workspace::unloadProject(project);
    }

    void labels_data()
    {
        QTest::addColumn<QByteArray>("ksb12Prefs");
        QTest::addColumn<QString>("tandoPrefs");
        QTest::addColumn<QStringList>("labels");

        const QString tando = "<prefs><UnitName>Front</UnitName></prefs>";
        QTest::newRow("ten characters then zeros") << ksb12Prefs("Stage Left") << tando
                                                   << QStringList{"Stage Left", "Front"};
        QTest::newRow("sixteen bytes without zero") << QByteArray("ABCDEFGHIJKLMNOPQRSTUV") << tando
                                                    << QStringList{"ABCDEFGHIJKLMNOP", "Front"};
        QTest::newRow("shorter than sixteen") << QByteArray("Amp") << tando << QStringList{"Amp", "Front"};
        QTest::newRow("UTF-8 label") << QByteArray("B\xc3\xbchne\0", 7) << tando << QStringList{"Bühne", "Front"};
        QTest::newRow("indented tando prefs") << QByteArray("K") << "<prefs>\n   \n  <UnitName>Back</UnitName>\n</prefs>"
                                              << QStringList{"K", "Back"};
        QTest::newRow("empty first element") << QByteArray("K") << "<prefs><UnitName/><x>no</x></prefs>"
                                             << QStringList{"K", ""};
        QTest::newRow("malformed tando prefs") << QByteArray("K") << "<prefs><UnitName>Half" << QStringList{"K", ""};
    }

    void labels()
    {
        QFETCH(QByteArray, ksb12Prefs);
        QFETCH(QString, tandoPrefs);
        QFETCH(QStringList, labels);
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addKsb12("00:00:00:00:00:01", ksb12Prefs);
        f.addFile("active-project/devices/tando/00:00:00:00:00:02/prefs", tandoPrefs.toUtf8());
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        QStringList actual;
        for (const Row &r : rowsOf(project))
            actual << r.label;
        QCOMPARE(actual, labels);
        Workspace::unloadProject(project);
    }

    void unusualTrees_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("name");

        QTest::newRow("plain file as device") << "plainfile" << QStringList{"TANDO/QL3|00:1a:2b:3c:4d:5e|"} << "P";
        QTest::newRow("no ksb12 directory") << "tandoonly" << QStringList{"TANDO/QL3|00:00:00:00:00:02|T"} << "P";
        QTest::newRow("no tando directory") << "ksb12only" << QStringList{"KSB12|00:00:00:00:00:01|K"} << "P";
        QTest::newRow("no devices at all") << "none" << QStringList() << "P";
        QTest::newRow("nested name first") << "nested" << QStringList() << "Inner";
        QTest::newRow("missing project.xml") << "noxml" << QStringList() << "";
        QTest::newRow("ksb12 entry without prefs") << "noprefs" << QStringList{"KSB12|00:00:00:00:00:01|"} << "P";
    }

    void unusualTrees()
    {
        QFETCH(QString, layout);
        QFETCH(QStringList, rows);
        QFETCH(QString, name);
        ProjectFixture f;
        if (layout == "nested")
            f.addFile("active-project/project.xml",
                      "<project><meta><name>Inner</name></meta><name>Outer</name><author/></project>");
        else if (layout == "noxml")
            f.addFile("active-project/readme.txt", "x");
        else
            f.addProjectXml("P", "A", "D");
        if (layout == "plainfile")
            f.addFile("active-project/devices/tando/00-1A-2B-3C-4D-5E", "not a directory");
        if (layout == "tandoonly")
            f.addTando("00:00:00:00:00:02", "T");
        if (layout == "ksb12only")
            f.addKsb12("00:00:00:00:00:01", "K");
        if (layout == "noprefs")
            f.addFile("active-project/devices/ksb12/00:00:00:00:00:01/other", "x");

        ProjectEntity project;
        if (layout == "noxml")
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Error while loading file .*project.xml$"));
        if (layout == "noprefs")
            QTest::ignoreMessage(QtDebugMsg, "Error while loading file");
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        QCOMPARE(describe(rowsOf(project)), rows);
        QCOMPARE(project.name(), name);
        QVERIFY(project.loaded());
        Workspace::unloadProject(project);
    }

    void badInputs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("not an archive") << "text";
        QTest::newRow("corrupt gzip data") << "corrupt";
        QTest::newRow("truncated tar") << "truncated";
        QTest::newRow("tar without active-project") << "noproject";
    }

    // Every bad archive fails cleanly with a reason a person can read,
    // writes nothing to the temporary directory and keeps the loaded project
    // as it was.
    void badInputs()
    {
        QFETCH(QString, kind);
        ProjectFixture good;
        fillSample(good);
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, good.makeTgz("good.tgz")));

        ProjectFixture f;
        fillSample(f);
        QString archive = f.path("bad.tgz");
        if (kind == "empty") {
            f.addFile("../bad.tgz", QByteArray());
        } else if (kind == "text") {
            f.addFile("../bad.tgz", "just some text, no archive at all\n");
        } else if (kind == "corrupt") {
            QByteArray bytes = ProjectFixture::readFile(f.makeTgz("bad.tgz"));
            for (int i = 40; i < bytes.size() - 20; i += 7)
                bytes[i] = char(bytes[i] ^ 0x5a);
            f.addFile("../bad.tgz", bytes);
        } else if (kind == "truncated") {
            f.addFile("active-project/big.bin", QByteArray(20000, 'x'));
            const QByteArray tar = ProjectFixture::readFile(f.makeTar("full.tar"));
            archive = f.path("bad.tar");
            f.addFile("../bad.tar", tar.left(5000));
        } else if (kind == "noproject") {
            f.addFile("other/file.txt", "x");
            archive = f.makeTar("bad.tar", {"other"});
        }

        TemporaryDirWatch tmp(f.path("tmp"));
        const Result result = Workspace::loadProject(project, archive);
        QVERIFY(result.isFailure());
        // The caller names the archive; the reason says what is wrong with it.
        QVERIFY2(!result.reason().isEmpty() && !result.reason().contains(archive), qPrintable(result.reason()));
        QVERIFY2(!result.reason().contains("archive_"), qPrintable(result.reason())); // no library call names
        QVERIFY(project.loaded());
        QCOMPARE(tmp.entries(), QStringList());
        QCOMPARE(describe(rowsOf(project)), sampleRows());
        Workspace::unloadProject(project);
    }

    void entityExpansionIsRefused()
    {
        ProjectFixture f;
        QByteArray xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE project [\n <!ENTITY a \"aaaaaaaaaa\">\n";
        for (int i = 1; i < 10; ++i)
            xml += QStringLiteral(" <!ENTITY %1 \"&%2;&%2;&%2;&%2;&%2;&%2;&%2;&%2;&%2;&%2;\">\n")
                       .arg(QChar('a' + i)).arg(QChar('a' + i - 1)).toLatin1();
        xml += "]>\n<project><name>&j;</name></project>\n";
        f.addFile("active-project/project.xml", xml);
        ProjectEntity project;
        // Expanded, the name would be ten billion characters long.
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        QVERIFY(project.name().isEmpty());
        Workspace::unloadProject(project);
    }

    void loadOverLoadedReplacesIt()
    {
        ProjectFixture f;
        fillSample(f);
        const QString archive = f.makeTgz("p.tgz");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, archive));
        QVERIFY(Workspace::loadProject(project, archive));
        QCOMPARE(project.devices()->count(), 3);
        Workspace::unloadProject(project);
    }
};

QTEST_GUILESS_MAIN(TestLoading)
#include "tst_loading.moc"
