#include "projectfixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestStartup : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitCode = 0;
        QString output;
    };

    static Run runProbe(const QString &document, const QStringList &editorArgs = {}, const QString &workDir = {})
    {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::MergedChannels);
        if (!editorArgs.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TANDO_PROBE_REPORT"), QStringLiteral("1"));
            probe.setProcessEnvironment(env);
        }
        probe.setWorkingDirectory(workDir);
        const QString doc = document.startsWith("qrc:") ? document : QStringLiteral(TEST_DATA_DIR "/") + document;
        probe.start(QStringLiteral(STARTUP_PROBE), QStringList{doc} + editorArgs);
        if (!probe.waitForFinished(60000))
            probe.kill();
        return {probe.exitCode(), QString::fromLocal8Bit(probe.readAll())};
    }

private slots:
    void brokenDocumentExitsWithMinusOne()
    {
        const Run run = runProbe("broken.qml");
        // -1 reaches the parent as 255.
        QCOMPARE(run.exitCode, 255);
        QVERIFY2(run.output.contains("NoSuchType"), qPrintable(run.output));
    }

    void closingTheWindowExitsWithZeroAndIdentityIsSet()
    {
        const Run run = runProbe("identity.qml");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.contains("name=Tando Project Editor"), qPrintable(run.output));
        QVERIFY2(run.output.contains("version=Tando Project Editor"), qPrintable(run.output));
        QVERIFY2(run.output.contains("font=Arial/10"), qPrintable(run.output));
        QVERIFY2(run.output.contains("project=true/false"), qPrintable(run.output));
    }

    // `tando-project-editor show.tgz`, as the desktop entry starts it: the
    // window opens the archive, named relative to the working directory.
    void fileArgumentIsOpened()
    {
        ProjectFixture fixture;
        fixture.addProjectXml("Show", "Ann", "");
        fixture.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString tgz = fixture.makeTgz("show.tgz");
        const Run run = runProbe("qrc:/main.qml", {QFileInfo(tgz).fileName()}, QFileInfo(tgz).absolutePath());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.contains(QStringLiteral("title=show.tgz \u2014 Tando Project Editor")), qPrintable(run.output));
        QVERIFY2(run.output.contains("devices=1"), qPrintable(run.output));
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
        fixture.addProjectXml("Show", "Ann", "");
        fixture.addTando("00:1a:2b:3c:4d:5e", "Front");
        const QString tgz = fixture.makeTgz("show.tgz");
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TANDO_PROBE_REPORT"), QStringLiteral("stay"));
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(STARTUP_PROBE), {QStringLiteral("qrc:/main.qml"), tgz});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += probe.readAllStandardOutput()).contains("devices=1"), 20000);
        ::kill(pid_t(probe.processId()), signal);
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitCode(), 128 + signal);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
