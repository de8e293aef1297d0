// SPDX-License-Identifier: GPL-3.0-or-later
// diff and check as a user meets them: a project tree on disk, changed with
// the shell's own tools, packed with the system tar.

#include "processrun.h"
#include "projectfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using Files = QMap<QString, QByteArray>;

namespace {

const QString tandoDir = QStringLiteral("active-project/devices/tando/00:1a:2b:3c:4d:5e");
const QString ksb12Dir = QStringLiteral("active-project/devices/ksb12/00:1a:2b:00:00:01");

// Times a row sets lie between these two; whatever the shell touched on
// the way (a directory an entry left) goes back to the first.
const char *const baseTime = "@1600000000";
const char *const touchedAfter = "@1710000000";

QByteArray profile(const QList<QPair<QString, QString>> &units)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<profile>\n";
    for (const auto &unit : units)
        xml += "  <unit>\n    <mac>" + unit.first.toUtf8() + "</mac>\n    <unitname>" + unit.second.toUtf8()
               + "</unitname>\n  </unit>\n";
    return xml + "</profile>\n";
}

void sh(const ProjectFixture &f, const QString &script)
{
    RunOptions options;
    options.workDir = f.root();
    outputOf("sh", {"-ec", script}, options);
}

// A Tando device whose profile names it and the KSB12 device, the KSB12
// device, and files the editor does not read: a text, a firmware image and
// a symbolic link to it. Every time is baseTime.
void addProject(ProjectFixture &f, const Files &changes)
{
    f.addProjectXml("Hall", "Ann", "Show");
    f.addTando("00:1a:2b:3c:4d:5e", "Front");
    f.addFile(tandoDir + "/profiles/p.xml", profile({{"00:1a:2b:3c:4d:5e", "Front"}, {"00:1a:2b:00:00:01", "Amp"}}));
    f.addKsb12("00:1a:2b:00:00:01", QByteArray("Amp").append(13, '\0'));
    f.addFile("active-project/notes.txt", "Notes\n");
    f.addFile("active-project/media/a.bin", QByteArray(3000, '\x5a'));
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        f.addFile(it.key(), it.value());
    sh(f, QStringLiteral("ln -s media/a.bin active-project/current; chmod 644 active-project/notes.txt;"
                         "find active-project -exec touch -h -d %1 {} +").arg(baseTime));
}

// The tree packed in name order, or listed backwards.
QString pack(ProjectFixture &f, const QString &name, bool backwards = false)
{
    const QString archive = f.path(name);
    if (backwards)
        sh(f, QStringLiteral("find active-project | sort -r | tar --no-recursion -czf '%1' -T -").arg(archive));
    else
        outputOf("tar", {"--sort=name", "-czf", archive, "-C", f.root(), "active-project"});
    return archive;
}

// Each expected line matches whole, or up to a final "*".
void compareLines(const QByteArray &out, const QStringList &expected)
{
    const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() == expected.size(), out.constData());
    for (int i = 0; i < lines.size(); ++i) {
        const QString &want = expected.at(i);
        const bool matches = want.endsWith('*') ? lines.at(i).startsWith(want.chopped(1)) : lines.at(i) == want;
        QVERIFY2(matches, qPrintable(lines.at(i) + "\n  expected: " + want));
    }
}

int listed(const QJsonObject &diff)
{
    int count = diff["order"]["differs"].toBool() ? 1 : 0;
    for (const char *list : {"settings", "devices", "profiles", "entries"})
        count += diff[list].toArray().size();
    return count;
}

} // namespace

class TestReview : public QObject
{
    Q_OBJECT

private slots:
    // The new archive is the old tree after a script and new files.
    void diff_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<Files>("files");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QStringList>("lines");

        const QString profilePath = tandoDir + "/profiles/p.xml";
        QTest::newRow("packed twice") << "" << Files{} << false << QStringList{};
        QTest::newRow("added, removed, same size other bytes")
            << "rm active-project/notes.txt; printf 'Y' | dd of=active-project/media/a.bin bs=1 seek=10 conv=notrunc"
            << Files{{"active-project/new.txt", "new\n"}} << false
            << QStringList{"entry active-project/media/a.bin: content changed", "entry active-project/new.txt: added",
                           "entry active-project/notes.txt: removed"};
        QTest::newRow("header only")
            << "chmod 600 active-project/notes.txt; touch -d @1700000000 active-project/notes.txt;"
               "ln -sfn notes.txt active-project/current"
            << Files{} << false
            << QStringList{"entry active-project/current: header changed; link \"media/a.bin\" -> \"notes.txt\"",
                           "entry active-project/notes.txt: header changed; mode 0644 -> 0600, "
                           "mtime 2020-09-13T12:26:40Z -> 2023-11-14T22:13:20Z"};
        QTest::newRow("another order") << "" << Files{} << true
                                       << QStringList{"order: the entries are in another order, from active-project/project.xml on"};
        QTest::newRow("device re-addressed, settings and pairs edited by hand")
            << "mv " + tandoDir + " active-project/devices/tando/00:1a:2b:3c:4d:ff"
            << Files{{"active-project/project.xml", "<project><name>Main Hall</name><author>Ann</author>"
                                                    "<description>Show</description></project>\n"},
                     {QString(profilePath).replace("5e", "ff"), profile({{"00:1a:2b:3c:4d:ff", "Front"}, {"00:1a:2b:00:00:01", "Amp"},
                                                                         {"00:1a:2b:00:00:02", "New"}})}}
            << false
            << QStringList{"project name: \"Hall\" -> \"Main Hall\"",
                           "device TANDO/QL3 00:1a:2b:3c:4d:5e: re-addressed -> 00:1a:2b:3c:4d:ff",
                           "profile active-project/devices/tando/00:1a:2b:3c:4d:ff/profiles/p.xml: pair 1: mac "
                           "\"00:1a:2b:3c:4d:5e\", unitname \"Front\" -> mac \"00:1a:2b:3c:4d:ff\", unitname \"Front\"",
                           "profile active-project/devices/tando/00:1a:2b:3c:4d:ff/profiles/p.xml: pair 3: nothing -> mac "
                           "\"00:1a:2b:00:00:02\", unitname \"New\""};
        // A KSB12 device gone and a Tando device come hold other files: no re-address.
        QTest::newRow("device added and removed, prefs changed beyond the label")
            << "rm -r " + ksb12Dir
            << Files{{"active-project/devices/tando/00:1a:2b:3c:4d:60/prefs", "<prefs><UnitName>Side</UnitName></prefs>"},
                     {tandoDir + "/prefs", "<prefs><UnitName>Front</UnitName></prefs>"}}
            << false
            << QStringList{"device KSB12 00:1a:2b:00:00:01: removed (label \"Amp\", 2 entries)",
                           "device TANDO/QL3 00:1a:2b:3c:4d:60: added (label \"Side\", 2 entries)",
                           "entry " + tandoDir + "/prefs: content changed"};
    }

    // Text, JSON and --quiet tell the same, with the same exit code.
    void diff()
    {
        QFETCH(QString, script);
        QFETCH(Files, files);
        QFETCH(bool, backwards);
        QFETCH(QStringList, lines);

        ProjectFixture f;
        addProject(f, {});
        const QString before = pack(f, "old.tgz");
        if (!script.isEmpty())
            sh(f, script);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            f.addFile(it.key(), it.value());
        sh(f, QStringLiteral("find active-project -newermt %1 -exec touch -h -d %2 {} +").arg(touchedAfter, baseTime));
        const QString after = pack(f, "new.tgz", backwards);

        const int code = lines.isEmpty() ? 0 : 1;
        const ProcessRun text = runTool({"diff", before, after});
        QVERIFY2(text.code == code, text.err.constData());
        compareLines(text.out, lines);
        const ProcessRun json = runTool({"diff", before, after, "--json"});
        QCOMPARE(json.code, code);
        const QJsonObject o = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(o["same"].toBool(), code == 0);
        QCOMPARE(listed(o), lines.size());
        const ProcessRun quiet = runTool({"diff", before, after, "--quiet"});
        QCOMPARE(quiet.code, code);
        QCOMPARE(quiet.out + quiet.err, QByteArray());
    }

    void check_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("kinds"); // of --json, in the same order

        const QString tandoFamily = QStringLiteral("active-project/devices/tando/");
        const QString profilePath = tandoDir + "/profiles/p.xml";
        QTest::newRow("nothing to find") << Files{} << "" << QStringList{} << QStringList{};
        // In name order "00-1A-..." comes first.
        QTest::newRow("one device in two spellings")
            << Files{{tandoFamily + "00-1A-2B-3C-4D-5E/prefs", "<prefs><UnitName>Twin</UnitName></prefs>"}} << ""
            << QStringList{tandoDir + ": names the same MAC as " + tandoFamily + "00-1A-2B-3C-4D-5E"}
            << QStringList{"same-mac"};
        QTest::newRow("one MAC in both families")
            << Files{{"active-project/devices/ksb12/00:1a:2b:3c:4d:5e/prefs", QByteArray(16, '\0')}} << ""
            << QStringList{tandoDir + ": names the same MAC as active-project/devices/ksb12/00:1a:2b:3c:4d:5e"}
            << QStringList{"same-mac"};
        QTest::newRow("directory that is no MAC")
            << Files{{tandoFamily + "front-left/prefs", "<prefs><UnitName>FL</UnitName></prefs>"}} << ""
            << QStringList{tandoFamily + "front-left: is not a MAC address"} << QStringList{"not-a-mac"};
        QTest::newRow("Tando device without prefs") << Files{} << "rm " + tandoDir + "/prefs"
                                                    << QStringList{tandoDir + ": Tando device without prefs"}
                                                    << QStringList{"no-prefs"};
        QTest::newRow("prefs and a profile that do not parse")
            << Files{{tandoDir + "/prefs", "<prefs><UnitName>Front</prefs>"}, {profilePath, "<profile><unit>"}} << ""
            << QStringList{tandoDir + "/prefs: does not parse: *", profilePath + ": does not parse: *"}
            << QStringList{"prefs-unreadable", "profile-unreadable"};
        // Listed once, in whatever spelling the first profile has.
        QTest::newRow("MAC of no device, in two profiles")
            << Files{{profilePath, profile({{"00:1a:2b:3c:4d:5e", "Front"}, {"11:22:33:44:55:66", "Gone"}})},
                     {tandoDir + "/profiles/q.xml", profile({{"11-22-33-44-55-66", "Gone"}})}}
            << ""
            << QStringList{profilePath + ": <mac>11:22:33:44:55:66</mac> names no device of the project; also in " + tandoDir
                           + "/profiles/q.xml"}
            << QStringList{"unknown-mac"};
        QTest::newRow("more macs than unitnames")
            << Files{{profilePath, "<profile><unit><mac>00:1a:2b:3c:4d:5e</mac></unit><unit><mac>00:1a:2b:00:00:01</mac>"
                                   "<unitname>Amp</unitname></unit></profile>"}}
            << ""
            << QStringList{profilePath + ": has 2 <mac> and 1 <unitname> elements; pairs go by position, so later pairs shift"}
            << QStringList{"pair-counts"};
    }

    void check()
    {
        QFETCH(Files, files);
        QFETCH(QString, script);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, kinds);

        ProjectFixture f;
        addProject(f, files);
        if (!script.isEmpty())
            sh(f, script);
        const QString archive = pack(f, "project.tgz");
        const ProcessRun text = runTool({"check", archive});
        QVERIFY2(text.code == (lines.isEmpty() ? 0 : 1), text.err.constData());
        compareLines(text.out, lines);
        const ProcessRun json = runTool({"check", archive, "--json"});
        QCOMPARE(json.code, text.code);
        QStringList found;
        for (const QJsonValue finding : QJsonDocument::fromJson(json.out).object()["findings"].toArray())
            found << finding["kind"].toString();
        QCOMPARE(found, kinds);
    }
};

QTEST_GUILESS_MAIN(TestReview)
#include "tst_review.moc"
