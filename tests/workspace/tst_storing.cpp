// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"
#include "snapshot.h"
#include "testutil.h"
#include "tmpfsmount.h"
#include "xmlio.h"

#include <QRandomGenerator>
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

QDomDocument xmlOf(const QString &path)
{
    QDomDocument doc;
    Xml::parse(ProjectFixture::readFile(path), &doc);
    return doc;
}

QString text(const QString &xmlPath, const QString &tag, int index = 0)
{
    return xmlOf(xmlPath).elementsByTagName(tag).item(index).firstChild().nodeValue();
}

// Packs the files named on its command line (after the archive and the
// directory they lie in), in that order, as a pax archive with owners,
// modes and times of its own for each, a fractional time, a non-ASCII owner
// name and a record of its own on the last entry.
const char *const writePax = R"(
import io, os, sys, tarfile
out, root, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with tarfile.open(out, "w", format=tarfile.PAX_FORMAT) as tar:
    for i, name in enumerate(names):
        path = os.path.join(root, name)
        info = tar.gettarinfo(path, name)
        info.mode = (0o750, 0o640, 0o600, 0o664, 0o777, 0o604)[i % 6]
        info.uid, info.gid = 1000 + i, 2000 + 7 * i
        info.uname, info.gname = "zo\u00eb" if i == 3 else "user%d" % i, "group%d" % i
        info.mtime = 1600000000 + 86400 * i + (0.25 if i == 2 else 0)
        if i == len(names) - 1:
            info.pax_headers = {"comment": "kept as written"}
        data = open(path, "rb").read() if info.isreg() else None
        tar.addfile(info, io.BytesIO(data) if data is not None else None)
)";

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

        const QString out = f.path("stored.tgz");
        QSignalSpy stateSpy(&project, &ProjectEntity::stateChanged);
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QVERIFY(spyCarries(stateSpy, {out + " saved"}));

        // The entities are unchanged.
        QCOMPARE(front->oldMac(), QStringLiteral("00:1a:2b:3c:4d:5e"));

        outputOf("gzip", {"-t", out});
        for (const ArchiveEntry &entry : archiveEntries(out)) // no underscore device names left
            QVERIFY2(!entry.name.contains('_') && !entry.linkname.contains('_'), entry.name.constData());

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

    // A store copies every entry as the archive holds it, whichever tool
    // wrote it: names, owners, modes, times, extended records and order stay;
    // only the moved device directory's names and the rewritten file's data
    // change.
    void storeKeepsEveryEntryAsWritten_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("edit");
        for (const char *writer : {"pax", "gnu"}) {
            for (const char *edit : {"name", "MAC"})
                QTest::addRow("%s archive, %s edited", writer, edit) << writer << edit;
        }
    }

    void storeKeepsEveryEntryAsWritten()
    {
        QFETCH(QString, writer);
        QFETCH(QString, edit);
        const QString oldDir = "active-project/devices/tando/00:1a:2b:3c:4d:5e";
        const QString newDir = "active-project/devices/tando/00:1a:2b:3c:4d:ff";
        ProjectFixture f;
        f.addProjectXml("Hall", "Ann", "Show");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addProfile("00:1a:2b:3c:4d:5e", "p.xml", {{"00:1a:2b:3c:4d:5e", "Front"}});
        f.addFile("active-project/notes.txt", "after the devices\n");
        QVERIFY(QFile::link("project.xml", f.root() + "/active-project/settings-link"));
        QVERIFY(QFile::setPermissions(f.root() + "/active-project/notes.txt", QFile::ReadOwner | QFile::ReadGroup));
        // Devices first, a file after them.
        const QStringList tail{"active-project/project.xml", "active-project/settings-link", "active-project/notes.txt"};
        const QString archive = f.path(writer == "pax" ? "pax.tar" : "gnu.tgz");
        if (writer == "pax")
            outputOf("python3",
                     QStringList{"-c", writePax, archive, f.root(), oldDir, oldDir + "/prefs", oldDir + "/profiles/p.xml"} + tail);
        else
            outputOf("tar", QStringList{"--format=gnu", "--sort=name", "--owner=ann:1234", "--group=stage:2345",
                                        "--mtime=@1600000000", "-czf", archive, "-C", f.root(), "active-project/devices"} + tail);

        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, archive));
        QString rewritten = "active-project/project.xml";
        if (edit == "name") {
            project.setName("Renamed");
        } else {
            deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
            rewritten = newDir + "/profiles/p.xml";
        }
        const QString out = f.path("out.tgz");
        QVERIFY(Workspace::storeCurrentProject(project, out));

        const auto describe = [&](const QVector<ArchiveEntry> &entries, bool input) {
            QStringList lines;
            for (const ArchiveEntry &entry : entries) {
                QString name = QString::fromUtf8(entry.name);
                if (input && edit == "MAC" && (name == oldDir || name.startsWith(oldDir + '/')))
                    name.replace(0, oldDir.size(), newDir);
                lines << QStringList{name, QString(entry.type), entry.attributes, QString::fromUtf8(entry.linkname),
                                     QString::fromUtf8(entry.pax), name == rewritten ? QString() : entry.sha}
                             .join(' ');
            }
            return lines;
        };
        const QVector<ArchiveEntry> written = archiveEntries(archive);
        QVERIFY(written.size() >= 6);
        QCOMPARE(describe(archiveEntries(out), false), describe(written, true));

        ProjectEntity again;
        QVERIFY(Workspace::loadProject(again, out));
        QCOMPARE(again.name(), edit == "name" ? QStringLiteral("Renamed") : QStringLiteral("Hall"));
        QCOMPARE(again.devices()->count(), 1);
        QVERIFY(deviceByMac(again, "TANDO/QL3", edit == "name" ? "00:1a:2b:3c:4d:5e" : "00:1a:2b:3c:4d:ff"));
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
            QVERIFY2(result.reason().contains("description") && result.reason().contains("active-project/project.xml"),
                     qPrintable(result.reason()));
            QVERIFY(!QFileInfo::exists(out));
            Workspace::unloadProject(project);
            return;
        }
        QVERIFY2(result, qPrintable(result.reason()));
        const QString stored = f.unpack(out) + "/active-project/project.xml";
        QVERIFY2(ProjectFixture::readFile(stored).contains(expectedBytes), ProjectFixture::readFile(stored).constData());
        QCOMPARE(Xml::firstElementText(xmlOf(stored), "description"), expectedDescription);
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

    // A job cancelled at its first progress report ends as cancelled, not
    // failed: a load leaves the loaded project as it was, a store leaves the
    // target as it was and nothing beside it; neither writes to the
    // temporary directory. A store reports what it does to the target.
    void cancelledJobsLeaveNothing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("storePhase");
        QTest::newRow("gzip") << "existing.tgz" << int(JobControl::Phase::Compressing);
        QTest::newRow("plain tar") << "existing.tar" << int(JobControl::Phase::Writing);
    }

    void cancelledJobsLeaveNothing()
    {
        QFETCH(QString, target);
        QFETCH(int, storePhase);
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString archive = f.makeTgz("p.tgz");
        TemporaryDirWatch tmp(f.path("tmp"));
        QList<JobControl::Phase> phases;
        JobControl cancelling;
        cancelling.progress = [&](JobControl::Phase phase, qint64, qint64) {
            phases.append(phase);
            cancelling.cancelled = true;
        };

        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, archive));
        project.setName("Edited");
        const Result load = Workspace::loadProject(project, archive, &cancelling);
        QVERIFY2(load.isCancelled(), qPrintable(load.reason()));
        QVERIFY(project.loaded());
        QCOMPARE(project.name(), QStringLiteral("Edited"));
        QCOMPARE(project.devices()->count(), 1);

        const QString out = f.path(target);
        {
            QFile existing(out);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("old archive");
        }
        cancelling.cancelled = false;
        const Result store = Workspace::storeCurrentProject(project, out, &cancelling);
        QVERIFY2(store.isCancelled(), qPrintable(store.reason()));
        QCOMPARE(ProjectFixture::readFile(out), QByteArray("old archive"));
        QCOMPARE(QDir(f.path(".")).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(phases, (QList<JobControl::Phase>{JobControl::Phase::Reading, JobControl::Phase(storePhase)}));
        QCOMPARE(tmp.entries(), QStringList());
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
        const TreeSnapshot first = treeSnapshot(f.unpack(out));
        QSignalSpy stateSpy(&project, &ProjectEntity::stateChanged);
        QVERIFY(Workspace::storeCurrentProject(project, out));
        QCOMPARE(stateSpy.count(), 0);
        QCOMPARE(treeSnapshot(f.unpack(out)), first);
        Workspace::unloadProject(project);
    }

    // Hidden files are files of the project like any other: every store of a
    // session carries them as they are, a hidden profile too.
    void hiddenFilesSurviveEveryStore()
    {
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addFile("active-project/.settings/.keep", "keep");
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/.calibration", "calibrated");
        f.addProfile("00:1a:2b:3c:4d:5e", ".draft.xml", {{"00:1a:2b:3c:4d:5e", "Front"}});
        const QByteArray draft = ProjectFixture::readFile(f.root() + "/active-project/devices/tando/00:1a:2b:3c:4d:5e/profiles/.draft.xml");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        deviceByMac(project, "TANDO/QL3", "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
        for (int store = 1; store <= 3; ++store) {
            const QString out = f.path(QStringLiteral("out%1.tgz").arg(store));
            QVERIFY(Workspace::storeCurrentProject(project, out));
            const QString x = f.unpack(out) + "/active-project";
            QCOMPARE(ProjectFixture::readFile(x + "/.settings/.keep"), QByteArray("keep"));
            QCOMPARE(ProjectFixture::readFile(x + "/devices/tando/00:1a:2b:3c:4d:ff/.calibration"), QByteArray("calibrated"));
            QCOMPARE(ProjectFixture::readFile(x + "/devices/tando/00:1a:2b:3c:4d:ff/profiles/.draft.xml"), draft);
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
        QVERIFY(!Workspace::storeCurrentProject(project, QString()));
        QVERIFY(!Workspace::storeCurrentProject(project, f.path("no/such/dir/out.tgz")));
        QCOMPARE(stateSpy.count(), 0);
        Workspace::unloadProject(project);
    }

    // A store that runs out of space answers false, leaves an existing target
    // byte for byte and leaves nothing beside it. The disk is full at the
    // target (a tmpfs, where one can be mounted), or every file is limited in
    // size (RLIMIT_FSIZE, which works anywhere).
    void fullDiskKeepsTheTarget_data()
    {
        QTest::addColumn<QString>("full");
        QTest::addColumn<QString>("target");
        QTest::newRow("file-size limit") << "limit" << "existing.tgz";
        QTest::newRow("full file system at the target") << "target" << "existing.tgz";
        QTest::newRow("plain tar under the file-size limit") << "limit" << "existing.tar";
    }

    void fullDiskKeepsTheTarget()
    {
        QFETCH(QString, full);
        QFETCH(QString, target);
        ProjectFixture f;
        f.addProjectXml("P", "A", "D");
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        // 2 MiB in files of 16 KiB: incompressible, so that the archive is as
        // large as the files, and each file small enough to fit the file-size limit.
        QRandomGenerator generator(4711);
        for (int i = 0; i < 128; ++i) {
            QByteArray noise(16 << 10, Qt::Uninitialized);
            generator.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
            f.addFile(QStringLiteral("active-project/logs/%1.bin").arg(i), noise);
        }
        std::unique_ptr<TmpfsMount> tmpfs;
        if (full == "target") {
            tmpfs = std::make_unique<TmpfsMount>(f.path("small"), 1 << 20);
            if (!tmpfs->isMounted())
                QSKIP(qPrintable("no tmpfs: " + tmpfs->reason() + "; the file-size limit row stands in"));
        }
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, f.makeTgz("p.tgz")));
        project.setName("Edited");

        const QString out = tmpfs ? tmpfs->path() + "/" + target : f.path(target);
        {
            QFile existing(out);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("precious old archive");
        }
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
            stored = Workspace::storeCurrentProject(project, out).ok();
        }
        QVERIFY(!stored);
        QStringList beside = QDir(QFileInfo(out).path()).entryList({".*part*", "*.tar"}, QDir::Files | QDir::Hidden);
        beside.removeOne(target);
        QCOMPARE(beside, QStringList());
        QCOMPARE(ProjectFixture::readFile(out), QByteArray("precious old archive"));
        QVERIFY(project.state().isEmpty());
        Workspace::unloadProject(project);
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
