// SPDX-License-Identifier: GPL-3.0-or-later
// The corpus of hostile and broken archives that scripts/make-hostile-archives.sh
// writes, opened through the command-line tool and through AppState: each is
// refused with its reason or loaded correctly, and nothing is written, neither
// to the temporary directory nor around it.

#include "testutil.h"
#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "processrun.h"
#include "projectentity.h"
#include "snapshot.h"
#include "tmpfsmount.h"
#include "unpackbudget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QtTest>

namespace {


// Sets the unpacking limits for one scope.
class Limits
{
public:
    explicit Limits(const Archive::UnpackLimits &limits) { Archive::setUnpackLimits(limits); }
    ~Limits() { Archive::setUnpackLimits(m_previous); }

private:
    Archive::UnpackLimits m_previous = Archive::unpackLimits();
};

// A tmpfs makes the many small files of the corpus cheap; any directory does.
QString sandboxBase()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

QStringList deviceMacs(const ProjectEntity &project)
{
    QStringList macs;
    for (const DeviceEntity *d : project.devices()->objectsOfType<DeviceEntity>())
        macs.append(d->oldMac());
    return macs;
}

constexpr qint64 MiB = 1 << 20;

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_sandbox{sandboxBase() + QStringLiteral("/tando-hostile-XXXXXX")};
    QString m_tmp;    // TMPDIR for everything under test; escapes of up to three levels land in the sandbox
    QString m_escape; // where absolute names and links aim
    QString m_corpus;
    QByteArray m_savedTmpDir;
    TreeSnapshot m_before; // the sandbox as each test found it

    QString archive(const QString &name) const { return m_corpus + '/' + name; }

    static ProcessRun tool(const QStringList &args, const QStringList &extraEnvironment = {})
    {
        RunOptions options;
        options.environment = QStringList{"TMPDIR=" + QDir::tempPath()} + extraEnvironment;
        options.timeoutMs = 240000;
        return runTool(args, options);
    }

    // Nothing in the temporary directory, nothing changed around it.
    void checkNothingLeft()
    {
        QCOMPARE(treeSnapshot(m_tmp), TreeSnapshot());
        QCOMPARE(treeSnapshot(m_sandbox.path()), m_before);
    }

    // The names in the archive a store writes; the archive is removed again.
    void storeAndList(AppState &state, QList<QByteArray> *names)
    {
        const QString out = m_sandbox.filePath("stored.tgz");
        QVERIFY(state.storeCurrentProject(out));
        *names = archiveNames(out);
        QVERIFY(QFile::remove(out));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sandbox.isValid());
        m_tmp = m_sandbox.filePath("up1/up2/tmp");
        m_escape = m_sandbox.filePath("outside");
        m_corpus = m_sandbox.filePath("corpus");
        QVERIFY(QDir().mkpath(m_tmp));
        QVERIFY(QDir().mkpath(m_escape));
        QVERIFY(QDir().mkpath(m_sandbox.filePath("scratch")));

        RunOptions scratch;
        scratch.environment = QStringList{"TMPDIR=" + m_sandbox.filePath("scratch")};
        scratch.timeoutMs = 240000;
        const ProcessRun script = runProcess("bash", {HOSTILE_SCRIPT, m_corpus, m_escape}, scratch);
        QVERIFY2(script.code == 0, script.err.constData());
        QVERIFY(QDir().rmdir(m_sandbox.filePath("scratch")));

        m_savedTmpDir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp));
        QCOMPARE(QDir::tempPath(), m_tmp);
    }

    void cleanupTestCase() { qputenv("TMPDIR", m_savedTmpDir); }

    void init() { m_before = treeSnapshot(m_sandbox.path()); }

    void corpus_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");  // empty: loads
        QTest::addColumn<int>("devices");     // when it loads
        QTest::addColumn<qint64>("maxBytes"); // a configured cap on the file data; 0: the default

        const QString escape = m_sandbox.filePath("outside");
        QTest::newRow("name with ..") << "dotdot.tar" << "active-project/../../escaped.txt: path contains \"..\"" << 0 << qint64(0);
        QTest::newRow("name with .., gzipped") << "dotdot.tgz" << "path contains \"..\"" << 0 << qint64(0);
        QTest::newRow("absolute name") << "absolute.tar" << escape + "/absolute.txt: absolute path" << 0 << qint64(0);
        QTest::newRow("symlink to an absolute path")
            << "symlink-absolute.tar" << "active-project/out: symbolic link to the absolute path " + escape << 0 << qint64(0);
        QTest::newRow("symlink climbing out") << "symlink-climbing.tar"
                                              << "active-project/up: symbolic link to ../../.. leaves the unpacked tree" << 0 << qint64(0);
        QTest::newRow("file written through a symlink") << "symlink-through.tar"
                                                        << "active-project/inner/through.txt: lies below the symbolic link active-project/inner" << 0 << qint64(0);
        QTest::newRow("hard link climbing out") << "hardlink-climbing.tar"
                                                << "active-project/second: hard link target ../../first: path contains \"..\"" << 0 << qint64(0);
        QTest::newRow("hard link to an absolute path") << "hardlink-absolute.tar" << "hard link target " + escape + "/first: absolute path"
                                                       << 0 << qint64(0);
        QTest::newRow("two names, one leaving the tree")
            << "two-names.tar" << "the tar entry at offset 4096 has two names, active-project/../../escaped.txt and "
                                  "active-project/harmless.txt" << 0 << qint64(0);
        QTest::newRow("character device") << "chardev.tar" << "active-project/null: character device" << 0 << qint64(0);
        QTest::newRow("block device") << "blockdev.tar" << "active-project/disk: block device" << 0 << qint64(0);
        QTest::newRow("FIFO") << "fifo.tar" << "active-project/pipe: FIFO" << 0 << qint64(0);
        QTest::newRow("wrong checksum") << "bad-checksum.tar" << "Damaged tar archive" << 0 << qint64(0);
        QTest::newRow("base-256 size of 1 TiB") << "base256-terabyte.tar"
                                                << "active-project/huge.bin: unpacked, the archive would be larger than the limit of 16.00 GiB"
                                                << 0 << qint64(0);
        QTest::newRow("sparse file of 1 TiB") << "sparse-terabyte.tar"
                                              << "active-project/sparse.bin: unpacked, the archive would be larger than the limit of 16.00 GiB"
                                              << 0 << qint64(0);
        QTest::newRow("gzip bomb against a cap") << "bomb.tgz" << "unpacked, the archive would be larger than the limit of 64.00 MiB"
                                                 << 0 << 64 * MiB;
        QTest::newRow("path over PATH_MAX") << "path-too-long.tar" << "path too long" << 0 << qint64(0);
        QTest::newRow("garbage after the gzip member") << "trailing-garbage.tgz" << "trailing garbage after the gzip data" << 0 << qint64(0);
        QTest::newRow("garbage after zero padding") << "padded-garbage.tgz" << "trailing garbage after the gzip data" << 0 << qint64(0);
        QTest::newRow("gzip trailer not matching its data") << "bad-crc.tgz" << "the archive is damaged" << 0 << qint64(0);
        QTest::newRow("damaged deflate data") << "bad-deflate.tgz" << "the compressed data is damaged at byte 4111" << 0 << qint64(0);

        QTest::newRow("gzip padded with zeros") << "zero-padded.tgz" << "" << 1 << qint64(0);
        QTest::newRow("two gzip members") << "concatenated.tgz" << "" << 1 << qint64(0);
        QTest::newRow("base-256 size") << "base256-size.tar" << "" << 1 << qint64(0);
        QTest::newRow("names not valid UTF-8") << "invalid-utf8.tar" << "" << 1 << qint64(0);
        QTest::newRow("gzip member name not valid UTF-8") << "invalid-utf8-member.tgz" << "" << 1 << qint64(0);
        QTest::newRow("1000 nested directories") << "deep-nesting.tar" << "" << 1 << qint64(0);
        QTest::newRow("400 MiB project") << "large-sparse.tar" << "" << 0 << qint64(0);
        QTest::newRow("10 000 devices") << "10000-devices.tgz" << "" << 10000 << qint64(0);
        // The bomb itself holds 256 MiB: without a cap it loads.
        QTest::newRow("gzip bomb without a cap") << "bomb.tgz" << "" << 1 << qint64(0);
    }

    void throughCommandLine_data() { corpus_data(); }

    void throughCommandLine()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QFETCH(int, devices);
        QFETCH(qint64, maxBytes);

        const QStringList environment = maxBytes ? QStringList{QStringLiteral("TANDO_UNPACK_MAX_BYTES=%1").arg(maxBytes)}
                                                 : QStringList();
        const ProcessRun run = tool({"show", archive(file), "--json"}, environment);
        if (reason.isEmpty()) {
            QVERIFY2(run.code == 0, run.err.constData());
            const QJsonObject project = QJsonDocument::fromJson(run.out).object();
            QCOMPARE(project.value("name").toString(), QStringLiteral("Hostile"));
            QCOMPARE(project.value("devices").toArray().size(), devices);
        } else {
            QCOMPARE(run.code, 1);
            QVERIFY2(run.errText().startsWith("tando-project: cannot load " + archive(file) + ": "), run.err.constData());
            QVERIFY2(run.errText().count(archive(file)) == 1, run.err.constData());
            QVERIFY2(run.errText().contains(reason), run.err.constData());
            QCOMPARE(run.out, QByteArray());
        }
        checkNothingLeft();
    }

    void throughAppState_data() { corpus_data(); }

    void throughAppState()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QFETCH(int, devices);
        QFETCH(qint64, maxBytes);

        Archive::UnpackLimits limits = Archive::unpackLimits();
        if (maxBytes)
            limits.maxBytes = quint64(maxBytes);
        Limits scoped(limits);
        AppState state;
        LogCapture diagnostics;
        const bool loaded = state.loadProject(QUrl::fromLocalFile(archive(file)).toString());
        QCOMPARE(loaded, reason.isEmpty());
        QCOMPARE(state.project()->loaded(), loaded);
        if (loaded) {
            QCOMPARE(state.project()->name(), QStringLiteral("Hostile"));
            QCOMPARE(state.project()->devices()->count(), devices);
            checkNothingLeft(); // while it is loaded too
        } else {
            QVERIFY2(diagnostics.all().contains(reason), qPrintable(diagnostics.all()));
            QCOMPARE(state.project()->devices()->count(), 0);
        }
        state.unloadProject();
        checkNothingLeft();
    }

    // Names that are not valid UTF-8 cannot be devices (a MAC is ASCII), but
    // like every file the editor does not interpret they are stored byte for
    // byte, store after store.
    void invalidUtf8NamesAreCarriedThrough()
    {
        AppState state;
        QVERIFY(state.loadProject(archive("invalid-utf8.tar")));
        QCOMPARE(deviceMacs(*state.project()), QStringList{"00:1a:2b:3c:4d:5e"});
        const QByteArray device = "active-project/devices/tando/\xff\xfe/prefs";
        const QByteArray notes = "active-project/notes/B\xfchne.txt";
        for (int store = 1; store <= 2; ++store) {
            QList<QByteArray> listing;
            storeAndList(state, &listing);
            QVERIFY2(listing.contains(device), qPrintable(QString::number(store)));
            QVERIFY2(listing.contains(notes), qPrintable(QString::number(store)));
        }
        state.unloadProject();
        checkNothingLeft();
    }

    void deepNestingIsStored()
    {
        AppState state;
        QVERIFY(state.loadProject(archive("deep-nesting.tar")));
        QList<QByteArray> listing;
        storeAndList(state, &listing);
        QVERIFY(listing.contains("active-project/" + QByteArray("n/").repeated(1000) + "deep.txt"));
        state.unloadProject();
        checkNothingLeft();
    }

    // Nothing is unpacked: with a temporary directory of 1 MiB, the bomb
    // (256 MiB of data) loads, and stores to where there is room.
    void tinyTemporaryDirectory_data()
    {
        QTest::addColumn<QString>("via");
        QTest::newRow("tando-project show") << "show";
        QTest::newRow("tando-project edit") << "edit";
        QTest::newRow("AppState load and store") << "AppState";
    }

    void tinyTemporaryDirectory()
    {
        QFETCH(QString, via);
        TmpfsMount tiny(m_sandbox.filePath("tiny"), MiB);
        if (!tiny.isMounted())
            QSKIP(qPrintable("no tmpfs: " + tiny.reason()));
        const auto before = treeSnapshot(m_sandbox.path());
        const QString bomb = archive("bomb.tgz");
        const QString out = m_sandbox.filePath("stored.tgz");
        qputenv("TMPDIR", QFile::encodeName(tiny.path()));
        const auto restore = qScopeGuard([this, out] {
            qputenv("TMPDIR", QFile::encodeName(m_tmp));
            QFile::remove(out);
        });

        QString name;
        int devices = 0;
        if (via == "AppState") {
            AppState state;
            QVERIFY(state.loadProject(bomb));
            state.project()->setName("Stored");
            QVERIFY2(state.storeCurrentProject(out), qPrintable(state.lastError()));
            QVERIFY(state.loadProject(out));
            name = state.project()->name();
            devices = state.project()->devices()->count();
            state.unloadProject();
        } else {
            if (via == "edit") {
                const ProcessRun edited = tool({"edit", bomb, "-o", out, "--name", "Stored"});
                QVERIFY2(edited.code == 0, edited.err.constData());
            }
            const ProcessRun shown = tool({"show", via == "edit" ? out : bomb, "--json"});
            QVERIFY2(shown.code == 0, shown.err.constData());
            const QJsonObject project = QJsonDocument::fromJson(shown.out).object();
            name = project.value("name").toString();
            devices = project.value("devices").toArray().size();
        }
        QCOMPARE(name, via == "show" ? QStringLiteral("Hostile") : QStringLiteral("Stored"));
        QCOMPARE(devices, 1);
        QCOMPARE(treeSnapshot(tiny.path()), TreeSnapshot());
        QFile::remove(out);
        QCOMPARE(treeSnapshot(m_sandbox.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
