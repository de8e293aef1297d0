// SPDX-License-Identifier: GPL-3.0-or-later
// What a store leaves on the disk: the new archive with the right
// permissions where it belongs, and nothing else, whether the tool succeeds,
// fails, is refused its target, or is stopped by a signal.

#include "processrun.h"
#include "projectfixture.h"
#include "snapshot.h"
#include "testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

// "<pid namespace>-<pid>-<start time>" of a process, as the tool names the owner of its files.
QString ownerTagOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const QString ns = QFile::symLinkTarget(QStringLiteral("/proc/%1/ns/pid").arg(pid)).section('[', 1).section(']', 0, 0);
    return ns + '-' + QString::number(pid) + '-' + QString::fromLatin1(fields.value(19));
}

QByteArray randomBytes(int size, quint32 seed, bool letters)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = letters ? char('a' + random.bounded(26)) : char(random.bounded(256));
    return bytes;
}

} // namespace

class TestCliCleanup : public QObject
{
    Q_OBJECT

private:
    ProjectFixture m_small;
    ProjectFixture m_big;
    QString m_archive;
    QString m_bigArchive;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/tando-cleanup-XXXXXX")};
    QString m_tmp; // the tool's TMPDIR, empty between tests
    QString m_out; // the folder of the targets, empty between tests

    // The tool run through sh, so that a test can set the umask or limits,
    // or pipe its output: "$T" is the tool, "$@" the arguments.
    ProcessRun shell(const QString &script, const QStringList &args = {})
    {
        RunOptions options;
        options.environment = QStringList{"TMPDIR=" + m_tmp, "T=" TANDO_PROJECT_BIN};
        options.workDir = m_out;
        return runProcess("bash", QStringList{"-c", script, "bash"} + args, options);
    }

    QString storedName(const QString &archive)
    {
        return QJsonDocument::fromJson(shell("\"$T\" show \"$1\" --json", {archive}).out).object().value("name").toString();
    }

    QString out(const QString &name) const { return m_out + '/' + name; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_tmp = m_work.filePath("tmp");
        m_out = m_work.filePath("out");
        m_small.addProjectXml("Main Hall", "Ann", "Spring show");
        m_small.addTando("00:1a:2b:3c:4d:5e", "Front");
        m_archive = m_small.makeTgz("venue.tgz");
        // Output larger than a pipe holds, and an archive far larger than any one of its files.
        m_big.addProjectXml("Big Hall", "Ann", QString::fromLatin1(randomBytes(300000, 1, true)));
        m_big.addTando("00:1a:2b:3c:4d:5e", "Front");
        for (int i = 0; i < 4; ++i)
            m_big.addFile(QStringLiteral("active-project/media/clip%1.bin").arg(i), randomBytes(400000, 2 + i, false));
        m_bigArchive = m_big.makeTgz("big.tgz");
    }

    void init()
    {
        QVERIFY(QDir().mkpath(m_tmp));
        QVERIFY(QDir().mkpath(m_out));
    }

    void cleanup()
    {
        QDir(m_tmp).removeRecursively();
        QDir(m_out).removeRecursively();
    }

    void permissions_data()
    {
        QTest::addColumn<QString>("umask");
        QTest::addColumn<int>("existingMode"); // -1: no target yet
        QTest::addColumn<int>("expectedMode");
        QTest::newRow("umask 022, new file") << "022" << -1 << 0644;
        QTest::newRow("umask 077, new file") << "077" << -1 << 0600;
        QTest::newRow("umask 022, private file stays private") << "022" << 0600 << 0600;
        QTest::newRow("umask 077, shared file stays shared") << "077" << 0664 << 0664;
    }

    // The stored archive has the mode a user expects and holds the edit.
    void permissions()
    {
        QFETCH(QString, umask);
        QFETCH(int, existingMode);
        QFETCH(int, expectedMode);
        const QString target = out("venue-new.tgz");
        if (existingMode >= 0) {
            QVERIFY(writeFile(target, "old"));
            QVERIFY(::chmod(QFile::encodeName(target).constData(), mode_t(existingMode)) == 0);
        }
        const ProcessRun r = shell("umask $1; exec \"$T\" edit \"$2\" -o venue-new.tgz --name 'New Hall'", {umask, m_archive});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(QString::number(modeOf(target), 8), QString::number(expectedMode, 8));
        QCOMPARE(storedName(target), QStringLiteral("New Hall"));
        QCOMPARE(entryNames(m_out), QStringList{"venue-new.tgz"});
        QCOMPARE(entryNames(m_tmp), QStringList());
    }

    void specialTargetsAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("directory") << "directory" << "storing target failed: target is a directory";
        QTest::newRow("FIFO") << "fifo" << "storing target failed: target is not a regular file";
        QTest::newRow("link to a FIFO") << "link" << "storing target failed: target is not a regular file";
    }

    // Refused before the archive is read or anything written; a FIFO is never opened
    // (that would block until a reader came).
    void specialTargetsAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        if (kind == "directory")
            QVERIFY(QDir().mkdir(out("target")));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(out("fifo")).constData(), 0644), 0);
        if (kind == "fifo")
            QVERIFY(QFile::rename(out("fifo"), out("target")));
        if (kind == "link")
            QVERIFY(QFile::link("fifo", out("target")));
        const QStringList before = entryNames(m_out);
        const ProcessRun r = shell("exec \"$T\" edit \"$1\" -o target --name x", {m_archive});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.errText().trimmed(), "tando-project: " + message);
        QCOMPARE(entryNames(m_out), before);
        QCOMPARE(entryNames(m_tmp), QStringList());
    }

    // The link stays; the file it names is replaced, keeping its mode.
    void symlinkTargetIsWrittenThrough()
    {
        QVERIFY(writeFile(out("real/venue.tgz"), "old"));
        QVERIFY(::chmod(QFile::encodeName(out("real/venue.tgz")).constData(), 0640) == 0);
        QVERIFY(QFile::link("real/venue.tgz", out("current.tgz")));
        const ProcessRun r = shell("exec \"$T\" edit \"$1\" -o current.tgz --name 'Linked Hall'", {m_archive});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(QFile::symLinkTarget(out("current.tgz")), out("real/venue.tgz"));
        QCOMPARE(storedName(out("real/venue.tgz")), QStringLiteral("Linked Hall"));
        QCOMPARE(modeOf(out("real/venue.tgz")), mode_t(0640));
        QCOMPARE(entryNames(m_out), (QStringList{"current.tgz", "real"}));
        QCOMPARE(entryNames(out("real")), QStringList{"venue.tgz"});
        QCOMPARE(entryNames(m_tmp), QStringList());
    }

    void signalsCleanUp_data()
    {
        QTest::addColumn<QString>("pauseAt");
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT while loading") << "load" << SIGINT;
        QTest::newRow("SIGHUP while loading") << "load" << SIGHUP;
        QTest::newRow("SIGTERM while storing") << "store" << SIGTERM;
        QTest::newRow("SIGINT while storing") << "store" << SIGINT;
    }

    // Signalled while it loads (having written nothing anywhere) or stores
    // (with the hidden file beside the target), the tool removes what it
    // wrote, leaves the target as it was and exits 128+N.
    void signalsCleanUp()
    {
        QFETCH(QString, pauseAt);
        QFETCH(int, signalNumber);
        QVERIFY(writeFile(out("target.tgz"), "old"));

        RunningProcess p(TANDO_PROJECT_BIN, {"edit", m_archive, "-o", out("target.tgz"), "--name", "x"},
                         RunOptions::withEnvironment({"TMPDIR=" + m_tmp, "TANDO_TEST_PAUSE_AT=" + pauseAt}));
        QVERIFY2(p.waitFor("paused at " + pauseAt.toUtf8(), QProcess::StandardError), p.seen().err.constData());
        QCOMPARE(entryNames(m_tmp), QStringList());
        QCOMPARE(entryNames(m_out).size(), pauseAt == "store" ? 2 : 1); // the target, and the hidden file

        QVERIFY(p.signal(signalNumber));
        const ProcessRun stopped = p.finish();
        QCOMPARE(stopped.code, 128 + signalNumber);
        QVERIFY2(stopped.err.contains("stopped by signal"), stopped.err.constData());
        QCOMPARE(entryNames(m_tmp), QStringList());
        QCOMPARE(entryNames(m_out), QStringList{"target.tgz"});
        QCOMPARE(ProjectFixture::readFile(out("target.tgz")), QByteArray("old"));
    }

    void writeErrorsFail_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("reader of the pipe gone") << "\"$T\" show \"$1\" --json | head -c1 >/dev/null; exit ${PIPESTATUS[0]}"
                                                 << "cannot write to standard output: Broken pipe";
        QTest::newRow("table to a full disk") << "exec \"$T\" show \"$1\" >/dev/full"
                                              << "cannot write to standard output: No space left on device";
        QTest::newRow("archive over the file size limit") << "ulimit -f 1000; exec \"$T\" edit \"$1\" -o big-new.tgz"
                                                          << "storing big-new.tgz failed: ";
    }

    // SIGPIPE and SIGXFSZ do not kill the tool: the failed write fails the
    // command, which cleans up like any failure.
    void writeErrorsFail()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        const ProcessRun r = shell(script, {m_bigArchive});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.errText().startsWith("tando-project: " + message), r.err.constData());
        QCOMPARE(entryNames(m_out), QStringList());
        QCOMPARE(entryNames(m_tmp), QStringList());
    }

    // A killed run's hidden files are removed by the next store to the same
    // target; a running one's, and files that only look alike, stay.
    void leftoversOfDeadRunsAreRemoved()
    {
        RunningProcess gone("sleep", {"60"});
        QVERIFY(gone.pid() > 0);
        const QString deadTag = ownerTagOf(gone.pid());
        QVERIFY(gone.signal(SIGKILL));
        QCOMPARE(gone.finish().code, -1);
        const QString liveTag = ownerTagOf(QCoreApplication::applicationPid());
        QVERIFY(!deadTag.isEmpty() && !liveTag.isEmpty());

        const QStringList hidden{".venue.tgz." + deadTag + ".AbC123.part", ".venue.tgz." + liveTag + ".AbC123.part",
                                 ".venue.tgz.AbC123.part", ".other.tgz." + deadTag + ".AbC123.part"};
        for (const QString &name : hidden)
            QVERIFY(writeFile(out(name), "partial"));

        const ProcessRun r = shell("exec \"$T\" edit \"$1\" -o venue.tgz", {m_archive});
        QVERIFY2(r.code == 0, r.err.constData());
        QStringList left = hidden.mid(1) << "venue.tgz";
        left.sort();
        QCOMPARE(entryNames(m_out), left);
    }
};

QTEST_GUILESS_MAIN(TestCliCleanup)
#include "tst_cli_cleanup.moc"
