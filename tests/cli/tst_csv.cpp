// SPDX-License-Identifier: GPL-3.0-or-later
// The device list as CSV through the command-line tool, as a user works with
// it: `show --csv`, rows changed by Python's csv module as a spreadsheet
// would, `edit --changes`, then what `show --json` says.

#include "processrun.h"
#include "projectfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

using Edits = QMap<QString, QStringList>; // old MAC -> {MAC as written, new label, new MAC}
using Expected = QMap<QString, QStringList>; // old MAC -> {MAC, label} after the edit

const QString bigMac = QStringLiteral("00:1a:2b:00:00:01");
const QString frontMac = QStringLiteral("00:1a:2b:3c:4d:5e");
const QString stageMac = QStringLiteral("00:1a:2b:3c:4d:5f");

// Reads the exported list, prints its rows as JSON, and writes it back with
// new_label and new_mac columns as a spreadsheet saves it.
const char *const spreadsheet = R"(
import csv, json, sys
exported, changes_path, separator, bom, line_end, edits = sys.argv[1:7]
edits = json.loads(edits)
with open(exported, newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
print(json.dumps(rows))
with open(changes_path, 'w', newline='', encoding='utf-8-sig' if bom == 'bom' else 'utf-8') as f:
    out = csv.writer(f, delimiter=separator, lineterminator=line_end)
    out.writerow(['MAC ', 'Type', 'Label', 'NEW_MAC', ' New_Label'])
    for kind, label, mac in rows[1:]:
        written, new_label, new_mac = edits.get(mac, [mac, '', ''])
        out.writerow([written, kind, label, new_mac, new_label])
)";

} // namespace

class TestCsv : public QObject
{
    Q_OBJECT

private:
    ProjectFixture m_fixture;
    QString m_archive;

    // The devices as `show --json` lists them, by MAC: {type, label}.
    QMap<QString, QStringList> devices(const QString &archive, QString *name = nullptr)
    {
        const QJsonObject shown = QJsonDocument::fromJson(runTool({"show", archive, "--json"}).out).object();
        if (name)
            *name = shown.value("name").toString();
        QMap<QString, QStringList> byMac;
        for (const QJsonValue d : shown.value("devices").toArray())
            byMac.insert(d["mac"].toString(), {d["type"].toString(), d["label"].toString()});
        return byMac;
    }

private slots:
    void initTestCase()
    {
        ProjectFixture &f = m_fixture;
        f.addProjectXml("Main Hall", "Ann", "Spring show");
        f.addKsb12(bigMac, QByteArray("Amp, \"one\"").append(6, '\0'));
        f.addTando(frontMac, "Front");
        f.addTando(stageMac, QStringLiteral("B\u00fchne"));
        for (int i = 0; i < 40; ++i)
            f.addTando(QStringLiteral("00:1a:2b:10:00:%1").arg(i, 2, 16, QLatin1Char('0')), QStringLiteral("Unit %1").arg(i));
        m_archive = f.makeTgz("venue.tgz");
    }

    void changesFromASpreadsheet_data()
    {
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("bom");
        QTest::addColumn<QString>("lineEnd");
        QTest::addColumn<bool>("fromStdin");
        QTest::addColumn<Edits>("edits");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<Expected>("expected");

        QTest::newRow("comma, LF, file")
            << "," << "" << "\n" << false
            << Edits{{frontMac, {frontMac, "Stage Left", "3C-4D-FF"}}, {bigMac, {"00-1A-2B-00-00-01", "", "00:1A:2B:00:00:AA"}},
                     {stageMac, {"001a2b3c4d5f", "", "001A2B3C4DAB"}}}
            << QStringList() << Expected{{frontMac, {"00:1a:2b:3c:4d:ff", "Stage Left"}}, {bigMac, {"00:1a:2b:00:00:aa", "Amp, \"one\""}},
                                         {stageMac, {"00:1a:2b:3c:4d:ab", "B\u00fchne"}}};
        QTest::newRow("semicolon, BOM, CRLF, standard input, with options")
            << ";" << "bom" << "\r\n" << true
            << Edits{{stageMac, {"00_1A_2B_3C_4D_5F", "Stage 2", ""}}, {"00:1a:2b:10:00:07", {"00:1a:2b:10:00:07", "", "100099"}}}
            << QStringList{"--name", "Hall B", "--label", "00:1a:2b:10:00:08=Spare"}
            << Expected{{stageMac, {stageMac, "Stage 2"}},
                        {"00:1a:2b:10:00:07", {"00:1a:2b:10:00:99", "Unit 7"}},
                        {"00:1a:2b:10:00:08", {"00:1a:2b:10:00:08", "Spare"}}};
    }

    // Export, change two rows, apply, and see exactly those changes.
    void changesFromASpreadsheet()
    {
        QFETCH(QString, separator);
        QFETCH(QString, bom);
        QFETCH(QString, lineEnd);
        QFETCH(bool, fromStdin);
        QFETCH(Edits, edits);
        QFETCH(QStringList, options);
        QFETCH(Expected, expected);

        const ProcessRun exported = runTool({"show", m_archive, "--csv"});
        QCOMPARE(exported.code, 0);
        const QString exportPath = m_fixture.path("list.csv");
        const QString changesPath = m_fixture.path("changes.csv");
        m_fixture.addFile("../list.csv", exported.out);
        QJsonObject editsJson;
        for (auto e = edits.cbegin(); e != edits.cend(); ++e)
            editsJson.insert(e.key(), QJsonArray::fromStringList(e.value()));
        const QByteArray rowsRead = outputOf(
            "python3", {"-c", spreadsheet, exportPath, changesPath, separator, bom, lineEnd,
                        QString::fromUtf8(QJsonDocument(editsJson).toJson(QJsonDocument::Compact))});

        // What the spreadsheet read is what `show --json` lists, in list order.
        QString name;
        const QMap<QString, QStringList> before = devices(m_archive, &name);
        QJsonArray listed;
        listed.append(QJsonArray{"type", "label", "mac"});
        for (const QJsonValue d : QJsonDocument::fromJson(runTool({"show", m_archive, "--json"}).out)["devices"].toArray())
            listed.append(QJsonArray{d["type"], d["label"], d["mac"]});
        QCOMPARE(QJsonDocument::fromJson(rowsRead).array(), listed);

        const QString output = m_fixture.path("edited.tgz");
        QFile::remove(output);
        const QByteArray changes = ProjectFixture::readFile(changesPath);
        QCOMPARE(changes.startsWith("\xef\xbb\xbf"), !bom.isEmpty());
        QStringList args{"edit", m_archive, "-o", output, "--changes", fromStdin ? "-" : changesPath};
        RunOptions piped;
        piped.input = fromStdin ? changes : QByteArray();
        const ProcessRun edited = runTool(args + options, piped);
        QVERIFY2(edited.code == 0, edited.err.constData());

        QMap<QString, QStringList> after = before;
        for (auto e = expected.cbegin(); e != expected.cend(); ++e)
            after.insert(e.value().at(0), {after.take(e.key()).at(0), e.value().at(1)});
        QString newName;
        QCOMPARE(devices(output, &newName), after);
        QCOMPARE(newName, options.contains("--name") ? QStringLiteral("Hall B") : name);
    }

    void badChangesChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");

        const QByteArray header = "type,label,mac,new_label,new_mac\n";
        QByteArray manyUnknown = "mac,new_label\n";
        for (int i = 0; i < 25; ++i)
            manyUnknown += QByteArray("11:22:33:44:55:") + QByteArray::number(i + 10) + ",X\n";

        QTest::newRow("row naming no device") << header + "x,y,00:1a:2b:3c:4d:5e,A,\nx,y,11:22:33:44:55:66,B,\n" << QStringList()
                                              << "changes.csv:3: no device with MAC 11:22:33:44:55:66 in the project";
        QTest::newRow("label the rule refuses") << header + "x,y,00:1a:2b:3c:4d:5e,\"Left, front\",\n" << QStringList()
                                                << "changes.csv:2: label \"Left, front\": at most 16 of A-Z, a-z, 0-9 and space";
        QTest::newRow("new MAC that is no MAC") << header + "x,y,00:1a:2b:3c:4d:5e,,3c:4d:zz\n" << QStringList()
                                                << "changes.csv:2: 3c:4d:zz: not a MAC, nor the last three bytes of one";
        QTest::newRow("new MAC of another vendor") << QByteArray("mac;new_mac\r\n\r\n00:1a:2b:3c:4d:5e;00:aa:bb:3c:4d:5e\r\n") << QStringList()
                                                   << "changes.csv:3: 00:aa:bb:3c:4d:5e: only the last three bytes of a MAC can change";
        QTest::newRow("device named twice") << header + "x,y,00:1a:2b:3c:4d:5e,A,\nx,y,00-1A-2B-3C-4D-5E,,3c:4d:01\n"
                                            << QStringList()
                                            << "changes.csv:3: the device 00-1A-2B-3C-4D-5E is named again (first on line 2)";
        QTest::newRow("device named by an option too") << header + "x,y,00:1a:2b:3c:4d:5e,A,\n"
                                                       << QStringList{"--mac", "00:1a:2b:3c:4d:5e=3c:4d:01"}
                                                       << "changes.csv:2: the device 00:1a:2b:3c:4d:5e is named by --mac or --label too";
        QTest::newRow("no mac column") << QByteArray("type,label,new_label\nx,Front,A\n") << QStringList()
                                       << "changes.csv:1: no \"mac\" column naming the devices";
        QTest::newRow("not UTF-8") << header + "x,y,00:1a:2b:3c:4d:5e,A,\nx,B\xfchne,00:1a:2b:3c:4d:5f,B,\n" << QStringList()
                                   << "changes.csv:3: not UTF-8 text";
        QTest::newRow("wrong number of fields") << header + "x,\"two\nlines\",00:1a:2b:3c:4d:5e,A,\nx,00:1a:2b:3c:4d:5f,B\n"
                                                << QStringList() << "changes.csv:4: 3 fields where the header line has 5";
        QTest::newRow("many problems") << manyUnknown << QStringList()
                                       << "changes.csv:21: no device with MAC 11:22:33:44:55:29 in the project\n"
                                          "\u2026 and 5 more problems\n";
    }

    // Exit 2, the line of each problem, and no OUTPUT.
    void badChangesChangeNothing()
    {
        QFETCH(QByteArray, changes);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        const QString changesPath = m_fixture.path("changes.csv");
        m_fixture.addFile("../changes.csv", changes);
        const QString output = m_fixture.path("refused.tgz");
        const ProcessRun r = runTool(QStringList{"edit", m_archive, "-o", output, "--changes", changesPath} + options);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.errText().contains(message.replace("changes.csv", changesPath)), r.err.constData());
        QVERIFY(r.err.count('\n') <= 21);
        QVERIFY(!QFileInfo::exists(output));
    }
};

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
