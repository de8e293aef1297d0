// SPDX-License-Identifier: GPL-3.0-or-later
// Archives as the common tar programs write them, with hard links, a symbolic
// link, a long name and a sparse file, edited through the command-line tool.
// Each tar program then unpacks the stored archive: it has to give what it
// gives for the packed one, with the device moved, relabelled and the project
// renamed, and every entry the edit leaves alone keeps its header.

#include "processrun.h"
#include "projectfixture.h"
#include "snapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

namespace {

const QByteArray oldMac = "00:1a:2b:3c:4d:5e";
const QByteArray newMac = "00:1a:2b:3c:4d:ff";
const QByteArray peerMac = "00:1a:2b:3c:4d:5f";
const QByteArray tando = "active-project/devices/tando/";
const QByteArray sharedPrefs = "active-project/shared/prefs";
// Over 100 bytes as a path, yet its last part fits a ustar name field.
const QByteArray longName = tando + oldMac + '/' + QByteArray(90, 'n') + ".cal";

QByteArray moved(QByteArray text)
{
    return text.replace(oldMac, newMac);
}

QByteArray prefs(const QByteArray &label)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<prefs>\n  <UnitName>" + label + "</UnitName>\n</prefs>\n";
}

QByteArray profile(const QByteArray &mac, const QByteArray &peerLabel)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<profile>\n  <unit>\n    <mac>" + mac
           + "</mac>\n    <unitname>Front</unitname>\n  </unit>\n  <unit>\n    <mac>" + peerMac
           + "</mac>\n    <unitname>" + peerLabel + "</unitname>\n  </unit>\n</profile>\n";
}

QByteArray header(const ArchiveEntry &e, const QByteArray &linkname)
{
    return QByteArray(1, e.type) + ' ' + e.attributes.toUtf8() + " -> '" + linkname + "' " + e.sha.left(12).toUtf8();
}

// A line per entry that differs: "- expected" or "+ found".
QByteArray treeDiff(const TreeSnapshot &expected, const TreeSnapshot &found)
{
    QByteArray diff;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (found.value(it.key()) != it.value())
            diff += "  - " + it.key() + ' ' + it.value() + '\n';
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        if (expected.value(it.key()) != it.value())
            diff += "  + " + it.key() + ' ' + it.value() + '\n';
    return diff;
}

} // namespace

class TestTarTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *program : {"tar", "bsdtar", "busybox", "gzip", "python3"})
            if (QStandardPaths::findExecutable(program).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(program)));
    }

    void editAndUnpack_data()
    {
        QTest::addColumn<QStringList>("writer"); // program and options; "-cf TAR -C TREE active-project" follow
        QTest::addColumn<bool>("sparse");
        QTest::newRow("GNU tar, gnu") << QStringList{"tar", "--format=gnu"} << false;
        QTest::newRow("GNU tar, posix, sparse") << QStringList{"tar", "--format=posix", "-S"} << true;
        QTest::newRow("bsdtar") << QStringList{"bsdtar"} << false;
        QTest::newRow("bsdtar, ustar") << QStringList{"bsdtar", "--format", "ustar"} << false;
        QTest::newRow("busybox tar") << QStringList{"busybox", "tar"} << false;
    }

    void editAndUnpack()
    {
        QFETCH(QStringList, writer);
        QFETCH(bool, sparse);

        ProjectFixture f;
        const QByteArray root = QFile::encodeName(f.root()) + '/';
        f.addProjectXml("Hall", "Ann", "Show");
        f.addFile(tando + oldMac + "/prefs", prefs("Front"));
        f.addFile(tando + oldMac + "/profiles/main.xml", profile(oldMac, "Foyer"));
        QByteArray firmware;
        for (int i = 0; i < 3000; ++i)
            firmware += char(i * 7 + i / 251);
        f.addFile(tando + oldMac + "/firmware.bin", firmware);
        f.addFile(longName, "calibration\n");
        f.addFile(sharedPrefs, prefs("Foyer"));
        QDir().mkpath(root + tando + peerMac + "/profiles");
        // Two names for one file each, so that tar writes the second as a hard link.
        QCOMPARE(::link((root + sharedPrefs).constData(), (root + tando + peerMac + "/prefs").constData()), 0);
        QCOMPARE(::link((root + tando + oldMac + "/profiles/main.xml").constData(),
                         (root + tando + peerMac + "/profiles/main.xml").constData()), 0);
        QCOMPARE(::symlink(("../" + oldMac + "/prefs").constData(), (root + tando + peerMac + "/peer-prefs").constData()), 0);
        if (sparse) {
            QFile hole(root + tando + oldMac + "/sparse.bin");
            QVERIFY(hole.open(QIODevice::WriteOnly) && hole.resize(1 << 20) && hole.seek(500000));
            hole.write("a little data");
        }
        const QString tar = f.path("in.tar");
        outputOf(writer.first(), writer.mid(1) + QStringList{"-cf", tar, "-C", f.root(), "active-project"});
        outputOf("gzip", {tar});
        const QString in = tar + ".gz";
        const QString out = f.path("out.tgz");
        // The packed archive really has what this is about.
        const QVector<ArchiveEntry> packedEntries = archiveEntries(in);
        int hardLinks = 0, symlinks = 0, sparseFiles = 0;
        for (const ArchiveEntry &e : packedEntries) {
            hardLinks += e.type == '1';
            symlinks += e.type == '2';
            sparseFiles += e.sparse;
        }
        QVERIFY2(hardLinks == 2 && symlinks == 1 && sparseFiles == int(sparse),
                 qPrintable(QStringLiteral("%1 hard links, %2 symlinks, %3 sparse").arg(hardLinks).arg(symlinks).arg(sparseFiles)));

        const ProcessRun edited = runTool({"edit", in, "-o", out, "--name", "Renamed", "--mac", oldMac + "=3c:4d:ff",
                                           "--label", peerMac + "=Peer"});
        QVERIFY2(edited.code == 0, edited.err.constData());

        // The files the edit writes, as they have to read: the shared prefs
        // keeps its text, though the relabelled prefs was the same file.
        const QMap<QByteArray, QByteArray> rewritten{
            {sharedPrefs, prefs("Foyer")},
            {"active-project/project.xml", f.readFile(f.root() + "/active-project/project.xml")
                                               .replace("<name>Hall</name>", "<name>Renamed</name>")},
            {tando + peerMac + "/prefs", prefs("Peer")},
            {tando + newMac + "/profiles/main.xml", profile(newMac, "Peer")},
            {tando + peerMac + "/profiles/main.xml", profile(newMac, "Peer")}};
        QByteArray problems;

        for (const QStringList &reader : {QStringList{"tar"}, QStringList{"bsdtar"}, QStringList{"busybox", "tar"}}) {
            const auto unpacked = [&](const QString &archive) {
                const QString dir = f.path(reader.join('-') + '-' + QFileInfo(archive).baseName());
                QDir().mkpath(dir);
                outputOf(reader.first(), reader.mid(1) + QStringList{"-xzf", archive, "-C", dir});
                return dir;
            };
            TreeSnapshot expected;
            const TreeSnapshot packed = treeSnapshot(unpacked(in));
            for (auto it = packed.cbegin(); it != packed.cend(); ++it)
                expected.insert(moved(it.key()), moved(it.value()));
            const QString dir = unpacked(out);
            TreeSnapshot found = treeSnapshot(dir);
            const QByteArray who = '[' + reader.join(' ').toUtf8() + "] ";
            for (auto it = rewritten.cbegin(); it != rewritten.cend(); ++it) {
                const QByteArray holds = f.readFile(dir + '/' + it.key());
                if (holds != it.value())
                    problems += who + it.key() + " holds:\n" + holds + '\n';
                expected.remove('/' + it.key());
                found.remove('/' + it.key());
            }
            const QByteArray diff = treeDiff(expected, found);
            if (!diff.isEmpty())
                problems += who + "unpacked tree differs:\n" + diff;
            const QString peer = dir + '/' + tando + peerMac + "/peer-prefs";
            if (QFileInfo(peer).canonicalFilePath() != QFileInfo(dir + '/' + tando + newMac + "/prefs").canonicalFilePath())
                problems += who + "peer-prefs resolves to '" + QFileInfo(peer).canonicalFilePath().toUtf8() + "'\n";
        }

        // Untouched entries keep their headers, the moved ones all but the name.
        QMap<QByteArray, ArchiveEntry> stored;
        for (const ArchiveEntry &e : archiveEntries(out))
            stored.insert(e.name, e);
        for (const ArchiveEntry &e : packedEntries) {
            const QByteArray name = moved(e.name);
            const ArchiveEntry s = stored.value(name);
            if (s.name.isEmpty())
                problems += "no stored entry " + name + '\n';
            else if (!rewritten.contains(name) && header(s, s.linkname) != header(e, moved(e.linkname)))
                problems += "entry " + name + "\n  - " + header(e, moved(e.linkname)) + "\n  + " + header(s, s.linkname) + '\n';
        }
        // No header keeps the old address, not even one a reader might not
        // interpret (pax header names, GNU sparse names).
        const QByteArray storedTar = outputOf("gzip", {"-dc", out});
        for (int at = storedTar.indexOf(oldMac); at >= 0; at = storedTar.indexOf(oldMac, (at / 512 + 1) * 512))
            problems += "old MAC in the block named " + storedTar.mid(at / 512 * 512, 100).split('\0').first() + '\n';
        if (stored.size() != packedEntries.size())
            problems += "stored " + QByteArray::number(stored.size()) + " entries of " + QByteArray::number(packedEntries.size()) + '\n';

        const ProcessRun shown = runTool({"show", out, "--json"});
        const QJsonObject project = QJsonDocument::fromJson(shown.out).object();
        QMap<QString, QString> labels;
        for (const QJsonValue device : project["devices"].toArray())
            labels.insert(device["mac"].toString(), device["label"].toString());
        if (shown.code != 0 || project["name"].toString() != "Renamed" || labels.value(newMac) != "Front" || labels.value(peerMac) != "Peer"
            || labels.contains(oldMac))
            problems += "show --json: " + shown.out + shown.err;

        // A line each: a failure message would be cut short.
        for (const QByteArray &line : problems.split('\n'))
            if (!line.isEmpty())
                qInfo("%s", line.constData());
        QVERIFY2(problems.isEmpty(), "the lines above tell what differs");
    }

    // A profile that is a hard link to a sparse file cannot be read: an edit
    // it would have to follow is refused, others are stored.
    void profileLinkedToUnreadableFile()
    {
        ProjectFixture f;
        const QByteArray root = QFile::encodeName(f.root()) + '/';
        f.addProjectXml("Hall", "Ann", "Show");
        f.addFile(tando + oldMac + "/prefs", prefs("Front"));
        f.addFile("active-project/other/p.xml", profile(oldMac, "Foyer"));
        QVERIFY(QFile::resize(root + "active-project/other/p.xml", 1 << 20));
        QDir().mkpath(root + tando + oldMac + "/profiles");
        QCOMPARE(::link((root + "active-project/other/p.xml").constData(), (root + tando + oldMac + "/profiles/p.xml").constData()), 0);
        const QString in = f.path("in.tgz");
        outputOf("tar", {"--format=gnu", "-S", "-czf", in, "-C", f.root(), "active-project"});

        const ProcessRun relabelled = runTool({"edit", in, "-o", f.path("a.tgz"), "--label", oldMac + "=Stage"});
        QCOMPARE(relabelled.code, 1);
        QVERIFY2(relabelled.err.contains("profiles/p.xml is a hard link to active-project/other/p.xml, which cannot be read"),
                 relabelled.err.constData());
        QVERIFY(!QFileInfo::exists(f.path("a.tgz")));
        QCOMPARE(runTool({"edit", in, "-o", f.path("b.tgz"), "--name", "Renamed"}).code, 0);
    }
};

QTEST_GUILESS_MAIN(TestTarTools)
#include "tst_tar_tools.moc"
