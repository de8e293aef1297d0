#include <QProcess>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitCode = 0;
        QString output;
    };

    static Run runProbe(const QString &document)
    {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::MergedChannels);
        probe.start(QStringLiteral(STARTUP_PROBE), {QStringLiteral(TEST_DATA_DIR "/") + document});
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
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
