// The one-pass load and the store through an overlay against the step-by-step
// roads they stand in for: same trees, same archives.

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "gzipstream.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"
#include "tarpatch.h"
#include "workspaceinternal.h"

#include <QDateTime>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Pairs = QList<QPair<QByteArray, QByteArray>>;

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.generate() & 0xff);
    return bytes;
}

QByteArray logText(int size)
{
    QByteArray text;
    for (int i = 0; text.size() < size; ++i)
        text += QByteArray("2026-01-05 12:00:") + QByteArray::number(i % 60) + " [INFO ] dsp: level changed ch="
                + QByteArray::number(i % 17) + " gain=-" + QByteArray::number(i % 23) + "dB\n";
    return text.left(size);
}

QByteArray ksb12Prefs(const QByteArray &label)
{
    return label + QByteArray(16 - label.size(), '\0') + QByteArray("settings after the label");
}

// Every entry below root: relative path → type, mode, modification time and
// contents or link target.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        QByteArray value = QByteArray::number(uint(st.st_mode), 8) + ' ' + QByteArray::number(qint64(st.st_mtime)) + ' ';
        if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
            value += "link:" + target.left(int(qMax<ssize_t>(n, 0)));
        }
        else if (S_ISREG(st.st_mode))
            value += ProjectFixture::readFile(path);
        tree.insert(QDir(root).relativeFilePath(path), value);
    }
    return tree;
}

struct TarEntry
{
    QByteArray header;
    QByteArray data;
};

quint64 octal(const char *field, int length)
{
    quint64 value = 0;
    for (int i = 0; i < length && field[i] >= '0' && field[i] <= '7'; ++i)
        value = value * 8 + quint64(field[i] - '0');
    return value;
}

// The entries up to the end-of-archive block, and everything from that block on.
QList<TarEntry> tarEntries(const QByteArray &tar, QByteArray *rest)
{
    QList<TarEntry> entries;
    int pos = 0;
    while (pos + 512 <= tar.size()) {
        const QByteArray header = tar.mid(pos, 512);
        if (header.count('\0') == 512)
            break;
        const int size = int(octal(header.constData() + 124, 12));
        entries.append({header, tar.mid(pos + 512, size)});
        pos += 512 + (size + 511) / 512 * 512;
    }
    *rest = tar.mid(pos);
    return entries;
}

QByteArray gunzip(const QString &path)
{
    return ProjectFixture::run("gzip", {"-dc", path});
}

// True when the file holds exactly one gzip member.
bool singleGzipMember(const QByteArray &file, QByteArray *content)
{
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(file.constData()));
    zs.avail_in = uInt(file.size());
    QByteArray out;
    char buffer[65536];
    int r = Z_OK;
    while (r == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef *>(buffer);
        zs.avail_out = sizeof buffer;
        r = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, int(sizeof buffer - zs.avail_out));
    }
    const bool whole = r == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    *content = out;
    return whole;
}

const QString tando = QStringLiteral("TANDO/QL3");
const QString ksb12 = QStringLiteral("KSB12");

} // namespace

class TestFastPaths : public QObject
{
    Q_OBJECT

private:
    // A project with what the archive layer has to get right: long names in
    // all three forms, a name outside ASCII, links, empty and block-sized
    // files, data that holds a device's path, files the store leaves alone.
    static void fillRich(ProjectFixture &f, const QString &variant)
    {
        f.addProjectXml("Main Hall", "Ann", "Spring show");
        f.addKsb12("00:1a:2b:00:00:01", ksb12Prefs("Stage Right"));
        f.addKsb12("00:1a:2b:00:00:02", ksb12Prefs("Stage Left"));
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addProfile("00:1a:2b:3c:4d:5e", "p1.xml",
                     {{"00-1A-2B-3C-4D-5F", "Back"}, {"00:1a:2b:00:00:01", "Stage Right"}, {"11:22:33:44:55:66", "x"}});
        f.addProfile("00:1a:2b:3c:4d:5e", QString(80, QLatin1Char('n')) + ".xml", {{"00:1a:2b:00:00:02", "Stage Left"}});
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/profiles/broken.xml", "<profile><mac>00:1a");
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/firmware.bin",
                  randomBytes(300000, 1) + "active-project/devices/tando/00_1a_2b_3c_4d_5e");
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/logs/system.log", logText(200000));
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5e/" + QString(3, QLatin1Char('d')) + "/"
                      + QString(120, QLatin1Char('l')) + "/" + QString(150, QLatin1Char('m')) + ".txt",
                  "deep and long");
        f.addFile(QString::fromUtf8("active-project/devices/tando/00:1a:2b:3c:4d:5e/B\xc3\xbchne.txt"), "umlaut");
        f.addTando("00:1a:2b:3c:4d:5f", "Back");
        f.addProfile("00:1a:2b:3c:4d:5f", "p2.xml", {{"00_1A_2B_3C_4D_5E", "Front"}, {"not a mac", "y"}});
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5f/empty", QByteArray());
        f.addFile("active-project/devices/tando/00:1a:2b:3c:4d:5f/block", QByteArray(512, 'b'));
        f.addFile("active-project/.hidden", "hidden");
        f.addFile("active-project/notes/readme.txt", "notes");
        QVERIFY(QFile::link("project.xml", f.root() + "/active-project/settings-link"));
        QCOMPARE(::link(QFile::encodeName(f.root() + "/active-project/notes/readme.txt").constData(),
                        QFile::encodeName(f.root() + "/active-project/notes/same.txt").constData()),
                 0);
        QCOMPARE(::chmod(QFile::encodeName(f.root() + "/active-project/notes/readme.txt").constData(), 0750), 0);
        if (variant == "duplicate") {
            f.addTando("00:1a:2b:00:00:01", "Twin");
            f.addProfile("00:1a:2b:00:00:01", "p.xml", {{"00:1a:2b:00:00:01", "Twin"}});
        } else if (variant == "symlinked prefs") {
            const QString dir = f.root() + "/active-project/devices/tando/00:1a:2b:3c:4d:5f/";
            QVERIFY(QFile::rename(dir + "prefs", dir + "prefs.real"));
            QVERIFY(QFile::link("prefs.real", dir + "prefs"));
        } else if (variant == "hard-linked prefs") {
            QCOMPARE(::link(QFile::encodeName(f.root() + "/active-project/devices/tando/00:1a:2b:3c:4d:5f/prefs").constData(),
                            QFile::encodeName(f.root() + "/active-project/prefs-copy").constData()),
                     0);
        }
        // An old time on every entry, so that each time a store sets shows.
        ProjectFixture::run("find", {f.root(), "-exec", "touch", "-h", "-d", "@1000000000", "{}", "+"});
    }

    static void applyEdits(ProjectEntity &project, const QString &edits)
    {
        if (edits.contains("settings")) {
            project.setName("New Name");
            project.setDescription(QString::fromUtf8("B\xc3\xbchne \xe2\x82\xac"));
        }
        if (edits.contains("labels")) {
            deviceByMac(project, tando, "00:1a:2b:3c:4d:5e")->setNewLabel("Front Row");
            deviceByMac(project, ksb12, "00:1a:2b:00:00:02")->setNewLabel("ABCDEFGHIJKLMNOPQRS");
        }
        if (edits.contains("macs")) {
            deviceByMac(project, tando, "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:ff");
            deviceByMac(project, ksb12, "00:1a:2b:00:00:01")->setNewMac("00:1A:2B:00:00:AA");
        }
        if (edits.contains("swap")) {
            deviceByMac(project, tando, "00:1a:2b:3c:4d:5e")->setNewMac("00:1a:2b:3c:4d:5f");
            deviceByMac(project, tando, "00:1a:2b:3c:4d:5f")->setNewMac("00:1a:2b:3c:4d:5e");
        }
        if (edits.contains("twin"))
            deviceByMac(project, tando, "00:1a:2b:00:00:01")->setNewLabel("Twin Two");
    }

private slots:
    void cleanup() { Workspace::Internal::setFastPaths(true); }

    // Both roads of loading leave the same two trees: the same entries, modes,
    // times and bytes, as separate copies.
    void loadsTheSameTrees()
    {
        ProjectFixture f;
        fillRich(f, QString());
        const QString archive = f.makeTgz("rich.tgz");

        ProjectEntity onePass;
        QVERIFY(Workspace::loadProject(onePass, archive));
        Workspace::Internal::setFastPaths(false);
        ProjectEntity layered;
        QVERIFY(Workspace::loadProject(layered, archive));

        const QMap<QString, QByteArray> work = snapshot(onePass.extractedPath());
        QVERIFY(work.size() > 20);
        QCOMPARE(work.keys(), snapshot(layered.extractedPath()).keys());
        for (const QString &key : work.keys()) {
            QVERIFY2(work.value(key) == snapshot(layered.extractedPath()).value(key), qPrintable(key));
            QVERIFY2(work.value(key) == snapshot(onePass.extractedBackupPath()).value(key), qPrintable(key));
            QVERIFY2(work.value(key) == snapshot(layered.extractedBackupPath()).value(key), qPrintable(key));
        }

        struct stat a {};
        struct stat b {};
        QCOMPARE(::stat(QFile::encodeName(onePass.projectFilePath()).constData(), &a), 0);
        QCOMPARE(::stat(QFile::encodeName(onePass.extractedBackupPath() + "/active-project/project.xml").constData(), &b), 0);
        QVERIFY(a.st_ino != b.st_ino); // copies, not links

        QStringList devices;
        for (const DeviceEntity *d : onePass.devices()->objectsOfType<DeviceEntity>())
            devices << d->oldMac() + '|' + d->oldLabel();
        QStringList layeredDevices;
        for (const DeviceEntity *d : layered.devices()->objectsOfType<DeviceEntity>())
            layeredDevices << d->oldMac() + '|' + d->oldLabel();
        QCOMPARE(devices, layeredDevices);
        Workspace::unloadProject(onePass);
        Workspace::unloadProject(layered);
    }

    void gzipLayerForms_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("loads");
        QTest::newRow("one member") << "one" << true;
        QTest::newRow("two members") << "two" << true;
        QTest::newRow("zero bytes after the member") << "padded" << true;
        QTest::newRow("every optional header field") << "fields" << true;
        QTest::newRow("header CRC wrong") << "badhcrc" << false;
        QTest::newRow("garbage after the padding") << "garbage" << false;
        QTest::newRow("trailer cut off") << "cut" << false;
        QTest::newRow("length in the trailer wrong") << "badlength" << false;
        QTest::newRow("member name not a tar") << "notar" << false;
    }

    // However the gzip layer is built, both roads of loading agree: the
    // same trees, or both refuse and leave nothing behind.
    void gzipLayerForms()
    {
        QFETCH(QString, form);
        QFETCH(bool, loads);
        ProjectFixture f;
        fillRich(f, QString());
        const QByteArray tar = ProjectFixture::readFile(f.makeTar("p.tar"));
        auto gzip = [&f](const QByteArray &bytes, const QString &name) {
            f.addFile("../" + name, bytes);
            return ProjectFixture::run("gzip", {"-N", "-c", f.path(name)});
        };
        QByteArray archive;
        if (form == "two") {
            archive = gzip(tar.left(70000), "p.tar") + gzip(tar.mid(70000), "second.tar");
        } else if (form == "padded") {
            archive = gzip(tar, "p.tar") + QByteArray(100, '\0');
        } else if (form == "garbage") {
            archive = gzip(tar, "p.tar") + QByteArray(10, '\0') + "junk";
        } else if (form == "cut") {
            archive = gzip(tar, "p.tar");
            archive.chop(5);
        } else if (form == "badlength") {
            archive = gzip(tar, "p.tar");
            archive[archive.size() - 1] = char(archive.at(archive.size() - 1) ^ 1);
        } else if (form == "notar") {
            archive = gzip(tar, "p.data");
        } else if (form == "fields" || form == "badhcrc") {
            const QByteArray member = gzip(tar, "p.tar");
            const int nameEnd = member.indexOf('\0', 10);
            QByteArray header = member.left(10);
            header[3] = char(0x1e); // extra field, name, comment, header CRC
            header += QByteArray("\x04\x00" "ab\x01\x02", 6) + "p.tar" + '\0' + "a comment" + '\0';
            const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(header.constData()), uInt(header.size())));
            header += char(crc & 0xff);
            header += char(((crc >> 8) & 0xff) ^ (form == "badhcrc" ? 1 : 0));
            archive = header + member.mid(nameEnd + 1);
        } else {
            archive = gzip(tar, "p.tar");
        }
        f.addFile("../layer.tgz", archive);
        const QString path = f.path("layer.tgz");
        const QStringList before = ownTemporaryDirs();

        ProjectEntity onePass;
        QCOMPARE(Workspace::loadProject(onePass, path).ok(), loads);
        Workspace::Internal::setFastPaths(false);
        ProjectEntity layered;
        QCOMPARE(Workspace::loadProject(layered, path).ok(), loads);
        if (loads) {
            QCOMPARE(snapshot(onePass.extractedPath()), snapshot(layered.extractedPath()));
            QCOMPARE(snapshot(onePass.extractedBackupPath()), snapshot(layered.extractedPath()));
            QCOMPARE(onePass.devices()->count(), layered.devices()->count());
        }
        Workspace::unloadProject(onePass);
        Workspace::unloadProject(layered);
        QCOMPARE(ownTemporaryDirs(), before);
    }

    void storesTheSameArchive_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<bool>("stepByStep"); // the overlay cannot stand in and steps aside

        QTest::newRow("nothing edited") << "" << "" << false;
        QTest::newRow("settings") << "" << "settings" << false;
        QTest::newRow("labels and MACs") << "" << "settings labels macs" << false;
        QTest::newRow("swapped MACs") << "" << "swap labels" << false;
        QTest::newRow("same old MAC twice") << "duplicate" << "twin macs" << false;
        QTest::newRow("prefs behind a symbolic link") << "symlinked prefs" << "labels macs" << true;
        QTest::newRow("prefs with two names") << "hard-linked prefs" << "labels macs" << true;
    }

    // The archive of a store through the overlay against the one of the store
    // step by step, each from a tree just loaded from the same archive: the
    // same entries in the same order with the same header bytes and data. The
    // times of entries that the store rewrote are the moments of writing, so
    // they only have to lie within the two stores.
    void storesTheSameArchive()
    {
        QFETCH(QString, variant);
        QFETCH(QString, edits);
        QFETCH(bool, stepByStep);
        ProjectFixture f;
        fillRich(f, variant);
        const QString archive = f.makeTgz("rich.tgz");
        ProjectEntity project;
        QVERIFY(Workspace::loadProject(project, archive));
        ProjectEntity reference;
        QVERIFY(Workspace::loadProject(reference, archive));
        applyEdits(project, edits);
        applyEdits(reference, edits);
        const QMap<QString, QByteArray> loaded = snapshot(project.extractedPath());

        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const QString fast = f.path("fast.tgz");
        if (stepByStep)
            QTest::ignoreMessage(QtDebugMsg, "Storing step by step");
        QVERIFY(Workspace::storeCurrentProject(project, fast));
        if (!stepByStep)
            QCOMPARE(snapshot(project.extractedPath()), loaded); // not even touched
        Workspace::Internal::setFastPaths(false);
        const QString plain = f.path("plain.tgz");
        QVERIFY(Workspace::storeCurrentProject(reference, plain));
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        QByteArray fastTar;
        QVERIFY(singleGzipMember(ProjectFixture::readFile(fast), &fastTar));
        QCOMPARE(fastTar, gunzip(fast));
        const QByteArray plainTar = gunzip(plain);
        QByteArray fastRest;
        QByteArray plainRest;
        const QList<TarEntry> fastEntries = tarEntries(fastTar, &fastRest);
        const QList<TarEntry> plainEntries = tarEntries(plainTar, &plainRest);
        QVERIFY(plainEntries.size() > 20);
        auto names = [](const QList<TarEntry> &entries) {
            QStringList list;
            for (const TarEntry &e : entries)
                list << QString::fromUtf8(e.header.left(100).constData()) + QLatin1Char(e.header.at(156));
            return list;
        };
        QCOMPARE(names(fastEntries), names(plainEntries));
        for (int i = 0; i < plainEntries.size(); ++i) {
            const QByteArray &a = fastEntries.at(i).header;
            const QByteArray &b = plainEntries.at(i).header;
            const QByteArray name = b.left(100).constData();
            QVERIFY2(a.left(136) == b.left(136) && a.mid(156) == b.mid(156), name.constData());
            QVERIFY2(fastEntries.at(i).data == plainEntries.at(i).data, name.constData());
            const qint64 fastTime = qint64(octal(a.constData() + 136, 12));
            const qint64 plainTime = qint64(octal(b.constData() + 136, 12));
            if (fastTime != plainTime) {
                QVERIFY2(fastTime >= before && fastTime <= after && plainTime >= before && plainTime <= after,
                         name.constData());
            } else {
                QVERIFY2(a.mid(148, 8) == b.mid(148, 8), name.constData());
            }
        }
        QCOMPARE(fastRest, plainRest);
        Workspace::unloadProject(project);
        Workspace::unloadProject(reference);
    }

    // The output of the parallel compression is one gzip member of the input,
    // however the input arrives, and about as small as zlib's at level 6.
    void parallelDeflateRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("piece");
        const int chunk = 1024 * 1024;
        QTest::newRow("empty") << QByteArray() << 1;
        QTest::newRow("one byte") << QByteArray("x") << 1;
        QTest::newRow("one chunk less one") << logText(chunk - 1) << 4096;
        QTest::newRow("one chunk") << logText(chunk) << 100000;
        QTest::newRow("one chunk and one byte") << logText(chunk + 1) << 7;
        QByteArray mixed;
        for (int i = 0; i < 12; ++i)
            mixed += i % 2 ? randomBytes(150000 + i * 1000, quint32(i)) : logText(170000 + i * 777);
        mixed += mixed.left(200000); // repeats far apart: only the same window finds them
        QTest::newRow("random and text, several chunks") << mixed << 65536;
    }

    void parallelDeflateRoundTrip()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, piece);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.gz");
        {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            GzipStream::ParallelDeflater deflater(fd, "member.tar", 1700000000u, 2);
            for (int pos = 0; pos < input.size(); pos += piece)
                QVERIFY(deflater.write(input.constData() + pos, qMin(piece, input.size() - pos)));
            QVERIFY(deflater.finish());
            ::close(fd);
        }
        const QByteArray file = ProjectFixture::readFile(path);
        QByteArray decoded;
        QVERIFY(singleGzipMember(file, &decoded));
        QCOMPARE(decoded, input);
        QCOMPARE(file.mid(10, 11), QByteArray("member.tar\0", 11)); // the member's name
        ProjectFixture::run("gzip", {"-t", path});

        uLongf bound = compressBound(uLong(input.size()));
        QByteArray reference(int(bound), Qt::Uninitialized);
        QCOMPARE(compress2(reinterpret_cast<Bytef *>(reference.data()), &bound,
                           reinterpret_cast<const Bytef *>(input.constData()), uLong(input.size()), 6),
                 Z_OK);
        // zlib's own format has 6 bytes of framing, gzip's 18 and the name.
        QVERIFY2(file.size() - 29 <= qint64(bound) * 103 / 100 + 8,
                 qPrintable(QStringLiteral("%1 against %2").arg(file.size()).arg(bound)));
    }

    // The stream patcher makes of a tar what patchTarNames makes of the file,
    // whatever pieces the tar comes in.
    void streamPatcherMatchesFilePatcher_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("piece");
        for (const char *format : {"ustar", "gnu", "pax"}) {
            for (int piece : {1, 511, 513, 10240}) {
                QTest::addRow("%s in pieces of %d", format, piece) << QString::fromLatin1(format) << piece;
            }
        }
    }

    void streamPatcherMatchesFilePatcher()
    {
        QFETCH(QString, format);
        QFETCH(int, piece);
        QTemporaryDir dir;
        const QString root = dir.filePath("tree");
        const QByteArray device = "active-project/devices/tando/00_1a_2b_3c_4d_5e";
        auto add = [&root](const QByteArray &name, const QByteArray &bytes) {
            QDir().mkpath(QFileInfo(root + "/" + name).absolutePath());
            QFile file(root + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        add(device + "/prefs", "prefs " + device);
        add(device + "/profiles/" + QByteArray(90, 'p'), "prefix");
        if (format != "ustar")
            add(device + "/" + QByteArray(120, 'x') + "/" + QByteArray(60, 'y'), QByteArray(1000, 'z'));
        QCOMPARE(::link(QFile::encodeName(root + "/" + device + "/prefs").constData(),
                        QFile::encodeName(root + "/" + device + "/prefs-link").constData()),
                 0);
        const QString tarPath = dir.filePath("t.tar");
        ProjectFixture::run("tar", {"--format=" + format, "--sort=name", "-cf", tarPath, "-C", root, "active-project"});
        const QByteArray original = ProjectFixture::readFile(tarPath);
        QVERIFY(original.size() > 2048);

        const Pairs pairs{{device, "active-project/devices/tando/00:1a:2b:3c:4d:5e"}};
        QVERIFY(TarPatch::patchTarNames(tarPath, pairs));
        const QByteArray expected = ProjectFixture::readFile(tarPath);
        QVERIFY(expected != original);

        QByteArray streamed;
        TarPatch::StreamPatcher patcher(pairs, [&streamed](const char *data, qint64 size) {
            streamed.append(data, int(size));
            return true;
        });
        for (int pos = 0; pos < original.size(); pos += piece)
            QVERIFY(patcher.write(original.constData() + pos, qMin(piece, original.size() - pos)));
        QVERIFY(patcher.finish());
        QCOMPARE(streamed, expected);
    }

    void streamPatcherRefusesWhatIsNoTar()
    {
        QByteArray junk(2048, 'j');
        TarPatch::StreamPatcher patcher({}, [](const char *, qint64) { return true; });
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Tar patching failed: no tar header at offset 0"));
        QVERIFY(!patcher.write(junk.constData(), junk.size()));
        QVERIFY(!patcher.finish());

        TarPatch::StreamPatcher cut({}, [](const char *, qint64) { return true; });
        QByteArray header(512, '\0');
        std::memcpy(header.data(), "file", 4);
        std::memcpy(header.data() + 124, "00000001000", 11);
        std::memcpy(header.data() + 257, "ustar\0" "00", 8);
        TarPatch::fixTarHeaderChecksum(reinterpret_cast<tar_ustarheader *>(header.data()));
        QVERIFY(cut.write(header.constData(), header.size()));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Tar patching failed: the tar stream ends inside an entry"));
        QVERIFY(!cut.finish());
    }
};

QTEST_GUILESS_MAIN(TestFastPaths)
#include "tst_fastpaths.moc"
