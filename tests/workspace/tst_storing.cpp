#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"
#include "testutil.h"
#include "tmpfsmount.h"
#include "unpackbudget.h"
#include "xmlio.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QByteArray firmware = QByteArray("\x7f" "FW active-project/devices/tando/00_1a_2b_3c_4d_5e/prefs ", 57)
                            + QByteArray(3000, '\x01') + "active-project/devices/ksb12/00_1a_2b_00_00_01";

QByteArray ksb12Prefs(const QByteArray &label)
{
    QByteArray bytes = label;
    bytes.append(16 - bytes.size(), '\0');
    for (int i = 16; i < 100; ++i)
        bytes.append(char(i));
    return bytes;
}

// Every file, directory and link below root: relative path → bytes or link target.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(root).relativeFilePath(path);
        if (info.isSymLink())
            tree.insert(rel, "link:" + QFile::encodeName(QDir(root).relativeFilePath(info.symLinkTarget())));
        else if (info.isDir())
            tree.insert(rel, "dir");
        else
            tree.insert(rel, ProjectFixture::readFile(path));
    }
    return tree;
}

QString text(const QString &xmlPath, const QString &tag, int index = 0)
{
    return Xml::loadXml(xmlPath).elementsByTagName(tag).item(index).firstChild().nodeValue();
}

} // namespace

class TestStoring : public QObject
{
    Q_OBJECT

private:
    static void fillSample(ProjectFixture &f)
    {
        f.addProjectXml("Main Hall", "Ann", "Spring show");
        f.addKsb12("00:1a:2b:00:00:01", ksb12Prefs("Stage Right"));
        f.addKsb12("00:1a:2b:00:00:02", ksb12Prefs("Stage Left"));
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addProfile("00:1a:2b:3c:4d:5e", "p1.xml",
                     {{"00-1A-2B-3C-4D-5E", "Front"}, {"00:1a:2b:00:00:01", "Stage Right"}, {"11:22:33:44:55:66", "Foreign"}});
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/firmware.bin", firmware);
        f.addTando("00:1a:2b:3c:4d:5f", "Back");
        f.addProfile("00:1a:2b:3c:4d:5f", "p2.xml", {{"00_1A_2B_3C_4D_5E", "old"}, {"not a mac", "x"}});
        f.addFile("active-project/notes/a:b.txt", "colon stays");
        QVERIFY(QFile::link("project.xml", f.root() + "/active-project/settings-link"));
    }

    static void load(ProjectEntity &project, ProjectFixture &f)
    {
        fillSample(f);
        QVERIFY(Workspace::loadProject(project, f.makeTgz("show.tgz")));
    }

private slots:
    void storesEveryEdit()
    {
        ProjectFixture f;
        ProjectEntity project;
        load(project, f);
        project.setName("New Name");
        project.setAuthor("Bob");
        project.setDescription("B\u00fchne \u20ac");
        DeviceEntity *front = deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e");
        QVERIFY(front);
        front->setNewMac("00:1a:2b:3c:4d:ff");
        front->setNewLabel("Front Row");
        DeviceEntity *right = deviceByMac(project, "KSB12", "00:1a:2b:00:00:01");
        right->setNewLabel("ABCDEFGHIJKLMNOPQRST");
        right->setNewMac("00:1A:2B:00:00:AA");

        const QMap<QString, QByteArray> loaded = snapshot(project.extractedBackupPath());
        const QString out = f.path("stored.tgz");
        QSignalSpy stateSpy(&project, &ProjectEntity::stateChanged);
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QVERIFY(spyCarries(stateSpy, {out + " saved"}));

        // The working tree is as loaded again; the entities are unchanged.
        QCOMPARE(snapshot(project.extractedPath()), loaded);
        QCOMPARE(front->oldMac(), QStringLiteral("00:1a:2b:3c:4d:5e"));

        ProjectFixture::run("gzip", {"-t", out});
        const QString listing = QString::fromUtf8(ProjectFixture::run("tar", {"-tzvf", out}));
        QVERIFY2(!listing.contains("_"), qPrintable(listing)); // no underscore device names left

        const QString x = f.unpack(out) + "/active-project";
        QCOMPARE(text(x + "/project.xml", "name"), QStringLiteral("New Name"));
        QCOMPARE(text(x + "/project.xml", "author"), QStringLiteral("Bob"));
        QCOMPARE(text(x + "/project.xml", "description"), QStringLiteral("B\u00fchne \u20ac"));
        QVERIFY(ProjectFixture::readFile(x + "/project.xml").contains("B\xc3\xbchne \xe2\x82\xac"));

        const QString tando = x + "/devices/tando/";
        QVERIFY(!QFileInfo::exists(tando + "00:1a:2b:3c:4d:5e"));
        QCOMPARE(text(tando + "00:1a:2b:3c:4d:ff/prefs", "UnitName"), QStringLiteral("Front Row"));
        QCOMPARE(text(tando + "00:1a:2b:3c:4d:ff/prefs", "Other"), QStringLiteral("kept"));
        const QString p1 = tando + "00:1a:2b:3c:4d:ff/profiles/p1.xml";
        QCOMPARE(text(p1, "mac", 0), QStringLiteral("00:1a:2b:3c:4d:ff"));
        QCOMPARE(text(p1, "unitname", 0), QStringLiteral("Front Row"));
        QCOMPARE(text(p1, "mac", 1), QStringLiteral("00:1a:2b:00:00:aa"));
        QCOMPARE(text(p1, "unitname", 1), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
        QCOMPARE(text(p1, "mac", 2), QStringLiteral("11:22:33:44:55:66"));
        QCOMPARE(text(p1, "unitname", 2), QStringLiteral("Foreign"));
        const QString p2 = tando + "00:1a:2b:3c:4d:5f/profiles/p2.xml";
        QCOMPARE(text(p2, "mac", 0), QStringLiteral("00:1a:2b:3c:4d:ff"));
        QCOMPARE(text(p2, "unitname", 0), QStringLiteral("Front Row"));
        QCOMPARE(text(p2, "mac", 1), QStringLiteral("not a mac"));

        // Files the editor does not interpret are byte-identical, even when
        // their bytes contain a device directory's path.
        QCOMPARE(ProjectFixture::readFile(tando + "00:1a:2b:3c:4d:ff/firmware.bin"), firmware);
        QCOMPARE(ProjectFixture::readFile(x + "/notes/a:b.txt"), QByteArray("colon stays"));
        QCOMPARE(QFileInfo(x + "/settings-link").symLinkTarget(), QFileInfo(x + "/project.xml").absoluteFilePath());

        const QByteArray rightPrefs = ProjectFixture::readFile(x + "/devices/ksb12/00:1a:2b:00:00:aa/prefs");
        QCOMPARE(rightPrefs, QByteArray("ABCDEFGHIJKLMNOP") + ksb12Prefs("").mid(16));
        QCOMPARE(ProjectFixture::readFile(x + "/devices/ksb12/00:1a:2b:00:00:02/prefs"), ksb12Prefs("Stage Left"));

        // The editor opens its own archive with every edit in place.
        ProjectEntity again;
        QVERIFY(Workspace::loadProject(again, out));
        QCOMPARE(again.name(), QStringLiteral("New Name"));
        QVERIFY(deviceByMac(again, "TANDO/QL3", "00:1a:2b:3c:4d:ff"));
        QCOMPARE(deviceByMac(again, "KSB12", "00:1a:2b:00:00:aa")->oldLabel(), QStringLiteral("ABCDEFGHIJKLMNOP"));
        Workspace::unloadProject(again);
        Workspace::unloadProject(project);
    }

    void ksb12Labels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QByteArray>("first16");
        QTest::newRow("twenty characters cut") << "ABCDEFGHIJKLMNOPQRST" << QByteArray("ABCDEFGHIJKLMNOP");
        QTest::newRow("three characters padded") << "abc" << QByteArray("abc").append(13, '\0');
        QTest::newRow("empty label") << "" << QByteArray(16, '\0');
        QTest::newRow("outside Latin-1") << "a\u20acb" << QByteArray("a?b").append(13, '\0');
    }

    void ksb12Labels()
    {
        QFETCH(QString, label);
        QFETCH(QByteArray, first16);
        ProjectFixture f;
        ProjectEntity project;
        load(project, f);
        deviceByMac(project, "KSB12", "00:1a:2b:00:00:02")->setNewLabel(label);
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        const QByteArray prefs = ProjectFixture::readFile(f.unpack(out) + "/active-project/devices/ksb12/00:1a:2b:00:00:02/prefs");
        QCOMPARE(prefs.left(16), first16);
        QCOMPARE(prefs.mid(16), ksb12Prefs("").mid(16));
        Workspace::unloadProject(project);
    }

    void uneditedUtf8Ksb12LabelKeepsItsBytes()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        const QByteArray prefs = ksb12Prefs("B\xc3\xbchne");
        f.addKsb12("00:00:00:00:00:01", prefs);
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QCOMPARE(ProjectFixture::readFile(f.unpack(out) + "/active-project/devices/ksb12/00:00:00:00:00:01/prefs"), prefs);
        Workspace::unloadProject(project);
    }

    void sameOldMacLaterDeviceWins()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addKsb12("00:00:00:00:00:01", ksb12Prefs("K"));
        f.addTando("00:00:00:00:00:01", "T");
        f.addProfile("00:00:00:00:00:01", "p.xml", {{"00:00:00:00:00:01", "x"}});
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "KSB12", "00:00:00:00:00:01")->setNewLabel("FromKsb");
        deviceByMac(project, "TANDO/QL3", "00:00:00:00:00:01")->setNewLabel("FromTando");
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        const QString profile = f.unpack(out) + "/active-project/devices/tando/00:00:00:00:00:01/profiles/p.xml";
        QCOMPARE(text(profile, "unitname"), QStringLiteral("FromTando"));
        Workspace::unloadProject(project);
    }

    void swappedAddressesBothMove()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:00:00:00:00:01", "One");
        f.addTando("00:00:00:00:00:02", "Two");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "TANDO/QL3", "00:00:00:00:00:01")->setNewMac("00:00:00:00:00:02");
        deviceByMac(project, "TANDO/QL3", "00:00:00:00:00:02")->setNewMac("00:00:00:00:00:01");
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        const QString tando = f.unpack(out) + "/active-project/devices/tando/";
        QCOMPARE(text(tando + "00:00:00:00:00:02/prefs", "UnitName"), QStringLiteral("One"));
        QCOMPARE(text(tando + "00:00:00:00:00:01/prefs", "UnitName"), QStringLiteral("Two"));
        Workspace::unloadProject(project);
    }

    void xmlFilesAsFound_data()
    {
        QTest::addColumn<QByteArray>("projectXml");
        QTest::addColumn<QString>("newDescription");
        QTest::addColumn<QByteArray>("expectedBytes"); // empty: check only the description text
        QTest::addColumn<QString>("expectedDescription"); // empty with no bytes: the store fails

        QTest::newRow("empty description element takes the value")
            << QByteArray("<project><name>P</name><description/></project>") << "Filled"
            << QByteArray("<description>Filled</description>") << "Filled";
        QTest::newRow("Latin-1 declaration, reference for the rest")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><project><description>x</description></project>")
            << "B\u00fchne \u20ac" << QByteArray("B\xfchne &#x20ac;") << "B\u00fchne \u20ac";
        QTest::newRow("no declaration means UTF-8")
            << QByteArray("<project><description>x</description></project>") << "B\u00fchne"
            << QByteArray("B\xc3\xbchne") << "B\u00fchne";
        QTest::newRow("not well-formed: the edit cannot be stored")
            << QByteArray("<project><description>x</description>") << "Changed" << QByteArray() << "";
    }

    void xmlFilesAsFound()
    {
        QFETCH(QByteArray, projectXml);
        QFETCH(QString, newDescription);
        QFETCH(QByteArray, expectedBytes);
        QFETCH(QString, expectedDescription);
        ProjectFixture f;
        f.addFile("active-project/project.xml", projectXml);
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        project.setDescription(newDescription);
        const QString out = f.path("out.tgz");
        const Result result = Workspace::storeCurrentProject(project, out);
        if (expectedBytes.isEmpty()) {
            QVERIFY(!result);
            QVERIFY2(result.reason().contains("description") && result.reason().contains(project.projectFilePath()),
                     qPrintable(result.reason()));
            QVERIFY(!QFileInfo::exists(out));
            Workspace::unloadProject(project);
            return;
        }
        QVERIFY2(result, qPrintable(result.reason()));
        const QString stored = f.unpack(out) + "/active-project/project.xml";
        QVERIFY2(ProjectFixture::readFile(stored).contains(expectedBytes), ProjectFixture::readFile(stored).constData());
        QCOMPARE(Xml::firstElementText(Xml::readXml(stored).document, "description"), expectedDescription);
        Workspace::unloadProject(project);
    }

    void missingXmlIsNotCreated()
    {
        ProjectFixture f;
        f.addFile("active-project/readme.txt", "x");
        f.addFile("active-project/devices/tando/00:00:00:00:00:01/firmware.bin", "fw");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        const QString x = f.unpack(out) + "/active-project";
        QVERIFY(!QFileInfo::exists(x + "/project.xml"));
        QVERIFY(!QFileInfo::exists(x + "/devices/tando/00:00:00:00:00:01/prefs"));
        Workspace::unloadProject(project);
    }

    // A job cancelled at its first progress report ends as a failed one:
    // a load leaves nothing loaded and nothing on disk, a store leaves the
    // target as it was and nothing beside it.
    void cancelledJobsLeaveNothing()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString archive = f.makeTgz("p.tgz");
        const QStringList tempBefore = ownTemporaryDirs();
        QList<JobControl::Phase> phases;
        JobControl cancelling;
        cancelling.progress = [&](JobControl::Phase phase, qint64, qint64) {
            phases.append(phase);
            cancelling.cancelled = true;
        };

        ProjectEntity project;
        const Result load = Workspace::loadProject(project, archive, &cancelling);
        QVERIFY2(!load && load.reason().contains("cancelled"), qPrintable(load.reason()));
        QVERIFY(!project.loaded());
        QCOMPARE(ownTemporaryDirs(), tempBefore);

        QVERIFY(Workspace::loadProject(project, archive));
        project.setName("Edited");
        const QString out = f.path("existing.tgz");
        {
            QFile existing(out);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("old archive");
        }
        cancelling.cancelled = false;
        const Result store = Workspace::storeCurrentProject(project, out, &cancelling);
        QVERIFY2(!store && store.reason().contains("cancelled"), qPrintable(store.reason()));
        QCOMPARE(ProjectFixture::readFile(out), QByteArray("old archive"));
        QCOMPARE(QDir(f.path(".")).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(phases, (QList<JobControl::Phase>{JobControl::Phase::Unpacking, JobControl::Phase::Compressing}));
        Workspace::unloadProject(project);
        QCOMPARE(ownTemporaryDirs(), tempBefore);
    }

    // The named patching of a packed tar: each device directory from the
    // underscore to the colon form of its new MAC, data untouched.
    void patchTarDevicePathsRenamesDeviceDirectories()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
        // A tar as packing a renamed tree gives it: the new MAC in underscore form.
        const QString tando = project.extractedPath() + "/active-project/devices/tando/";
        QVERIFY(QDir().rename(tando + "00_1a_2b_3c_4d_5e", tando + "00_1a_2b_3c_4d_ff"));
        const QString tar = f.path("t.tar");
        ProjectFixture::run("tar", {"-cf", tar, "-C", project.extractedPath(), "active-project"});
        QVERIFY(Workspace::patchTarDevicePaths(project, tar));
        const QByteArray listing = ProjectFixture::run("tar", {"-tf", tar});
        QVERIFY2(listing.contains("active-project/devices/tando/00:1a:2b:3c:4d:ff/prefs\n"), listing.constData());
        QVERIFY2(!listing.contains("00_1a"), listing.constData());
        QVERIFY(ProjectFixture::run("tar", {"-xOf", tar, "active-project/devices/tando/00:1a:2b:3c:4d:ff/prefs"})
                    .contains("<UnitName>Front</UnitName>"));
        Workspace::unloadProject(project);
    }

    void storingTwiceRepeatsTheEdits()
    {
        ProjectFixture f;
        ProjectEntity project;
        load(project, f);
        deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
        project.setName("Twice");
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));
        const QMap<QString, QByteArray> first = snapshot(f.unpack(out));
        QSignalSpy stateSpy(&project, &ProjectEntity::stateChanged);
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QCOMPARE(stateSpy.count(), 0);
        QCOMPARE(snapshot(f.unpack(out)), first);
        Workspace::unloadProject(project);
    }

    // Hidden files are files of the project like any other: every store of a
    // session carries them, not only the first (the working tree is rebuilt
    // from the backup exactly).
    void hiddenFilesSurviveEveryStore()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addFile("active-project/.settings/.keep", "keep");
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/.calibration", "calibrated");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
        for (int store = 1; store <= 3; ++store) {
            const QString out = f.path(QStringLiteral("out%1.tgz").arg(store));
            QVERIFY(Workspace::storeCurrentProject(project, out));
            const QString x = f.unpack(out) + "/active-project";
            QCOMPARE(ProjectFixture::readFile(x + "/.settings/.keep"), QByteArray("keep"));
            QCOMPARE(ProjectFixture::readFile(x + "/devices/tando/00:1a:2b:3c:4d:ff/.calibration"), QByteArray("calibrated"));
        }
        Workspace::unloadProject(project);
    }

    void targetNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("upper-case extension") << "out.TGZ";
        QTest::newRow("other extension") << "out.bin";
        QTest::newRow("no extension") << "out";
        QTest::newRow("blank in name") << "my show.tgz";
    }

    void targetNames()
    {
        QFETCH(QString, name);
        ProjectFixture f;
        ProjectEntity project;
        load(project, f);
        const QString out = f.path(name);
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QCOMPARE(project.state(), out + " saved");
        QVERIFY(QFileInfo(f.unpack(out) + "/active-project/project.xml").isFile());
        // Nothing but the target appears beside it.
        QCOMPARE(QDir(f.path(QString())).entryList({".*part*", "*.tar"}, QDir::Files | QDir::Hidden), QStringList());
        Workspace::unloadProject(project);
    }

    void refusedCalls()
    {
        ProjectFixture f;
        ProjectEntity project;
        QSignalSpy stateSpy(&project, &ProjectEntity::stateChanged);
        QVERIFY(!Workspace::storeCurrentProject(project, f.path("never.tgz")));
        QVERIFY(!QFileInfo::exists(f.path("never.tgz")));

        load(project, f);
        const QMap<QString, QByteArray> before = snapshot(project.extractedPath());
        QVERIFY(!Workspace::storeCurrentProject(project, QString()));
        QCOMPARE(snapshot(project.extractedPath()), before);
        QVERIFY(!Workspace::storeCurrentProject(project, f.path("no/such/dir/out.tgz")));
        QCOMPARE(snapshot(project.extractedPath()), before);
        QCOMPARE(stateSpy.count(), 0);
        Workspace::unloadProject(project);
    }

    // A store that runs out of space answers false, leaves an existing target
    // byte for byte, leaves nothing beside it and restores the working tree.
    // The disk is full at the target, in the temporary directory, or where the
    // working tree lies (a tmpfs each, where one can be mounted), or every
    // file is limited in size (RLIMIT_FSIZE, which works anywhere).
    void fullDiskKeepsTheTarget_data()
    {
        QTest::addColumn<QString>("full");
        QTest::newRow("file-size limit") << "limit";
        QTest::newRow("full file system at the target") << "target";
        QTest::newRow("full temporary directory") << "temporary";
        QTest::newRow("full file system of the working tree") << "tree";
    }

    void fullDiskKeepsTheTarget()
    {
        QFETCH(QString, full);
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        // 2 MiB in files of 16 KiB: incompressible, so that the archive is as
        // large as the tree, and each file small enough to fit the file-size limit.
        QRandomGenerator generator(4711);
        for (int i = 0; i < 128; ++i) {
            QByteArray noise(16 << 10, Qt::Uninitialized);
            generator.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            f.addFile(QStringLiteral("active-project/logs/%1.bin").arg(i), noise);
        }
        const QString archive = f.makeTgz("p.tgz");

        const QByteArray savedTmp = qgetenv("TMPDIR");
        const auto restoreTmp = qScopeGuard([&savedTmp] { qputenv("TMPDIR", savedTmp); });
        std::unique_ptr<TmpfsMount> tmpfs;
        if (full != "limit") {
            // The tree's file system holds the project twice and a little more.
            tmpfs = std::make_unique<TmpfsMount>(f.path("small"), full == "tree" ? 8 << 20 : 1 << 20);
            if (!tmpfs->isMounted())
                QSKIP(qPrintable("no tmpfs: " + tmpfs->reason() + "; the file-size limit row stands in"));
        }

        ProjectEntity project;
        const Archive::UnpackLimits limits = Archive::unpackLimits();
        if (full == "tree") {
            Archive::UnpackLimits noReserve = limits;
            noReserve.reserveBytes = 0;
            Archive::setUnpackLimits(noReserve);
            qputenv("TMPDIR", QFile::encodeName(tmpfs->path()));
        }
        const bool loaded = Workspace::loadProject(project, archive).ok();
        Archive::setUnpackLimits(limits);
        QVERIFY(loaded);
        if (full == "tree") {
            qputenv("TMPDIR", savedTmp);
            // Fill what is left, so that not one more block can be written.
            QFile filler(tmpfs->path() + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size()) {
            }
        }
        project.setName("Edited");

        const QString out = full == "target" ? tmpfs->path() + "/existing.tgz" : f.path("existing.tgz");
        {
            QFile existing(out);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("precious old archive");
        }
        const QMap<QString, QByteArray> before = snapshot(project.extractedBackupPath());

        bool stored = true;
        if (full == "limit") {
            struct rlimit old {};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
            auto *previousHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = old;
            small.rlim_cur = 64 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            stored = Workspace::storeCurrentProject(project, out).ok();
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, previousHandler);
        } else {
            if (full == "temporary")
                qputenv("TMPDIR", QFile::encodeName(tmpfs->path()));
            stored = Workspace::storeCurrentProject(project, out).ok();
            qputenv("TMPDIR", savedTmp);
        }

        QCOMPARE(QDir(QFileInfo(out).path()).entryList({".*part*", "*.tar"}, QDir::Files | QDir::Hidden), QStringList());
        if (full == "temporary" || full == "tree") {
            // Streamed from the tree to the target, the store needs no room in
            // the temporary directory and writes nothing into the working tree:
            // it succeeds, and the target is the new archive.
            QVERIFY(stored);
            ProjectEntity again;
            QVERIFY(Workspace::loadProject(again, out));
            QCOMPARE(again.name(), QStringLiteral("Edited"));
            Workspace::unloadProject(again);
            QCOMPARE(snapshot(project.extractedPath()), before);
            Workspace::unloadProject(project);
            QFile::remove(tmpfs->path() + "/filler");
            return;
        }
        QVERIFY(!stored);
        QCOMPARE(ProjectFixture::readFile(out), QByteArray("precious old archive"));
        QCOMPARE(snapshot(project.extractedPath()), before);
        QVERIFY(project.state().isEmpty());
        Workspace::unloadProject(project);
        if (tmpfs)
            QFile::remove(tmpfs->path() + "/filler");
    }

    void largeFileStoredWhole()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        QByteArray chunk(1 << 20, '\0');
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char((unsigned(i) * 7919u) >> 5);
        {
            QFile big(f.root() + "/active-project/devices/tando/00:1a:2b:3c:4d:5e/firmware.bin");
            QVERIFY(big.open(QIODevice::WriteOnly));
            for (int i = 0; i < 8; ++i)
                big.write(chunk);
        }
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");

        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));

        const QString stored = f.unpack(out) + "/active-project/devices/tando/00:1a:2b:3c:4d:ff/firmware.bin";
        QCOMPARE(QFileInfo(stored).size(), qint64(8) << 20);
        QFile back(stored);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.read(chunk.size()), chunk);
        Workspace::unloadProject(project);
    }
};

QTEST_GUILESS_MAIN(TestStoring)
#include "tst_storing.moc"
