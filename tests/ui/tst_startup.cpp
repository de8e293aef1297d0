// SPDX-License-Identifier: GPL-3.0-or-later
#include "processrun.h"
#include "projectfixture.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestStartup : public QObject
{
    Q_OBJECT

private:
    // The probe's exit code and its output, both channels in one.
    static ProcessRun runProbe(const QString &document, const QStringList &editorArgs = {}, const QString &workDir = {})
    {
        RunOptions options;
        if (!editorArgs.isEmpty())
            options.environment = QStringList{"TANDO_PROBE_REPORT=1"};
        options.workDir = workDir;
        options.mergeChannels = true;
        const QString doc = document.startsWith("qrc:") ? document : QStringLiteral(TEST_DATA_DIR "/") + document;
        return runProcess(QStringLiteral(STARTUP_PROBE), QStringList{doc} + editorArgs, options);
    }

    static QString oneDeviceShow(ProjectFixture &fixture)
    {
        fixture.addProjectXml("Show", "Ann", "");
        fixture.addTando("00:1a:2b:3c:4d:5e", "Front");
        return fixture.makeTgz("show.tgz");
    }

private slots:
    void brokenDocumentExitsWithMinusOne()
    {
        const ProcessRun run = runProbe("broken.qml");
        // -1 reaches the parent as 255.
        QCOMPARE(run.code, 255);
        QVERIFY2(run.out.contains("NoSuchType"), run.out.constData());
    }

    void closingTheWindowExitsWithZeroAndIdentityIsSet()
    {
        const ProcessRun run = runProbe("identity.qml");
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains("name=Tando Project Editor"), run.out.constData());
        QVERIFY2(run.out.contains("version=Tando Project Editor"), run.out.constData());
        QVERIFY2(run.out.contains("font=Arial/10"), run.out.constData());
        QVERIFY2(run.out.contains("project=true/false"), run.out.constData());
    }

    // `tando-project-editor show.tgz`, as the desktop entry starts it: the
    // window opens the archive, named relative to the working directory.
    void fileArgumentIsOpened()
    {
        ProjectFixture fixture;
        const QString tgz = oneDeviceShow(fixture);
        const ProcessRun run = runProbe("qrc:/main.qml", {QFileInfo(tgz).fileName()}, QFileInfo(tgz).absolutePath());
        QCOMPARE(run.code, 0);
        const QString output = QString::fromLocal8Bit(run.out); // as the probe writes it
        QVERIFY2(output.contains(QStringLiteral("title=show.tgz \u2014 Tando Project Editor")), qPrintable(output));
        QVERIFY2(run.out.contains("devices=1"), run.out.constData());
    }

    // SIGINT or SIGTERM end the editor as closing its window does, with a
    // project loaded.
    void terminationSignalsEndTheEditor_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void terminationSignalsEndTheEditor()
    {
        QFETCH(int, signal);
        ProjectFixture fixture;
        const QString tgz = oneDeviceShow(fixture);
        RunningProcess probe(QStringLiteral(STARTUP_PROBE), {QStringLiteral("qrc:/main.qml"), tgz},
                             RunOptions::withEnvironment({"TANDO_PROBE_REPORT=stay"}));
        QVERIFY2(probe.waitFor("devices=1", QProcess::StandardOutput, 20000), probe.seen().out.constData());
        QVERIFY(probe.signal(signal));
        QCOMPARE(probe.finish().code, 128 + signal);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
