// SPDX-License-Identifier: GPL-3.0-or-later
// Edits through the command-line tool, as a user makes them: a project tree
// packed with the system tar, `tando-project edit`, then what `show --json`,
// the stored files (unpacked with the system tar) and `diff` of input and
// output say.

#include "processrun.h"
#include "projectfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using Files = QMap<QString, QByteArray>;

namespace {

const QString projectMember = QStringLiteral("active-project/project.xml");
const QString tandoMac = QStringLiteral("00:1a:2b:3c:4d:5e");
const QString ksb12Mac = QStringLiteral("00:1a:2b:00:00:01");
const QString tandoPrefsMember = QStringLiteral("active-project/devices/tando/00:1a:2b:3c:4d:5e/prefs");
const QString profileMember = QStringLiteral("active-project/devices/tando/00:1a:2b:3c:4d:5e/profiles/p.xml");
const QString ksb12Member = QStringLiteral("active-project/devices/ksb12/00:1a:2b:00:00:01/prefs");

QByteArray storedFile(const QString &archive, const QString &name)
{
    return outputOf(QStringLiteral("tar"), {"-xzOf", archive, name});
}

QByteArray projectXml(const QByteArray &body, const QByteArray &declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>")
{
    return declaration + "\n<project>\n <name>Hall</name>\n <author>Ann</author>\n <description>Show</description>\n"
           + body + "</project>\n";
}

// What a user sees of a project: the settings, and each label by its MAC.
QJsonObject shown(const QString &archive)
{
    const ProcessRun r = runTool({"show", archive, "--json"});
    QJsonObject seen = QJsonDocument::fromJson(r.out).object();
    for (const QJsonValue device : seen.take("devices").toArray())
        seen.insert("label " + device["mac"].toString(), device["label"]);
    seen.insert("exit", r.code);
    return seen;
}

// What diff --json lists, one short key per difference: "name",
// "relabelled MAC", "profile PATH", "entry CHANGE PATH", "order".
QStringList diffKeys(const QJsonObject &diff)
{
    QStringList keys;
    for (const QJsonValue s : diff["settings"].toArray())
        keys << s["field"].toString();
    for (const QJsonValue d : diff["devices"].toArray())
        keys << d["change"].toString() + " " + d["mac"].toString();
    for (const QJsonValue p : diff["profiles"].toArray())
        keys << "profile " + p["path"].toString();
    for (const QJsonValue e : diff["entries"].toArray())
        keys << "entry " + e["change"].toString() + " " + e["path"].toString();
    if (diff["order"]["differs"].toBool())
        keys << "order";
    keys.removeDuplicates();
    keys.sort();
    return keys;
}

// The differences the edit options ask for, as diffKeys() names them, and
// the profile when the system tar finds its stored bytes changed.
QStringList impliedKeys(const QStringList &options, const Files &tree, const QString &stored)
{
    QStringList keys;
    for (int i = 0; i + 1 < options.size(); i += 2) {
        const QString mac = options.at(i + 1).section('=', 0, 0);
        if (options.at(i) == "--label")
            keys << "relabelled " + mac;
        else if (options.at(i) == "--mac")
            keys << "re-addressed " + mac;
        else
            keys << options.at(i).mid(2);
    }
    const QStringList members = QString::fromUtf8(outputOf("tar", {"-tzf", stored})).split('\n');
    const QString profile = members.filter(QRegularExpression("/profiles/p\\.xml$")).value(0);
    if (storedFile(stored, profile) != tree.value(profileMember))
        keys << "profile " + profile;
    keys.sort();
    return keys;
}

} // namespace

class TestEditJourneys : public QObject
{
    Q_OBJECT

private slots:
    void edit_data()
    {
        QTest::addColumn<Files>("files"); // members that differ from a plain project
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QJsonObject>("seen");            // what show --json says of the stored archive
        QTest::addColumn<QString>("member");              // a stored file, and
        QTest::addColumn<QByteArray>("memberHolds");      // bytes it holds; empty: exactly as packed

        const QByteArray deep = QByteArray("<d>").repeated(100000) + QByteArray("</d>").repeated(100000);

        QTest::newRow("description cleared") << Files{} << QStringList{"--description", ""} << 0
                                             << QJsonObject{{"description", ""}, {"name", "Hall"}} << projectMember
                                             << QByteArray("<description/>");
        QTest::newRow("blank name") << Files{} << QStringList{"--name", "  "} << 0 << QJsonObject{{"name", "  "}}
                                    << projectMember << QByteArray("<name>  </name>");
        QTest::newRow("empty label named by a profile")
            << Files{} << QStringList{"--label", tandoMac + "="} << 0 << QJsonObject{{"label " + tandoMac, ""}}
            << profileMember << QByteArray("<unitname/>");
        QString attributes;
        for (int i = 0; i < 40; ++i)
            attributes += QStringLiteral(" a%1=\"%1\"").arg(i);
        QTest::newRow("40 attributes on the root")
            << Files{{projectMember, projectXml("").replace("<project>", "<project" + attributes.toUtf8() + ">")}}
            << QStringList{"--name", "Forty"} << 0 << QJsonObject{{"name", "Forty"}} << projectMember
            << QByteArray(" a39=\"39\" a4=\"4\"");
        QTest::newRow("entity declaration look-alike in CDATA")
            << Files{{projectMember, projectXml(" <notes><![CDATA[<!ENTITY x \"y\">]]></notes>\n")}}
            << QStringList{"--name", "Renamed"} << 0 << QJsonObject{{"name", "Renamed"}} << projectMember
            << QByteArray("<name>Renamed</name>");
        QTest::newRow("entity declared, file not edited")
            << Files{{projectMember, "<!DOCTYPE project [<!ENTITY a \"Hall\">]>\n<project><name>&a;</name></project>\n"}}
            << QStringList{"--label", ksb12Mac + "=Amp"} << 0 << QJsonObject{{"name", ""}, {"label " + ksb12Mac, "Amp"}}
            << projectMember << QByteArray();
        QTest::newRow("comment in a name")
            << Files{{projectMember, "<project><name><!--was: Old-->Main</name><author>Ann</author></project>"}}
            << QStringList{"--author", "Bo"} << 0 << QJsonObject{{"name", "Main"}, {"author", "Bo"}} << projectMember
            << QByteArray("<name><!--was: Old-->Main</name>");
        QTest::newRow("Version before UnitName")
            << Files{{tandoPrefsMember, "<prefs>\n <Version>7</Version>\n <UnitName>Front</UnitName>\n</prefs>\n"}}
            << QStringList{"--label", tandoMac + "=Stage"} << 0 << QJsonObject{{"label " + tandoMac, "Stage"}}
            << tandoPrefsMember << QByteArray("<Version>7</Version>\n <UnitName>Stage</UnitName>");
        QTest::newRow("Latin-1 KSB12 label through an unrelated edit")
            << Files{{ksb12Member, QByteArray("B\xfchne").append(11, '\0')}} << QStringList{"--name", "X"} << 0
            << QJsonObject{{"label " + ksb12Mac, QStringLiteral("B\u00fchne")}, {"name", "X"}} << ksb12Member
            << QByteArray();
        QTest::newRow("character beyond U+FFFF through an unrelated edit")
            << Files{{projectMember, projectXml(" <notes>&#x1F600;</notes>\n", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>")}}
            << QStringList{"--name", QStringLiteral("\U0001F600")} << 0 << QJsonObject{{"name", QStringLiteral("\U0001F600")}}
            << projectMember << QByteArray("<name>&#x1f600;</name>\n <author>Ann</author>\n <description>Show</description>\n"
                                           " <notes>&#x1f600;</notes>");
        // Profiles follow every device of the project, edited or not.
        const QByteArray twoUnits = "<profile>\n <unit>\n  <mac>%1</mac>\n  <unitname>Front</unitname>\n </unit>\n"
                                    " <unit>\n  <mac>%2</mac>\n  <unitname>%3</unitname>\n </unit>\n</profile>\n";
        QTest::newRow("stale unitname of another device refreshed")
            << Files{{profileMember, QString(twoUnits).arg(tandoMac, ksb12Mac, "Old Name").toUtf8()}}
            << QStringList{"--label", tandoMac + "=Stage"} << 0 << QJsonObject{{"label " + tandoMac, "Stage"}}
            << profileMember << QByteArray("<unitname>Stage</unitname>\n </unit>\n <unit>\n  <mac>00:1a:2b:00:00:01</mac>\n"
                                           "  <unitname>Stage Right</unitname>");
        QTest::newRow("profile MACs take the colon form on any edit")
            << Files{{profileMember, QString(twoUnits).arg("00-1A-2B-3C-4D-5E", "00:1A:2B:0:0:1", "Stage Right").toUtf8()}}
            << QStringList{"--name", "X"} << 0 << QJsonObject{{"name", "X"}} << profileMember
            << QByteArray("<mac>00:1a:2b:3c:4d:5e</mac>\n  <unitname>Front</unitname>\n </unit>\n <unit>\n"
                          "  <mac>00:1a:2b:00:00:01</mac>");
        QTest::newRow("stale unitname in CDATA refreshed")
            << Files{{profileMember, "<profile><unit><mac>" + ksb12Mac.toUtf8() + "</mac><unitname><![CDATA[Old]]></unitname>"
                                     "</unit></profile>\n"}}
            << QStringList{"--name", "X"} << 0 << QJsonObject{{"name", "X"}} << profileMember
            << QByteArray("<unitname><![CDATA[Stage Right]]></unitname>");
        QTest::newRow("consistent profile keeps its bytes")
            << Files{{profileMember, QString(twoUnits).arg(tandoMac, ksb12Mac, "Stage Right").toUtf8()}}
            << QStringList{"--name", "X"} << 0 << QJsonObject{{"name", "X"}} << profileMember << QByteArray();
        QTest::newRow("control character in a name") << Files{} << QStringList{"--name", "a\x01" "b"} << 2
                                                      << QJsonObject{} << QString() << QByteArray("--name: U+0001");
        // An edited value that has no place to go fails the store, naming the
        // file and the field ("|" separates what the message must hold).
        QTest::newRow("edited name in a file that declares entities")
            << Files{{projectMember, "<!DOCTYPE project [<!ENTITY a \"Hall\">]>\n<project><name>&a;</name></project>\n"}}
            << QStringList{"--name", "X"} << 1 << QJsonObject{} << QString()
            << QByteArray("Cannot store the name|project.xml is refused|declares entities");
        QTest::newRow("edited name in a file nested too deeply")
            << Files{{projectMember, projectXml(deep)}} << QStringList{"--name", "X"} << 1 << QJsonObject{} << QString()
            << QByteArray("Cannot store the name|project.xml is refused");
        QTest::newRow("description without its element")
            << Files{{projectMember, "<project><name>Hall</name></project>"}} << QStringList{"--description", "New"} << 1
            << QJsonObject{} << QString() << QByteArray("Cannot store the description|project.xml has no <description>");
        QTest::newRow("label for prefs without UnitName")
            << Files{{tandoPrefsMember, "<prefs><Other>x</Other></prefs>"}} << QStringList{"--label", tandoMac + "=Stage"}
            << 1 << QJsonObject{} << QString() << QByteArray("Cannot store the label of " + tandoMac.toUtf8() + "|prefs has no <UnitName>");
        // Two spellings of one device would become one directory.
        QTest::newRow("one device in two spellings")
            << Files{{"active-project/devices/tando/00-1A-2B-3C-4D-5E/prefs", "<prefs><UnitName>Twin</UnitName></prefs>"}}
            << QStringList{"--name", "X"} << 1 << QJsonObject{} << QString()
            << QByteArray("cannot load|00-1A-2B-3C-4D-5E|00:1a:2b:3c:4d:5e|names the same device");
        QTest::newRow("re-addressed device takes its profile along")
            << Files{} << QStringList{"--mac", tandoMac + "=3c:4d:ff"} << 0
            << QJsonObject{{"label 00:1a:2b:3c:4d:ff", "Front"}}
            << QString(profileMember).replace("4d:5e", "4d:ff") << QByteArray("<mac>00:1a:2b:3c:4d:ff</mac>");
        QTest::newRow("100 000 nested elements")
            << Files{{projectMember, projectXml(deep)}} << QStringList{"--label", ksb12Mac + "=Amp"} << 0
            << QJsonObject{{"name", ""}, {"label " + ksb12Mac, "Amp"}} << projectMember << QByteArray();
    }

    // Each edit runs three times: every run gives the same stored bytes.
    void edit()
    {
        QFETCH(Files, files);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QJsonObject, seen);
        QFETCH(QString, member);
        QFETCH(QByteArray, memberHolds);

        ProjectFixture f;
        Files tree{
            {projectMember, projectXml("")},
            {tandoPrefsMember, "<?xml version=\"1.0\"?>\n<prefs>\n <UnitName>Front</UnitName>\n</prefs>\n"},
            {profileMember, "<profile>\n <unit>\n  <mac>00:1a:2b:3c:4d:5e</mac>\n  <unitname>Front</unitname>\n </unit>\n</profile>\n"},
            {ksb12Member, QByteArray("Stage Right").append(5, '\0')}};
        tree.insert(files);
        for (auto it = tree.cbegin(); it != tree.cend(); ++it)
            f.addFile(it.key(), it.value());
        const QString in = f.path("in.tgz");
        outputOf("tar", {"-czf", in, "-C", f.root(), "active-project"});

        QByteArray firstStored;
        for (int run = 0; run < 3; ++run) {
            const QString out = f.path(QStringLiteral("out%1.tgz").arg(run));
            const ProcessRun r = runTool(QStringList{"edit", in, "-o", out} + options);
            QVERIFY2(r.code == code, r.err.constData());
            if (code != 0) {
                for (const QByteArray &part : memberHolds.split('|'))
                    QVERIFY2(r.err.contains(part), r.err.constData());
                QVERIFY(!QFileInfo::exists(out));
                return;
            }
            QJsonObject actual = shown(out);
            for (auto it = seen.constBegin(); it != seen.constEnd(); ++it)
                QCOMPARE(actual.value(it.key()), it.value());
            QCOMPARE(actual.value("exit").toInt(), 0);
            const QByteArray stored = storedFile(out, member);
            if (memberHolds.isEmpty())
                QCOMPARE(stored, tree.value(member));
            else
                QVERIFY2(stored.contains(memberHolds), stored.constData());
            if (run == 0)
                firstStored = stored;
            QCOMPARE(stored, firstStored);
        }
        // The diff of input and output lists exactly the edits: the store
        // changed nothing else.
        const QString out = f.path("out0.tgz");
        const ProcessRun diff = runTool({"diff", in, out, "--json"});
        QCOMPARE(diff.code, 1);
        QCOMPARE(diffKeys(QJsonDocument::fromJson(diff.out).object()), impliedKeys(options, tree, out));
    }

    // An output named ".tar" is a plain tar, any other name gets gzip with
    // the member named for the tar it holds. Whatever the name, the tool
    // opens it again (gzip is told by the content), tar tools read it, and
    // every header of the stored tar ends its size field with a NUL, as the
    // devices read it.
    void storedUnderAnyName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("gzipMember"); // empty: a plain tar
        QTest::newRow("upper-case .TGZ") << "out.TGZ" << QByteArray("out.tar");
        QTest::newRow(".tar.gz") << "out.tar.gz" << QByteArray("out.tar");
        QTest::newRow("other extension") << "out.bin" << QByteArray("out.bin.tar");
        QTest::newRow(".tar") << "out.tar" << QByteArray();
        QTest::newRow("upper-case .TAR") << "out.TAR" << QByteArray();
    }

    void storedUnderAnyName()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, gzipMember);
        ProjectFixture f;
        f.addProjectXml("Hall", "Ann", "Show");
        f.addTando(tandoMac, "Front");
        const QString in = f.makeTgz("in.tgz");
        const QString out = f.path(name);
        QCOMPARE(runTool({"edit", in, "-o", out, "--name", name}).code, 0);
        QCOMPARE(shown(out).value("name").toString(), name);
        const QByteArray stored = ProjectFixture::readFile(out);
        QByteArray tar = stored;
        if (gzipMember.isEmpty()) {
            QCOMPARE(stored.mid(257, 5), QByteArray("ustar"));
            QVERIFY(outputOf("busybox", {"tar", "-tf", out}).contains(projectMember.toUtf8()));
        } else {
            // ID, deflate, only the name flag; the name follows the 10 fixed bytes.
            QCOMPARE(stored.left(4), QByteArray("\x1f\x8b\x08\x08"));
            QCOMPARE(stored.mid(10, stored.indexOf('\0', 10) - 10), gzipMember);
            tar = outputOf("gzip", {"-dc", out});
        }
        QVERIFY(outputOf("tar", {"-tf", out}).contains(projectMember.toUtf8()));
        int headers = 0;
        for (int at = 0; at + 512 <= tar.size(); at += 512) {
            const QByteArray h = tar.mid(at, 512);
            if (h.count('\0') == 512)
                break;
            QCOMPARE(h.at(124 + 11), '\0');
            ++headers;
            at += int((QByteArray(h.constData() + 124, 11).toULongLong(nullptr, 8) + 511) / 512 * 512);
        }
        QVERIFY(headers >= 5);
    }
};

QTEST_GUILESS_MAIN(TestEditJourneys)
#include "tst_edit_journeys.moc"
