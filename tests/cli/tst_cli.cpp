// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

QJsonObject showJson(const QString &archive)
{
    return QJsonDocument::fromJson(runTool({"show", archive, "--json"}).out).object();
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    ProjectFixture m_fixture;
    QString m_archive;

private slots:
    void initTestCase()
    {
        ProjectFixture &f = m_fixture;
        f.addProjectXml("Main Hall", "Ann", "Spring show");
        f.addKsb12("00:1a:2b:00:00:01", QByteArray("Stage Right").append(5, '\0'));
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addTando("00:1a:2b:3c:4d:5f", "Back");
        f.addProfile("00:1a:2b:3c:4d:5f", "p.xml", {{"00:1a:2b:3c:4d:5e", "Front"}});
        m_archive = f.makeTgz("venue.tgz");
        QVERIFY(QDir().mkpath(f.path("adir")));
    }

    void showPrintsTheDeviceTable()
    {
        const ProcessRun r = runTool({"show", m_archive});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("Main Hall"));
        QVERIFY(r.out.contains("Spring show"));
        const QStringList lines = r.outText().split('\n');
        const int header = lines.indexOf(QRegularExpression("^#\\s+Type\\s+Label\\s+MAC$"));
        QVERIFY2(header >= 0, r.out.constData());
        QVERIFY(lines.at(header + 1).contains(QRegularExpression("^1\\s+KSB12\\s+Stage Right\\s+00:1a:2b:00:00:01$")));
        QVERIFY(lines.at(header + 3).contains(QRegularExpression("^3\\s+TANDO/QL3\\s+Back\\s+00:1a:2b:3c:4d:5f$")));
    }

    // A progress line only on a terminal, and not with --quiet; without a
    // terminal (above) nothing but the result.
    void progressOnlyOnATerminal()
    {
        const QString command = QStringLiteral("'%1' show '%2'").arg(TANDO_PROJECT_BIN, m_archive);
        const QByteArray onTerminal = outputOf("script", {"-qec", command, "/dev/null"});
        QVERIFY2(onTerminal.contains("Reading") && onTerminal.contains("\033[K"), onTerminal.constData());
        const QByteArray quiet = outputOf("script", {"-qec", command + " --quiet", "/dev/null"});
        QVERIFY2(quiet.contains("Main Hall") && !quiet.contains("Reading"), quiet.constData());
        QCOMPARE(runTool({"show", m_archive}).err, QByteArray());
    }

    void showJson()
    {
        const QJsonObject o = ::showJson(m_archive);
        QCOMPARE(o.value("name").toString(), QStringLiteral("Main Hall"));
        QCOMPARE(o.value("author").toString(), QStringLiteral("Ann"));
        const QJsonArray devices = o.value("devices").toArray();
        QCOMPARE(devices.size(), 3);
        QCOMPARE(devices.at(0).toObject(),
                 QJsonObject({{"type", "KSB12"}, {"label", "Stage Right"}, {"mac", "00:1a:2b:00:00:01"}}));
        QCOMPARE(devices.at(1).toObject().value("mac").toString(), QStringLiteral("00:1a:2b:3c:4d:5e"));
    }

    void editIsReadBack_data()
    {
        QTest::addColumn<QString>("macArg");
        QTest::addColumn<QString>("expectedMac");
        QTest::newRow("last three bytes") << "00-1A-2B-3C-4D-5E=3c:4d:ff" << "00:1a:2b:3c:4d:ff";
        QTest::newRow("whole MAC, other case") << "00_1a_2b_3c_4d_5e=00:1A:2B:3C:4D:AA" << "00:1a:2b:3c:4d:aa";
        QTest::newRow("twelve digits each side") << "001A2B3C4D5E=001a2b3c4dab" << "00:1a:2b:3c:4d:ab";
    }

    void editIsReadBack()
    {
        QFETCH(QString, macArg);
        QFETCH(QString, expectedMac);
        const QString out = m_fixture.path("edited.tgz");
        const ProcessRun r = runTool({"edit", m_archive, "-o", out, "--name", "New Hall", "--mac", macArg,
                                     "--label", "00:1a:2b:00:00:01=Amp 2"});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonObject o = ::showJson(out);
        QCOMPARE(o.value("name").toString(), QStringLiteral("New Hall"));
        QCOMPARE(o.value("author").toString(), QStringLiteral("Ann"));
        const QJsonArray devices = o.value("devices").toArray();
        QCOMPARE(devices.at(0).toObject().value("label").toString(), QStringLiteral("Amp 2"));
        QStringList frontMacs;
        for (const QJsonValue &d : devices) {
            if (d.toObject().value("label").toString() == QLatin1String("Front"))
                frontMacs << d.toObject().value("mac").toString();
        }
        QCOMPARE(frontMacs, QStringList{expectedMac});
        QFile::remove(out);
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        const QString a = QStringLiteral("ARCHIVE");
        QTest::newRow("duplicate MAC") << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e=3c:4d:5f"} << 1
                                       << "00:1a:2b:3c:4d:5f: This MAC address is already assigned";
        QTest::newRow("bad MAC") << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e=3c:4d:zz"} << 1
                                 << "00:1a:2b:3c:4d:zz: This is not a valid MAC";
        QTest::newRow("unloadable archive") << QStringList{"show", "/nonexistent/x.tgz"} << 1
                                            << "tando-project: cannot load /nonexistent/x.tgz: No such file or directory";
        QTest::newRow("unknown option") << QStringList{"show", a, "--frobnicate"} << 2 << "frobnicate";
        QTest::newRow("unknown command") << QStringList{"delete", a} << 2 << "unknown command";
        QTest::newRow("no output") << QStringList{"edit", a, "--name", "x"} << 2 << "-o OUTPUT";
        QTest::newRow("OLD names no device") << QStringList{"edit", a, "-o", "OUT", "--mac", "11:22:33:44:55:66=3c:4d:ff"}
                                             << 2 << "no device with MAC 11:22:33:44:55:66";
        QTest::newRow("label for no device") << QStringList{"edit", a, "-o", "OUT", "--label", "11:22:33:44:55:66=x"}
                                             << 2 << "no device";
        QTest::newRow("bad label characters") << QStringList{"edit", a, "-o", "OUT", "--label", "00:1a:2b:3c:4d:5e=Bad!"}
                                              << 2 << "Bad!";
        QTest::newRow("label too long") << QStringList{"edit", a, "-o", "OUT", "--label", "00:1a:2b:3c:4d:5e=ABCDEFGHIJKLMNOPQ"}
                                        << 2 << "at most 16";
        QTest::newRow("changed prefix") << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e=00:1a:2c:3c:4d:5e"}
                                        << 2 << "only the last three bytes";
        QTest::newRow("mac without NEW") << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e"} << 2 << "OLD=NEW";
        QTest::newRow("empty NEW") << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e="} << 2
                                   << "--mac 00:1a:2b:3c:4d:5e=: the new MAC after \"=\" is empty";
        QTest::newRow("one device, two MACs")
            << QStringList{"edit", a, "-o", "OUT", "--mac", "00:1a:2b:3c:4d:5e=3c:4d:01", "--mac", "00-1A-2B-3C-4D-5E=3c:4d:02"} << 2
            << "--mac names the device 00:1a:2b:3c:4d:5e more than once";
        QTest::newRow("one device, two labels")
            << QStringList{"edit", a, "-o", "OUT", "--label", "00:1a:2b:00:00:01=A", "--label", "00:1a:2b:00:00:01=B"} << 2
            << "--label names the device 00:1a:2b:00:00:01 more than once";
        QTest::newRow("diff of an archive that does not load") << QStringList{"diff", a, "/nonexistent/x.tgz"} << 2
                                                               << "cannot load /nonexistent/x.tgz: No such file";
        QTest::newRow("diff of one archive") << QStringList{"diff", a} << 2 << "exactly two archives";
        QTest::newRow("check of an archive that does not load") << QStringList{"check", "/nonexistent/x.tgz"} << 2
                                                                << "cannot load /nonexistent/x.tgz";
        QTest::newRow("check with an edit option") << QStringList{"check", a, "--name", "x"} << 2 << "--name belongs to edit";
        QTest::newRow("output is a directory") << QStringList{"edit", a, "-o", "DIR", "--name", "x"} << 1
                                               << "storing DIR failed: DIR is a directory";
    }

    // Each failure names its cause on one line, exits with its code and
    // leaves an existing OUTPUT as it was.
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QString out = m_fixture.path("existing.tgz");
        m_fixture.addFile("../existing.tgz", "old contents");
        args.replaceInStrings(QRegularExpression("^ARCHIVE$"), m_archive);
        args.replaceInStrings(QRegularExpression("^OUT$"), out);
        args.replaceInStrings(QRegularExpression("^DIR$"), m_fixture.path("adir"));
        message.replace("DIR", m_fixture.path("adir"));
        const ProcessRun r = runTool(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.errText().contains(message), r.err.constData());
        QCOMPARE(r.err.trimmed().count('\n'), 0);
        QCOMPARE(ProjectFixture::readFile(out), QByteArray("old contents"));
    }

    // Names, labels and MACs may hold any bytes: in the table, control
    // characters are shown as \xNN rather than sent to the terminal.
    void controlCharactersAreShownEscaped()
    {
        ProjectFixture f;
        f.addFile("active-project/project.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project><name>Hall&#9;B</name><author>Zo\xc3\xab</author>"
                  "<description></description></project>\n");
        f.addKsb12("00:1a:2b:00:00:01", QByteArray("Red\x1b[31mAmp\x07").append(4, '\0'));
        const QString archive = f.makeTgz("control.tgz");
        const ProcessRun shown = runTool({"show", archive});
        QCOMPARE(shown.code, 0);
        const QString table = shown.outText();
        QVERIFY2(table.contains("Name:        Hall\\x09B\n"), qPrintable(table));
        QVERIFY2(table.contains("Author:      Zo\u00eb\n"), qPrintable(table));
        QVERIFY2(table.contains(QRegularExpression("\\b1\\s+KSB12\\s+Red\\\\x1b\\[31mAmp\\\\x07\\s+00:1a:2b:00:00:01\n")),
                 qPrintable(table));
        QVERIFY(!table.contains(QChar(0x1b)) && !table.contains(QChar(7)) && !table.contains('\t'));
        const QJsonObject o = ::showJson(archive);
        QCOMPARE(o.value("devices").toArray().at(0).toObject().value("label").toString(), QStringLiteral("Red\x1b[31mAmp\x07"));
    }

    // Nothing is unpacked: a temporary directory that cannot be used at all
    // does not matter.
    void temporaryDirectoryIsNotNeeded()
    {
        const QString notADirectory = m_fixture.path("not-a-directory");
        m_fixture.addFile("../not-a-directory", "x");
        const QString out = m_fixture.path("no-tmp.tgz");
        const ProcessRun r = runTool({"edit", m_archive, "-o", out, "--name", "Elsewhere"},
                                     RunOptions::withEnvironment({"TMPDIR=" + notADirectory}));
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(::showJson(out).value("name").toString(), QStringLiteral("Elsewhere"));
    }

    void dryRunWritesNothing()
    {
        const QString out = m_fixture.path("dry.tgz");
        const ProcessRun ok = runTool({"edit", m_archive, "--dry-run", "-o", out, "--mac", "00:1a:2b:3c:4d:5e=3c:4d:ff"});
        QCOMPARE(ok.code, 0);
        QVERIFY(!QFileInfo::exists(out));
        const ProcessRun bad = runTool({"edit", m_archive, "--dry-run", "--mac", "00:1a:2b:3c:4d:5e=3c:4d:5f"});
        QCOMPARE(bad.code, 1);
        QVERIFY(bad.err.contains("This MAC address is already assigned"));
    }

    void helpAndVersion()
    {
        const ProcessRun help = runTool({"--help"});
        QCOMPARE(help.code, 0);
        for (const char *word : {"show ARCHIVE", "edit ARCHIVE", "diff OLD NEW", "check ARCHIVE", "--mac OLD=NEW",
                                 "--label MAC=LABEL", "--dry-run", "Example"})
            QVERIFY2(help.out.contains(word), word);
        const ProcessRun version = runTool({"--version"});
        QCOMPARE(version.code, 0);
        QVERIFY(version.outText().contains(QRegularExpression("revision [0-9a-f]{7}")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
