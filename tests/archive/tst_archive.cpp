#include "testutil.h"
#include "testfiles.h"
#include "projectarchive.h"
#include "projectworkspace.h"
#include "unpackbudget.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <limits>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {


// Lowers the file size limit so that writes fail as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit lowered = m_previous;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) = nullptr;
};

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(4711);
    for (char &c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

// Runs a system tool; returns its standard output, or a null array when it fails.
QByteArray run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray(),
               const QString &workingDirectory = QString())
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return QByteArray();
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAllStandardError();
        return QByteArray();
    }
    QByteArray output = process.readAllStandardOutput();
    if (output.isNull())
        output = QByteArray("");
    return output;
}

// Every entry below root (links not followed): kind, permissions, contents.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        lstat(native.constData(), &st);
        QString description;
        if (S_ISLNK(st.st_mode)) {
            char target[4096] = {};
            const ssize_t n = readlink(native.constData(), target, sizeof target - 1);
            description = QStringLiteral("link ") + QFile::decodeName(QByteArray(target, int(std::max<ssize_t>(n, 0))));
        } else if (S_ISDIR(st.st_mode)) {
            description = QStringLiteral("dir %1").arg(st.st_mode & 0777, 0, 8);
        } else if (S_ISREG(st.st_mode)) {
            description = QStringLiteral("file %1 %2")
                              .arg(st.st_mode & 0777, 0, 8)
                              .arg(QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex()));
        } else {
            description = QStringLiteral("other");
        }
        result.insert(QDir(root).relativeFilePath(path), description);
    }
    return result;
}

QStringList filesBelow(const QString &root)
{
    QStringList files;
    const auto all = snapshot(root);
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        if (!it.value().startsWith(QLatin1String("dir")))
            files.append(it.key());
    }
    return files;
}

// ---- tar bytes written by hand, for archives no honest tool makes

QByteArray octal(qint64 value, int width)
{
    return QByteArray::number(value, 8).rightJustified(width - 1, '0') + '\0';
}

QByteArray tarHeader(const QByteArray &name, char type, qint64 size = 0, const QByteArray &link = QByteArray(),
                     int checksumError = 0)
{
    QByteArray h(512, '\0');
    const auto put = [&h](int offset, const QByteArray &value) { std::memcpy(h.data() + offset, value.constData(), size_t(value.size())); };
    put(0, name.left(100));
    put(100, octal(type == '5' ? 0755 : 0644, 8));
    put(108, octal(0, 8));
    put(116, octal(0, 8));
    put(124, octal(size, 12));
    put(136, octal(1600000000, 12));
    put(148, "        ");
    h[156] = type;
    put(157, link.left(100));
    put(257, QByteArray("ustar\0" "00", 8));
    put(329, octal(type == '3' ? 1 : 0, 8));
    put(337, octal(type == '3' ? 3 : 0, 8));
    unsigned sum = 0;
    for (char c : h)
        sum += static_cast<unsigned char>(c);
    put(148, octal(sum + unsigned(checksumError), 7) + ' ');
    return h;
}

QByteArray tarFile(const QByteArray &name, const QByteArray &data)
{
    QByteArray block = tarHeader(name, '0', data.size()) + data;
    return block + QByteArray((512 - block.size() % 512) % 512, '\0');
}

QByteArray tarEnd()
{
    return QByteArray(1024, '\0');
}

// Inserts an original name into the header of a gzip file that has none.
QByteArray withOriginalName(QByteArray gzip, const QByteArray &name)
{
    gzip[3] = char(gzip[3] | 0x08);
    return gzip.insert(10, name + '\0');
}

struct TarHeaderInfo
{
    int offset = 0;
    char type = 0;
    QByteArray name;
    QByteArray prefix;
};

QList<TarHeaderInfo> tarHeaders(const QByteArray &tar)
{
    QList<TarHeaderInfo> headers;
    for (int offset = 0; offset + 512 <= tar.size();) {
        const char *h = tar.constData() + offset;
        if (h[0] == '\0')
            break;
        headers.append({offset, h[156], QByteArray(h, int(strnlen(h, 100))), QByteArray(h + 345, int(strnlen(h + 345, 155)))});
        const qint64 size = QByteArray(h + 124, 11).toLongLong(nullptr, 8);
        offset += 512 + int((size + 511) / 512 * 512);
    }
    return headers;
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_sandbox;
    QString m_tmp;     // what QDir::tempPath() gives during the tests
    QString m_outside; // a directory no extraction may touch
    QByteArray m_savedTmpDir;

    // A fresh directory for one test's inputs, outside the temporary directory.
    QString fixtureDir()
    {
        static int counter = 0;
        const QString path = m_sandbox.path() + QStringLiteral("/fixtures/%1").arg(++counter);
        QDir().mkpath(path);
        return path;
    }

    QStringList appTempDirs() const
    {
        return QDir(m_tmp).entryList({QCoreApplication::applicationName() + "-*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
    }

    // Removes what a successful extraction returned, after checking where it is.
    void dispose(const QString &dir)
    {
        QVERIFY(dir.startsWith(m_tmp + "/" + QCoreApplication::applicationName() + "-"));
        QVERIFY(QDir(dir).removeRecursively());
    }

    QString systemTar(const QString &sourceDir, const QStringList &members, const QString &tarPath)
    {
        QStringList args{"--sort=name", "-C", sourceDir, "-cf", tarPath};
        return run("tar", args + members).isNull() ? QString() : tarPath;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("tando-archive-test");
        QVERIFY(m_sandbox.isValid());
        // Escapes one or two levels up from an extraction still land in the sandbox.
        m_tmp = m_sandbox.path() + "/up1/up2/tmp";
        m_outside = m_sandbox.path() + "/outside";
        QVERIFY(QDir().mkpath(m_tmp));
        QVERIFY(writeFile(m_outside + "/target.txt", "keep me"));
        m_savedTmpDir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp));
        QCOMPARE(QDir::tempPath(), m_tmp);
        QVERIFY2(!run("tar", {"--version"}).isNull() && !run("gzip", {"--version"}).isNull(), "needs tar and gzip");
    }

    void cleanupTestCase()
    {
        qputenv("TMPDIR", m_savedTmpDir);
    }

    // ---------------------------------------------------------------- refusals

    void badInputLeavesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");

        const QByteArray ok = tarFile("ok.txt", "fine");
        const QByteArray outside = QFile::encodeName(m_outside);
        QTest::newRow("dot-dot") << ok + tarFile("../escaped.txt", "x") + tarEnd() << "\"..\"";
        QTest::newRow("dot-dot inside") << ok + tarFile("a/../../escaped.txt", "x") + tarEnd() << "\"..\"";
        QTest::newRow("absolute") << ok + tarFile(outside + "/abs.txt", "x") + tarEnd() << "absolute";
        QTest::newRow("symlink to /etc") << ok + tarHeader("etc", '2', 0, "/etc") + tarEnd() << "absolute";
        QTest::newRow("write through absolute symlink")
            << ok + tarHeader("s", '2', 0, outside) + tarFile("s/through.txt", "x") + tarEnd() << "absolute";
        QTest::newRow("symlink ../../etc") << ok + tarHeader("sub/", '5') + tarHeader("sub/up", '2', 0, "../../etc") + tarEnd()
                                           << "leaves";
        QTest::newRow("symlink a/../../x") << ok + tarHeader("l", '2', 0, "a/../../x") + tarEnd() << "leaves";
        QTest::newRow("symlink s/.. where s is .")
            << ok + tarHeader("s", '2', 0, ".") + tarHeader("l", '2', 0, "s/..") + tarEnd() << "climbs";
        QTest::newRow("write through inner symlink")
            << ok + tarHeader("sub/", '5') + tarHeader("s", '2', 0, "sub") + tarFile("s/through.txt", "x") + tarEnd()
            << "symlink";
        QTest::newRow("hardlink to ../x") << ok + tarHeader("h", '1', 0, "../escaped.txt") + tarEnd() << "\"..\"";
        QTest::newRow("hardlink absolute") << ok + tarHeader("h", '1', 0, outside + "/target.txt") + tarEnd() << "absolute";
        QTest::newRow("character device") << ok + tarHeader("null", '3') + tarEnd() << "character device";
        QTest::newRow("block device") << ok + tarHeader("disk", '4') + tarEnd() << "block device";
        QTest::newRow("FIFO") << ok + tarHeader("pipe", '6') + tarEnd() << "FIFO";
        QTest::newRow("bad checksum first") << tarHeader("a.txt", '0', 0, {}, 1) + tarEnd() << "Unrecognized";
        QTest::newRow("bad checksum later") << ok + tarHeader("b.txt", '0', 0, {}, 1) + tarEnd() << "Damaged";
        QTest::newRow("truncated data") << ok + tarHeader("big.bin", '0', 4000) + QByteArray(700, 'x') << "Truncated";
        QTest::newRow("text file") << QByteArray("just some text\n").repeated(50) << "Unrecognized";
        QTest::newRow("empty file") << QByteArray() << "empty file";

        const QByteArray tar = ok + tarEnd();
        const QByteArray gzip = run("gzip", {"-n", "-c"}, tar);
        QTest::newRow("corrupt gzip data") << gzip.left(10) + QByteArray(200, '\x55') << "";
        QTest::newRow("truncated gzip") << gzip.left(gzip.size() / 2) << "unexpected end";
        QByteArray badCrc = gzip;
        badCrc[badCrc.size() - 8] = char(badCrc[badCrc.size() - 8] ^ 0xff);
        QTest::newRow("gzip with wrong CRC") << badCrc << "incorrect data";
        QTest::newRow("gzip with trailing garbage") << gzip + QByteArray(4, '\0') + "junk" << "trailing garbage";
        QTest::newRow("gzip named ..") << withOriginalName(gzip, "..") << "unusable original name";
        QTest::newRow("gzip named dir/") << withOriginalName(gzip, "dir/") << "unusable original name";
    }

    void badInputLeavesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString archive = fixtureDir() + "/input.tgz";
        QVERIFY(writeFile(archive, bytes));
        const auto before = snapshot(m_sandbox.path());
        const QStringList tempBefore = appTempDirs();

        LogCapture log("tando.archive");
        QCOMPARE(Archive::extractArchive(archive), QString());

        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().contains(archive), qPrintable(log.lines().first()));
        QVERIFY2(log.lines().first().contains(reason), qPrintable(log.lines().first()));
        QCOMPARE(snapshot(m_sandbox.path()), before);
        QCOMPARE(appTempDirs(), tempBefore);
    }

    // The unpacking limits, set small: a tar entry is refused by the size in
    // its header before anything of it is written, the gzip layer as soon as
    // its output passes the limit.
    void unpackLimits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("limit"); // bytes, entries or reserve
        QTest::addColumn<QString>("reason");

        QByteArray five;
        for (int i = 0; i < 5; ++i)
            five += tarFile("f" + QByteArray::number(i), "x");
        QTest::newRow("more entries than allowed") << five + tarEnd() << "entries" << "the archive has more than 3 entries";
        QTest::newRow("tar entry larger than allowed") << tarFile("big.bin", QByteArray(20000, 'b')) + tarEnd() << "bytes"
                                                       << "big.bin: unpacked, the archive would be larger than the limit of 10.00 KiB";
        QTest::newRow("gzip output larger than allowed") << run("gzip", {"-n", "-c"}, randomBytes(50000)) << "bytes"
                                                         << "unpacked, the archive would be larger than the limit of 10.00 KiB";
        QTest::newRow("no free space left by the reserve") << tarFile("a.txt", "a") + tarEnd() << "reserve"
                                                           << "a.txt: unpacked, the archive would not fit into the temporary directory";
    }

    void unpackLimits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, limit);
        QFETCH(QString, reason);
        const QString archive = fixtureDir() + "/input.tgz";
        QVERIFY(writeFile(archive, bytes));
        const auto before = snapshot(m_sandbox.path());
        const QStringList tempBefore = appTempDirs();

        const Archive::UnpackLimits previous = Archive::unpackLimits();
        Archive::UnpackLimits limits = previous;
        if (limit == "entries")
            limits.maxEntries = 3;
        else if (limit == "bytes")
            limits.maxBytes = 10 * 1024;
        else
            limits.reserveBytes = std::numeric_limits<quint64>::max();
        Archive::setUnpackLimits(limits);
        LogCapture log("tando.archive");
        const QString out = Archive::extractArchive(archive);
        Archive::setUnpackLimits(previous);

        QCOMPARE(out, QString());
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().contains(reason), qPrintable(log.lines().first()));
        QCOMPARE(snapshot(m_sandbox.path()), before);
        QCOMPARE(appTempDirs(), tempBefore);

        // Within the default limits the same input unpacks.
        const QString unpacked = Archive::extractArchive(archive);
        QVERIFY(!unpacked.isEmpty());
        dispose(unpacked);
    }

    void unreadableInputLeavesNothing_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::newRow("missing file") << false;
        QTest::newRow("directory") << true;
    }

    void unreadableInputLeavesNothing()
    {
        QFETCH(bool, directory);
        const QString path = fixtureDir() + "/project.tgz";
        if (directory)
            QVERIFY(QDir().mkpath(path));
        const auto before = snapshot(m_sandbox.path());
        LogCapture log("tando.archive");
        QCOMPARE(Archive::extractArchive(path), QString());
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().contains(path));
        QCOMPARE(snapshot(m_sandbox.path()), before);
    }

    void noTemporaryDirectory()
    {
        const QString archive = fixtureDir() + "/project.tar";
        QVERIFY(writeFile(archive, tarFile("a.txt", "a") + tarEnd()));
        // A file where the temporary directory should be: even root cannot create one in it.
        qputenv("TMPDIR", QFile::encodeName(archive));
        LogCapture log("tando.archive");
        const QString result = Archive::extractArchive(archive);
        qputenv("TMPDIR", QFile::encodeName(m_tmp));
        QCOMPARE(result, QString());
        QCOMPARE(log.lines(), QStringList{"Couldnt create temorary file"});
    }

    void writeErrorFailsCleanly_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("unpack tar") << "tar";
        QTest::newRow("unpack gzip") << "gzip";
        QTest::newRow("packTar") << "packTar";
        QTest::newRow("packGzip") << "packGzip";
    }

    // A full disk, played by a file size limit of 1 MiB against 2 MiB of data.
    void writeErrorFailsCleanly()
    {
        QFETCH(QString, operation);
        const QString dir = fixtureDir();
        QVERIFY(writeFile(dir + "/tree/small.txt", "small"));
        QVERIFY(writeFile(dir + "/tree/large.bin", randomBytes(2 << 20)));
        const QString tar = systemTar(dir + "/tree", {"."}, dir + "/input.tar");
        QVERIFY(!tar.isEmpty());
        QVERIFY(writeFile(dir + "/input.tgz", run("gzip", {"-c", tar})));
        const QString output = dir + "/out/result";
        QVERIFY(QDir().mkpath(dir + "/out"));
        const auto before = snapshot(m_sandbox.path());

        LogCapture log("tando.archive");
        bool failed = false;
        {
            FileSizeLimit limit(1 << 20);
            if (operation == "tar")
                failed = Archive::extractArchive(tar).isEmpty();
            else if (operation == "gzip")
                failed = Archive::extractArchive(dir + "/input.tgz").isEmpty();
            else if (operation == "packTar")
                failed = !Archive::packTar(dir + "/tree", output);
            else
                failed = !Archive::packGzip(tar, output);
        }
        QVERIFY(failed);
        QCOMPARE(log.lines().size(), 1);
        QVERIFY2(log.lines().first().contains("File too large"), qPrintable(log.lines().first()));
        QCOMPARE(snapshot(m_sandbox.path()), before);
    }

    // ------------------------------------------------------------- extraction

    void tarTreeFromSystemTar()
    {
        const QString dir = fixtureDir();
        const QString tree = dir + "/tree";
        QVERIFY(writeFile(tree + "/top.txt", "top"));
        QVERIFY(writeFile(tree + "/.hidden", "hidden"));
        QVERIFY(writeFile(tree + "/sub/file.bin", randomBytes(200000)));
        QVERIFY(writeFile(tree + "/sub/run.sh", "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(tree + "/sub/run.sh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                                 | QFile::ReadGroup | QFile::ExeGroup));
        QVERIFY(QDir().mkpath(tree + "/empty"));
        QVERIFY(symlink("sub/file.bin", QFile::encodeName(tree + "/link").constData()) == 0);
        QVERIFY(symlink("../top.txt", QFile::encodeName(tree + "/sub/up").constData()) == 0);
        // Named .tgz, but a tar: the content decides.
        const QString tar = systemTar(tree, {"."}, dir + "/project.tgz");
        QVERIFY(!tar.isEmpty());

        LogCapture log("tando.archive");
        const QString out = Archive::extractArchive(tar);
        QVERIFY(!out.isEmpty());
        QCOMPARE(log.lines(), QStringList());
        QCOMPARE(snapshot(out), snapshot(tree));
        dispose(out);
    }

    // Unpacked entries are always the owner's to read, write and remove, and
    // never set-id.
    void unpackedModes()
    {
        const QString dir = fixtureDir();
        QVERIFY(writeFile(dir + "/tree/locked/file.txt", "x"));
        QVERIFY(writeFile(dir + "/tree/tool", "#!/bin/sh\n"));
        const auto setMode = [](const QString &path, mode_t mode) { return chmod(QFile::encodeName(path).constData(), mode) == 0; };
        QVERIFY(setMode(dir + "/tree/locked/file.txt", 0444));
        QVERIFY(setMode(dir + "/tree/tool", 04755));
        QVERIFY(setMode(dir + "/tree/locked", 0500));
        const QString tar = systemTar(dir + "/tree", {"locked", "tool"}, dir + "/modes.tar");
        QVERIFY(setMode(dir + "/tree/locked", 0700));
        QVERIFY(!tar.isEmpty());

        const QString out = Archive::extractArchive(tar);
        QVERIFY(!out.isEmpty());
        const auto modeOf = [&out](const char *name) {
            struct stat st {};
            lstat(QFile::encodeName(out + "/" + name).constData(), &st);
            return st.st_mode & 07777;
        };
        QCOMPARE(modeOf("locked"), mode_t(0700));
        QCOMPARE(modeOf("locked/file.txt"), mode_t(0644));
        QCOMPARE(modeOf("tool"), mode_t(0755));
        dispose(out);
    }

    void deviceNames_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("member");
        QTest::addColumn<QStringList>("expected");

        const QString tando = "active-project/devices/tando/";
        const QString ksb12 = "active-project/devices/ksb12/";
        const QString normal = "00_1a_2b_3c_4d_5e";
        QTest::newRow("colon") << QStringList{tando + "00:1a:2b:3c:4d:5e/prefs"} << "active-project"
                               << QStringList{tando + normal + "/prefs"};
        QTest::newRow("upper-case") << QStringList{ksb12 + "00:1A:2B:3C:4D:5E/prefs"} << "active-project"
                                    << QStringList{ksb12 + normal + "/prefs"};
        QTest::newRow("dash") << QStringList{tando + "00-1A-2b-3c-4d-5E/prefs"} << "active-project"
                              << QStringList{tando + normal + "/prefs"};
        QTest::newRow("one-digit group") << QStringList{tando + "0:1a:2b:3c:4d:5e/prefs"} << "active-project"
                                         << QStringList{tando + normal + "/prefs"};
        QTest::newRow("./ prefix") << QStringList{tando + "00:1A:2B:3C:4D:5E/prefs", ksb12 + "00:1a:2b:3c:4d:5f/prefs"}
                                   << "./active-project"
                                   << QStringList{ksb12 + "00_1a_2b_3c_4d_5f/prefs", tando + normal + "/prefs"};
        QTest::newRow("device as a plain file") << QStringList{ksb12 + "00:1A:2B:3C:4D:5E"} << "active-project"
                                                << QStringList{ksb12 + normal};
        QTest::newRow("names below keep colons") << QStringList{tando + "00:1a:2b:3c:4d:5e/profiles/a:b.xml"}
                                                 << "active-project"
                                                 << QStringList{tando + normal + "/profiles/a:b.xml"};
        QTest::newRow("other name in a family") << QStringList{tando + "odd:name/prefs"} << "active-project"
                                                << QStringList{tando + "odd_name/prefs"};
        QTest::newRow("colons elsewhere") << QStringList{"active-project/notes:1.txt", "active-project/devices/other/00:1a:2b:3c:4d:5e"}
                                          << "active-project"
                                          << QStringList{"active-project/devices/other/00:1a:2b:3c:4d:5e", "active-project/notes:1.txt"};
    }

    void deviceNames()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, member);
        QFETCH(QStringList, expected);
        const QString dir = fixtureDir();
        for (const QString &file : files)
            QVERIFY(writeFile(dir + "/tree/" + file, file.toUtf8()));
        const QString tar = systemTar(dir + "/tree", {member}, dir + "/project.tar");
        QVERIFY(!tar.isEmpty());

        const QString out = Archive::extractArchive(tar, Workspace::deviceDirectoryMapper());
        QVERIFY(!out.isEmpty());
        QCOMPARE(filesBelow(out), expected);
        dispose(out);
    }

    void hardlinkTargetsFollowDeviceNames()
    {
        const QString dir = fixtureDir();
        const QString device = dir + "/tree/active-project/devices/tando/00:1A:2B:3C:4D:5E";
        QVERIFY(writeFile(device + "/prefs", "<prefs/>"));
        QVERIFY(link(QFile::encodeName(device + "/prefs").constData(), QFile::encodeName(dir + "/tree/active-project/zz-copy").constData()) == 0);
        const QString tar = systemTar(dir + "/tree", {"active-project"}, dir + "/project.tar");
        QVERIFY(!tar.isEmpty());
        QVERIFY(run("tar", {"-tvf", tar}).contains("zz-copy link to active-project/devices/tando/00:1A"));

        const QString out = Archive::extractArchive(tar, Workspace::deviceDirectoryMapper());
        QVERIFY(!out.isEmpty());
        struct stat prefs {}, copy {};
        QCOMPARE(stat(QFile::encodeName(out + "/active-project/devices/tando/00_1a_2b_3c_4d_5e/prefs").constData(), &prefs), 0);
        QCOMPARE(stat(QFile::encodeName(out + "/active-project/zz-copy").constData(), &copy), 0);
        QCOMPARE(copy.st_ino, prefs.st_ino);
        dispose(out);
    }

    void gzipLayer_data()
    {
        QTest::addColumn<QString>("source");    // file gzip reads; empty for standard input
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("member");

        QTest::newRow("original name") << "project.tar" << QStringList{"-N"} << "upload.tgz" << "project.tar";
        QTest::newRow("upper-case original name") << "SHOW.TAR" << QStringList{"-N"} << "show.tgz" << "SHOW.TAR";
        QTest::newRow("original name data") << "data" << QStringList{"-N"} << "x.tgz" << "data";
        QTest::newRow("no name, .tgz") << "project.tar" << QStringList{"-n"} << "Stage.tgz" << "Stage.tar";
        QTest::newRow("standard input, .tar.gz") << "" << QStringList() << "stage.tar.gz" << "stage.tar";
        QTest::newRow("standard input, .gz") << "" << QStringList() << "stage.gz" << "stage.tar";
        QTest::newRow("standard input, no extension") << "" << QStringList() << "stage" << "stage.tar";
        QTest::newRow("gzip named .tar") << "" << QStringList() << "plain.tar" << "plain.tar";
    }

    void gzipLayer()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, options);
        QFETCH(QString, archive);
        QFETCH(QString, member);
        const QString dir = fixtureDir();
        const QByteArray content = randomBytes(300000);
        QByteArray gzip;
        if (source.isEmpty()) {
            gzip = run("gzip", options + QStringList{"-c"}, content);
        } else {
            QVERIFY(writeFile(dir + "/" + source, content));
            gzip = run("gzip", options + QStringList{"-c", source}, QByteArray(), dir);
        }
        QVERIFY(!gzip.isEmpty());
        QVERIFY(writeFile(dir + "/in/" + archive, gzip));

        const QString out = Archive::extractArchive(dir + "/in/" + archive);
        QVERIFY(!out.isEmpty());
        QCOMPARE(filesBelow(out), QStringList{member});
        QVERIFY(readFile(out + "/" + member) == content);
        dispose(out);
    }

    void gzipOriginalNameStaysInside_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("member");
        QTest::newRow("parent") << QByteArray("../evil.tar") << "evil.tar";
        QTest::newRow("absolute") << QFile::encodeName(m_outside + "/evil.tar") << "evil.tar";
        QTest::newRow("nested") << QByteArray("a/b/c.tar") << "c.tar";
    }

    void gzipOriginalNameStaysInside()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, member);
        const QString archive = fixtureDir() + "/project.tgz";
        QVERIFY(writeFile(archive, withOriginalName(run("gzip", {"-n", "-c"}, "payload"), name)));
        const auto before = snapshot(m_sandbox.path());

        const QString out = Archive::extractArchive(archive);
        QVERIFY(!out.isEmpty());
        QCOMPARE(filesBelow(out), QStringList{member});
        QCOMPARE(readFile(out + "/" + member), QByteArray("payload"));
        dispose(out);
        QCOMPARE(snapshot(m_sandbox.path()), before);
    }

    void gzipMembersAreJoined()
    {
        const QString dir = fixtureDir();
        QVERIFY(writeFile(dir + "/first.tar", "first "));
        const QByteArray gzip = run("gzip", {"-N", "-c", "first.tar"}, {}, dir) + run("gzip", {"-n", "-c"}, "second");
        QVERIFY(writeFile(dir + "/joined.tgz", gzip));
        const QString out = Archive::extractArchive(dir + "/joined.tgz");
        QVERIFY(!out.isEmpty());
        QCOMPARE(readFile(out + "/first.tar"), QByteArray("first second"));
        dispose(out);
    }

    // ---------------------------------------------------------------- packing

    void roundTrip()
    {
        const QString dir = fixtureDir();
        const QString tree = dir + "/tree";
        const QString longName = QString(146, QLatin1Char('n')) + ".xml";
        QVERIFY(writeFile(tree + "/active-project/project.xml", "<project><name>P</name></project>"));
        QVERIFY(writeFile(tree + "/active-project/devices/tando/00_1a_2b_3c_4d_5e/firmware.bin", randomBytes(300000)));
        QVERIFY(writeFile(tree + "/active-project/" + longName, "long"));
        QVERIFY(writeFile(tree + "/" + QString(60, 'd') + "/" + QString(60, 'e') + "/deep.txt", "deep"));
        QVERIFY(writeFile(tree + "/.hidden", "hidden"));
        QVERIFY(writeFile(tree + QString::fromUtf8("/B\xc3\xbchne.txt"), "stage"));
        QVERIFY(QDir().mkpath(tree + "/empty"));
        QVERIFY(symlink("active-project/project.xml", QFile::encodeName(tree + "/link").constData()) == 0);
        QVERIFY(link(QFile::encodeName(tree + "/.hidden").constData(), QFile::encodeName(tree + "/hidden-twin").constData()) == 0);
        QCOMPARE(longName.size(), 150);

        QVERIFY(QDir().mkpath(dir + "/out"));
        LogCapture log("tando.archive");
        const bool packed = Archive::packTar(tree, dir + "/out/project.tar")
            && Archive::packGzip(dir + "/out/project.tar", dir + "/out/stored.tgz");
        QVERIFY2(packed, qPrintable(log.lines().join('\n')));
        QCOMPARE(log.lines(), QStringList());

        const QString gzipLayer = Archive::extractArchive(dir + "/out/stored.tgz");
        QVERIFY(!gzipLayer.isEmpty());
        QCOMPARE(filesBelow(gzipLayer), QStringList{"project.tar"});
        QVERIFY(readFile(gzipLayer + "/project.tar") == readFile(dir + "/out/project.tar"));
        const QString tarLayer = Archive::extractArchive(gzipLayer + "/project.tar");
        QVERIFY(!tarLayer.isEmpty());
        QCOMPARE(snapshot(tarLayer), snapshot(tree));
        struct stat one {}, two {};
        QCOMPARE(lstat(QFile::encodeName(tarLayer + "/.hidden").constData(), &one), 0);
        QCOMPARE(lstat(QFile::encodeName(tarLayer + "/hidden-twin").constData(), &two), 0);
        QCOMPARE(one.st_ino, two.st_ino);
        dispose(gzipLayer);
        dispose(tarLayer);

        // The system's tools accept what we wrote.
        QVERIFY(!run("gzip", {"-t", dir + "/out/stored.tgz"}).isNull());
        QVERIFY(QDir().mkpath(dir + "/system"));
        QVERIFY(!run("tar", {"-xzf", dir + "/out/stored.tgz", "-C", dir + "/system"}).isNull());
        QCOMPARE(snapshot(dir + "/system"), snapshot(tree));
    }

    void packedOrderAndNames()
    {
        const QString dir = fixtureDir();
        const QString tree = dir + "/tree";
        for (const char *file : {"b", "a/z", "A", ".h", "a.txt"})
            QVERIFY(writeFile(tree + "/" + file, file));
        QVERIFY(QDir().mkpath(tree + "/e"));
        QVERIFY(Archive::packTar(tree, dir + "/t.tar"));
        const QByteArray listing = run("tar", {"-tf", dir + "/t.tar"});
        QCOMPARE(QString::fromUtf8(listing).split('\n', Qt::SkipEmptyParts),
                 QStringList({".h", "A", "a/", "a/z", "a.txt", "b", "e/"}));
    }

    // What our headers hold: a test for the tar patching to rely on.
    void headerLayout()
    {
        const QString dir = fixtureDir();
        const QString d60(60, QLatin1Char('d'));
        const QString e60(60, QLatin1Char('e'));
        const QString n150(150, QLatin1Char('n'));
        QVERIFY(writeFile(dir + "/tree/" + d60 + "/" + e60 + "/f.txt", "hello"));
        QVERIFY(writeFile(dir + "/tree/" + n150, "x"));
        QVERIFY(Archive::packTar(dir + "/tree", dir + "/t.tar"));
        const QByteArray tar = readFile(dir + "/t.tar");
        QCOMPARE(tar.size() % 512, 0);

        // Every header: ustar magic; size as eleven octal digits ended by a
        // NUL (the layout the devices read); checksum as octal digits without
        // leading zeros followed by NULs, matching the header.
        const QList<TarHeaderInfo> headers = tarHeaders(tar);
        QCOMPARE(headers.size(), 5);
        for (const TarHeaderInfo &header : headers) {
            const QByteArray h = tar.mid(header.offset, 512);
            QCOMPARE(h.mid(257, 8), QByteArray("ustar\0" "00", 8));
            QVERIFY(QRegularExpression("\\A[0-7]{11}\\z").match(QString::fromLatin1(h.mid(124, 11))).hasMatch());
            QCOMPARE(h.at(124 + 11), '\0');
            const QByteArray checksum = h.mid(148, 8);
            QVERIFY(QRegularExpression("\\A[1-7][0-7]*\\z").match(QString::fromLatin1(checksum.constData())).hasMatch());
            QCOMPARE(checksum.mid(qstrlen(checksum.constData())), QByteArray(8 - int(qstrlen(checksum.constData())), '\0'));
            QByteArray blank = h;
            std::memset(blank.data() + 148, ' ', 8);
            unsigned sum = 0;
            for (char c : blank)
                sum += static_cast<unsigned char>(c);
            QCOMPARE(QByteArray(h.constData() + 148).toUInt(nullptr, 8), sum);
        }
        QCOMPARE(tar.mid(headers.at(2).offset + 124, 12), QByteArray("00000000005\0", 12));
        QCOMPARE(tar.mid(headers.at(2).offset + 512, 6), QByteArray("hello\0", 6));

        // Long paths use the prefix field; only a name that cannot be split
        // gets a pax record, which holds it whole.
        QStringList seen;
        for (const TarHeaderInfo &header : headers)
            seen.append(QStringLiteral("%1 %2|%3").arg(header.type).arg(QString::fromLatin1(header.prefix), QString::fromLatin1(header.name)));
        QCOMPARE(seen.mid(0, 3), QStringList({"5 |" + d60 + "/", "5 " + d60 + "|" + e60 + "/", "0 " + d60 + "|" + e60 + "/f.txt"}));
        QVERIFY2(seen.at(3).startsWith("x |PaxHeader/"), qPrintable(seen.at(3)));
        QVERIFY2(QRegularExpression("\\A0 \\|n{1,100}\\z").match(seen.at(4)).hasMatch(), qPrintable(seen.at(4)));
        QVERIFY(tar.contains("path=" + n150.toLatin1() + "\n"));
    }

    void existingOutputIsReplaced()
    {
        const QString dir = fixtureDir();
        QVERIFY(writeFile(dir + "/tree/new.txt", "new"));
        QVERIFY(writeFile(dir + "/out.tar", QByteArray(100000, 'o')));
        QVERIFY(writeFile(dir + "/out.tgz", QByteArray(100000, 'g')));
        QVERIFY(Archive::packTar(dir + "/tree", dir + "/out.tar"));
        QCOMPARE(run("tar", {"-tf", dir + "/out.tar"}), QByteArray("new.txt\n"));
        QVERIFY(Archive::packGzip(dir + "/out.tar", dir + "/out.tgz"));
        QVERIFY(run("gzip", {"-dc", dir + "/out.tgz"}) == readFile(dir + "/out.tar"));
    }

    void packFailures_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("tar into missing directory") << "tar-missing-dir";
        QTest::newRow("tar below a file") << "tar-below-file";
        QTest::newRow("tar into read-only directory") << "tar-read-only";
        QTest::newRow("tar of missing tree") << "tar-missing-tree";
        QTest::newRow("tar of tree with a FIFO") << "tar-fifo";
        QTest::newRow("gzip into missing directory") << "gzip-missing-dir";
        QTest::newRow("gzip of missing tar") << "gzip-missing-tar";
        QTest::newRow("gzip onto its input") << "gzip-same";
    }

    void packFailures()
    {
        QFETCH(QString, what);
        const QString dir = fixtureDir();
        QVERIFY(writeFile(dir + "/tree/a.txt", "a"));
        QVERIFY(writeFile(dir + "/tree/b.bin", randomBytes(100000)));
        QVERIFY(writeFile(dir + "/plain", "file"));
        QVERIFY(writeFile(dir + "/in.tar", "tar bytes"));
        QVERIFY(writeFile(dir + "/old.tgz", "old"));
        QString output = dir + "/missing/out";
        if (what == "tar-below-file")
            output = dir + "/plain/out.tar";
        if (what == "tar-read-only") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only directories");
            QVERIFY(QDir().mkpath(dir + "/ro"));
            QVERIFY(QFile::setPermissions(dir + "/ro", QFile::ReadOwner | QFile::ExeOwner));
            output = dir + "/ro/out.tar";
        }
        if (what == "tar-missing-tree" || what == "tar-fifo")
            output = dir + "/out.tar";
        if (what == "tar-fifo")
            QCOMPARE(mkfifo(QFile::encodeName(dir + "/tree/zz-fifo").constData(), 0644), 0);
        if (what == "gzip-missing-tar")
            output = dir + "/old.tgz";

        LogCapture log("tando.archive");
        bool result = true;
        if (what == "tar-missing-tree")
            result = Archive::packTar(dir + "/no-tree", output);
        else if (what.startsWith("tar"))
            result = Archive::packTar(dir + "/tree", output);
        else if (what == "gzip-missing-tar")
            result = Archive::packGzip(dir + "/no.tar", output);
        else if (what == "gzip-same")
            result = Archive::packGzip(dir + "/in.tar", dir + "/in.tar");
        else
            result = Archive::packGzip(dir + "/in.tar", output);
        if (what == "tar-read-only")
            QFile::setPermissions(dir + "/ro", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QVERIFY(!result);
        QCOMPARE(log.lines().size(), 1);
        if (what == "gzip-same") {
            QCOMPARE(readFile(dir + "/in.tar"), QByteArray("tar bytes"));
        } else {
            QVERIFY2(log.lines().first().contains(output), qPrintable(log.lines().first()));
            QVERIFY(!QFileInfo::exists(output));
        }
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
