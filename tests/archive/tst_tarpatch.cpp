#include "testfiles.h"
#include "tarpatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QByteArray kTandoUs = "active-project/devices/tando/00_1a_2b_3c_4d_5e";
const QByteArray kTandoColon = "active-project/devices/tando/00:1a:2b:3c:4d:5e";
const QByteArray kKsbUs = "active-project/devices/ksb12/0a_0b_0c_0d_0e_0f";
const QByteArray kKsbColon = "active-project/devices/ksb12/0a:0b:0c:0d:0e:0f";

using Pairs = QList<QPair<QByteArray, QByteArray>>;

Pairs devicePairs()
{
    return {{kTandoUs, kTandoColon}, {kKsbUs, kKsbColon}};
}

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(30000) || !process.waitForFinished(120000))
        return result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray field(const char *data, int maxLength)
{
    const void *nul = std::memchr(data, 0, size_t(maxLength));
    return QByteArray(data, nul ? int(static_cast<const char *>(nul) - data) : maxLength);
}

// The chksum field as the checksum-fixing visitor writes it.
QByteArray canonicalChecksum(unsigned int sum)
{
    QByteArray digits = QByteArray::number(sum, 8);
    digits.append(QByteArray(8 - digits.size(), '\0'));
    return digits;
}

tar_ustarheader *asHeader(QByteArray &block, int offset = 0)
{
    return reinterpret_cast<tar_ustarheader *>(block.data() + offset);
}

const tar_ustarheader *asHeader(const QByteArray &block, int offset = 0)
{
    return reinterpret_cast<const tar_ustarheader *>(block.constData() + offset);
}

// A valid POSIX ustar header (checksum in the canonical form).
QByteArray makeHeader(const QByteArray &name, quint64 size, char type = '0', const QByteArray &prefix = QByteArray(),
                      const QByteArray &linkname = QByteArray())
{
    QByteArray block(512, '\0');
    tar_ustarheader *h = asHeader(block);
    std::memcpy(h->name, name.constData(), size_t(qMin(name.size(), 100)));
    std::memcpy(h->mode, "0000644", 8);
    std::memcpy(h->uid, "0000000", 8);
    std::memcpy(h->gid, "0000000", 8);
    const QByteArray sizeText = QByteArray::number(size, 8).rightJustified(11, '0');
    std::memcpy(h->size, sizeText.constData(), 11);
    std::memcpy(h->mtime, "14530543520", 11);
    h->typeflag = type;
    std::memcpy(h->linkname, linkname.constData(), size_t(qMin(linkname.size(), 100)));
    std::memcpy(h->magic, "ustar", 6);
    std::memcpy(h->version, "00", 2);
    std::memcpy(h->prefix, prefix.constData(), size_t(qMin(prefix.size(), 155)));
    TarPatch::fixTarHeaderChecksum(h);
    return block;
}

// Data padded to whole blocks.
QByteArray makeData(const QByteArray &data)
{
    QByteArray padded = data;
    padded.append(QByteArray(int((512 - data.size() % 512) % 512), '\0'));
    return padded;
}

QByteArray paxRecord(const QByteArray &key, const QByteArray &value)
{
    const QByteArray body = " " + key + "=" + value + "\n";
    int length = body.size() + 1;
    while (QByteArray::number(length).size() + body.size() != length)
        ++length;
    return QByteArray::number(length) + body;
}

QList<QByteArray> walkNames(const QByteArray &image)
{
    QList<QByteArray> names;
    TarPatch::walkTarHeaders(image, [&](tar_ustarheader *h) { names.append(field(h->name, 100)); });
    return names;
}

// Every header that the walk visits: a non-empty name has its checksum in the
// canonical form, an empty-named block is all zero bytes.
bool checksumsCanonical(const QByteArray &image, int *visited = nullptr)
{
    bool ok = true;
    int count = 0;
    TarPatch::walkTarHeaders(image, [&](tar_ustarheader *h) {
        ++count;
        if (h->name[0] == '\0') {
            ok = ok && QByteArray(reinterpret_cast<const char *>(h), 512) == QByteArray(512, '\0');
            return;
        }
        const QByteArray stored(h->chksum, 8);
        if (stored != canonicalChecksum(TarPatch::tarHeaderChecksum(h))) {
            qWarning() << "non-canonical checksum for" << field(h->name, 100) << stored.toHex();
            ok = false;
        }
    });
    if (visited)
        *visited = count;
    return ok;
}

// Offset of the first block whose name field is `name`, -1 when none.
int findHeader(const QByteArray &image, const QByteArray &name)
{
    for (int offset = 0; offset + 512 <= image.size(); offset += 512) {
        if (field(image.constData() + offset, 100) == name)
            return offset;
    }
    return -1;
}

QSet<QString> listing(const QString &tarPath)
{
    const Run r = run("tar", {"-tf", tarPath});
    QSet<QString> names;
    if (r.code != 0)
        return names;
    for (const QByteArray &line : r.out.split('\n')) {
        if (!line.isEmpty())
            names.insert(QString::fromUtf8(line));
    }
    return names;
}

// The system tar reads the archive without complaint and unpacks it.
bool systemTarAccepts(const QString &tarPath, const QString &extractTo)
{
    const Run list = run("tar", {"-tvf", tarPath});
    if (list.code != 0 || !list.err.isEmpty()) {
        qWarning() << "tar -tvf:" << list.code << list.err;
        return false;
    }
    QDir().mkpath(extractTo);
    const Run extract = run("tar", {"-xf", tarPath, "-C", extractTo});
    if (extract.code != 0 || !extract.err.isEmpty()) {
        qWarning() << "tar -xf:" << extract.code << extract.err;
        return false;
    }
    return true;
}

} // namespace

class TestTarPatch : public QObject
{
    Q_OBJECT

private slots:
    // A large file's data passes through the patching untouched (its memory
    // use is held by the benchmark's checks).
    void largeFileDataUntouched()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = tmp.path() + "/tree";
        const QString big = root + "/" + kTandoUs + "/firmware.bin";
        QVERIFY(writeFile(root + "/" + kTandoUs + "/prefs", "<prefs/>"));
        {
            QFile file(big);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray chunk(1024 * 1024, 'F');
            std::memcpy(chunk.data(), kTandoUs.constData(), size_t(kTandoUs.size()));
            for (int i = 0; i < 8; ++i)
                QCOMPARE(file.write(chunk), qint64(chunk.size()));
        }
        QVERIFY(writeFile(root + "/" + kKsbUs + "/prefs", "label"));
        const QString tarPath = tmp.path() + "/big.tar";
        QCOMPARE(run("tar", {"--format=ustar", "--sort=name", "-cf", tarPath, "-C", root, "active-project"}).code, 0);

        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));

        const QSet<QString> names = listing(tarPath);
        QVERIFY(names.contains(QString::fromLatin1(kTandoColon + "/firmware.bin")));
        QVERIFY(names.contains(QString::fromLatin1(kKsbColon + "/prefs")));
        const QString out = tmp.path() + "/out";
        QVERIFY(systemTarAccepts(tarPath, out));
        QFile extracted(out + "/" + kTandoColon + "/firmware.bin");
        QVERIFY(extracted.open(QIODevice::ReadOnly));
        QCOMPARE(extracted.size(), 8LL * 1024 * 1024);
        QCOMPARE(extracted.read(kTandoUs.size()), kTandoUs); // data untouched
    }

    void checksumCountsChksumBytesAsSpaces()
    {
        QByteArray block(512, '\0');
        QCOMPARE(TarPatch::tarHeaderChecksum(asHeader(block)), 8u * 32u);
        std::memcpy(asHeader(block)->chksum, "\xff\xff\xff\xff\xff\xff\xff\xff", 8);
        QCOMPARE(TarPatch::tarHeaderChecksum(asHeader(block)), 8u * 32u);
        block[0] = char(0xff); // counted unsigned
        block[511] = 'a';
        QCOMPARE(TarPatch::tarHeaderChecksum(asHeader(block)), 8u * 32u + 255u + 97u);
    }

    void checksumOf4660IsWrittenAs11064()
    {
        QByteArray block(512, '\0');
        tar_ustarheader *h = asHeader(block);
        h->name[0] = 'a';
        std::memcpy(h->chksum, "7777777 ", 8); // overwritten entirely
        int remaining = 4660 - 8 * 32 - 'a';
        for (int i = 0; remaining > 0; ++i) {
            const int value = qMin(remaining, 255);
            h->uname[i] = char(value);
            remaining -= value;
        }
        QCOMPARE(TarPatch::tarHeaderChecksum(h), 4660u);
        QByteArray expected = block;
        std::memcpy(asHeader(expected)->chksum, "11064\0\0\0", 8);

        TarPatch::fixTarHeaderChecksum(h);
        QCOMPARE(QByteArray(h->chksum, 8), QByteArray("11064\0\0\0", 8));
        QCOMPARE(block, expected); // nothing else changed
        // Idempotent: the chksum bytes do not count.
        TarPatch::fixTarHeaderChecksum(h);
        QCOMPARE(block, expected);
    }

    void fixLeavesEmptyNameUnchanged()
    {
        QByteArray block(512, '\0');
        block[1] = 'x';
        block[200] = 'y';
        std::memcpy(asHeader(block)->chksum, "1234567", 7);
        const QByteArray before = block;
        TarPatch::fixTarHeaderChecksum(asHeader(block));
        QCOMPARE(block, before);

        QByteArray zero(512, '\0');
        TarPatch::fixTarHeaderChecksum(asHeader(zero));
        QCOMPARE(zero, QByteArray(512, '\0'));
    }

    void walkVisitsEveryHeaderOfHandMadeImage()
    {
        QByteArray image;
        image += makeHeader("dir/", 0, '5');
        image += makeHeader("dir/f512", 512) + makeData(QByteArray(512, 'D'));
        image += makeHeader("dir/f1024", 1024) + makeData(QByteArray(1024, 'E'));
        image += makeHeader("dir/f513", 513) + makeData(QByteArray(513, 'G'));
        image += makeHeader("dir/empty", 0);
        image += makeHeader("dir/last", 1) + makeData("H");
        image += QByteArray(1024, '\0');
        // Spoil every checksum, so that the fixing visitor must rewrite them.
        for (int offset : {0, 512, 1536, 3072, 4096, 4608})
            std::memcpy(image.data() + offset + 148, "0000000\0", 8);
        const QByteArray original = image;

        const QList<QByteArray> expectedNames = {"dir/", "dir/f512", "dir/f1024", "dir/f513", "dir/empty", "dir/last", "", ""};
        QCOMPARE(walkNames(image), expectedNames);

        const QByteArray walked = TarPatch::walkTarHeaders(image, TarPatch::fixTarHeaderChecksum);
        QCOMPARE(image, original); // the argument is not changed
        QCOMPARE(walked.size(), image.size());
        int visited = 0;
        QVERIFY(checksumsCanonical(walked, &visited));
        QCOMPARE(visited, 8);
        QCOMPARE(walked.right(1024), QByteArray(1024, '\0')); // zero blocks unchanged
        // Only the chksum fields changed.
        for (int i = 0; i < walked.size(); ++i) {
            if (walked[i] != original[i])
                QVERIFY2(i % 512 >= 148 && i % 512 < 156, qPrintable(QString("byte %1 changed").arg(i)));
        }
    }

    void walkReadsSizeBeforeVisiting()
    {
        QByteArray image = makeHeader("a", 1024) + makeData(QByteArray(1024, 'D')) + makeHeader("b", 0);
        QList<QByteArray> names;
        TarPatch::walkTarHeaders(image, [&](tar_ustarheader *h) {
            names.append(field(h->name, 100));
            std::memcpy(h->size, "00000000000", 11); // too late to change the walk
        });
        QCOMPARE(names, QList<QByteArray>({"a", "b"}));
    }

    void walkStopsAtTruncatedEntry()
    {
        // The last entry says 2048 bytes; only 600 follow.
        QByteArray image = makeHeader("a", 0) + makeHeader("b", 2048) + QByteArray(600, 'D');
        QCOMPARE(walkNames(image), QList<QByteArray>({"a", "b"}));
        // Fewer than 512 bytes after the last entry are not a header.
        QByteArray tail = makeHeader("a", 1) + makeData("x") + QByteArray(511, 'Z');
        QCOMPARE(walkNames(tail), QList<QByteArray>({"a"}));
        // A base-256 size too large for 64 bits reads as 0 ...
        QByteArray huge = makeHeader("a", 0);
        asHeader(huge)->size[0] = char(0x80);
        std::memset(asHeader(huge)->size + 1, 0xff, 11);
        huge += makeHeader("b", 0);
        QCOMPARE(walkNames(huge), QList<QByteArray>({"a", "b"}));
        asHeader(huge)->size[0] = char(0x80);
        std::memset(asHeader(huge)->size + 1, 0, 11);
        std::memset(asHeader(huge)->size + 4, 0xff, 8); // ... and 2^64 - 1 does not wrap the offset around
        QCOMPARE(TarPatch::tarEntrySize(asHeader(huge)), std::numeric_limits<quint64>::max());
        QCOMPARE(walkNames(huge), QList<QByteArray>({"a"}));
        QCOMPARE(walkNames(QByteArray(100, 'x')), QList<QByteArray>());
    }

    void walkVisitsSystemTarHeaders()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        QVERIFY(QDir().mkpath(root + "/d/empty-dir"));
        QVERIFY(writeFile(root + "/d/a0", ""));
        QVERIFY(writeFile(root + "/d/b512", QByteArray(512, 'b')));
        QVERIFY(writeFile(root + "/d/c1024", QByteArray(1024, 'c')));
        QVERIFY(writeFile(root + "/d/d513", QByteArray(513, 'd')));
        QVERIFY(writeFile(root + "/d/e1", "e"));
        const QString tarPath = tmp.path() + "/t.tar";
        QCOMPARE(run("tar", {"--format=ustar", "--sort=name", "-cf", tarPath, "-C", root, "d"}).code, 0);
        const QByteArray image = readFile(tarPath);

        QList<QByteArray> names = walkNames(image);
        int zeros = 0;
        while (!names.isEmpty() && names.last().isEmpty()) {
            names.removeLast();
            ++zeros;
        }
        QCOMPARE(names, QList<QByteArray>({"d/", "d/a0", "d/b512", "d/c1024", "d/d513", "d/e1", "d/empty-dir/"}));
        QVERIFY(zeros >= 2);
        QCOMPARE(names.size() + zeros, image.size() / 512 - (1 + 2 + 2 + 1)); // all blocks but the data

        const QByteArray walked = TarPatch::walkTarHeaders(image, TarPatch::fixTarHeaderChecksum);
        QVERIFY(checksumsCanonical(walked));
        QCOMPARE(walked.right(zeros * 512), QByteArray(zeros * 512, '\0'));
        QVERIFY(writeFile(tarPath, walked));
        QVERIFY(systemTarAccepts(tarPath, tmp.path() + "/out"));
        QCOMPARE(readFile(tmp.path() + "/out/d/d513"), QByteArray(513, 'd'));
    }

    void sizeFieldForms_data()
    {
        QTest::addColumn<QByteArray>("sizeField");
        QTest::addColumn<quint64>("expected");
        QTest::newRow("NUL-ended") << QByteArray("00000001001\0", 12) << quint64(513);
        QTest::newRow("space-ended, next field follows") << QByteArray("00000001001 ", 12) << quint64(513);
        QTest::newRow("leading spaces") << QByteArray("      1001 \0", 12) << quint64(513);
        QTest::newRow("no terminator") << QByteArray("777777777777", 12) << quint64(68719476735ULL);
        QTest::newRow("empty") << QByteArray(12, '\0') << quint64(0);
        QTest::newRow("not octal") << QByteArray("0000000900\0\0", 12) << quint64(0);
        QTest::newRow("letters") << QByteArray("abc\0\0\0\0\0\0\0\0\0", 12) << quint64(0);
        QByteArray base256(12, '\0');
        base256[0] = char(0x80);
        base256[10] = char(0x02);
        base256[11] = char(0x01);
        QTest::newRow("base-256 513") << base256 << quint64(513);
        QByteArray big(12, '\0');
        big[0] = char(0x80);
        big[7] = char(0x02); // 2 << 32: 8 GiB
        QTest::newRow("base-256 8 GiB") << big << quint64(8589934592ULL);
        QTest::newRow("base-256 negative") << QByteArray(12, char(0xff)) << quint64(0);
    }

    void sizeFieldForms()
    {
        QFETCH(QByteArray, sizeField);
        QFETCH(quint64, expected);
        QByteArray block = makeHeader("f", 0);
        std::memcpy(asHeader(block)->size, sizeField.constData(), 12);
        // mtime right after the size field, without a NUL in between.
        std::memcpy(asHeader(block)->mtime, "14530543520 ", 12);
        QCOMPARE(TarPatch::tarEntrySize(asHeader(block)), expected);
    }

    void walkFollowsSpaceEndedAndBase256Sizes()
    {
        QByteArray first = makeHeader("a", 0);
        std::memcpy(asHeader(first)->size, "00000001001 ", 12);
        std::memcpy(asHeader(first)->mtime, "14530543520 ", 12);
        QByteArray second = makeHeader("b", 0);
        std::memset(asHeader(second)->size, 0, 12);
        asHeader(second)->size[0] = char(0x80);
        asHeader(second)->size[10] = char(0x04); // 1024
        const QByteArray image = first + makeData(QByteArray(513, 'D')) + second + makeData(QByteArray(1024, 'E'))
            + makeHeader("c", 0) + QByteArray(1024, '\0');
        QCOMPARE(walkNames(image), QList<QByteArray>({"a", "b", "c", "", ""}));
    }

    void libarchiveStyleTarIsWalkedAndPatched()
    {
        // libarchive's ustar writer ends its numeric fields with a space and
        // puts the next field right after it: "00000001001 14530543520 ".
        auto libarchiveHeader = [](const QByteArray &name, int size) {
            QByteArray block = makeHeader(name, 0);
            tar_ustarheader *h = asHeader(block);
            std::memcpy(h->mode, "000644 \0", 8);
            std::memcpy(h->uid, "000000 \0", 8);
            std::memcpy(h->gid, "000000 \0", 8);
            const QByteArray sizeText = QByteArray::number(size, 8).rightJustified(11, '0') + ' ';
            std::memcpy(h->size, sizeText.constData(), 12);
            std::memcpy(h->mtime, "14530543520 ", 12);
            const QByteArray sum = QByteArray::number(TarPatch::tarHeaderChecksum(h), 8).rightJustified(6, '0');
            std::memcpy(h->chksum, sum.constData(), 6);
            h->chksum[6] = '\0';
            h->chksum[7] = ' ';
            return block;
        };
        const QByteArray notes = QByteArray(513, 'N') + kTandoUs;
        const QByteArray image = libarchiveHeader("active-project/notes.bin", notes.size()) + makeData(notes)
            + libarchiveHeader(kTandoUs + "/prefs", 8) + makeData("<prefs/>") + QByteArray(1024, '\0');
        QCOMPARE(walkNames(image), QList<QByteArray>({"active-project/notes.bin", kTandoUs + "/prefs", "", ""}));

        QTemporaryDir tmp;
        const QString tarPath = tmp.path() + "/la.tar";
        QVERIFY(writeFile(tarPath, image));
        QCOMPARE(run("tar", {"-tf", tarPath}).code, 0); // a valid tar to begin with
        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        const QByteArray patched = readFile(tarPath);
        QVERIFY(checksumsCanonical(patched));
        QCOMPARE(listing(tarPath), QSet<QString>({"active-project/notes.bin", QString::fromLatin1(kTandoColon + "/prefs")}));
        QVERIFY(systemTarAccepts(tarPath, tmp.path() + "/out"));
        QCOMPARE(readFile(tmp.path() + "/out/active-project/notes.bin"), notes);
        QCOMPARE(readFile(tmp.path() + "/out/" + kTandoColon + "/prefs"), QByteArray("<prefs/>"));
    }

    void patchNamesReadBySystemTar_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("marker"); // bytes of the tar that show where the name sits
        const QByteArray profile = kTandoUs + "/profiles/" + QByteArray(90, 'p');
        const QByteArray paxName = kTandoUs + "/" + QByteArray(120, 'x');
        const QByteArray gnuName = kKsbUs + "/" + QByteArray(110, 'g');
        QTest::newRow("name field") << "ustar" << kTandoUs + "/prefs" << kTandoUs + "/prefs" + '\0';
        QTest::newRow("ksb12 name field") << "ustar" << kKsbUs + "/prefs" << kKsbUs + "/prefs" + '\0';
        // GNU tar splits at the last slash that fits: the prefix is ".../profiles".
        QTest::newRow("prefix field") << "ustar" << profile << kTandoUs + "/profiles" + '\0';
        QTest::newRow("pax path record") << "pax" << paxName << " path=" + paxName + "\n";
        QTest::newRow("gnu long name") << "gnu" << gnuName << gnuName + '\0';
    }

    void patchNamesReadBySystemTar()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, marker);
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        // The data names both device paths: it must come out byte for byte.
        const QByteArray data = "data " + kTandoUs + " " + kKsbUs + QByteArray(600, 'd');
        QVERIFY(writeFile(root + "/" + path, data));
        const QString tarPath = tmp.path() + "/t.tar";
        QCOMPARE(run("tar", {"--format=" + format, "--sort=name", "-cf", tarPath, "-C", root, "active-project"}).code, 0);
        const QByteArray original = readFile(tarPath);
        QVERIFY(original.contains(marker));

        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        const QByteArray patched = readFile(tarPath);
        QCOMPARE(patched.size(), original.size());
        QByteArray colonMarker = marker;
        colonMarker.replace(kTandoUs, kTandoColon).replace(kKsbUs, kKsbColon);
        QVERIFY(!patched.contains(marker));
        QVERIFY(patched.contains(colonMarker));
        QVERIFY(checksumsCanonical(patched));

        QByteArray colonPath = path;
        colonPath.replace(kTandoUs, kTandoColon).replace(kKsbUs, kKsbColon);
        const QSet<QString> names = listing(tarPath);
        QVERIFY(names.contains(QString::fromLatin1(colonPath)));
        for (const QString &name : names)
            QVERIFY2(!name.contains("_1a_") && !name.contains("_0b_"), qPrintable(name));
        const QString out = tmp.path() + "/out";
        QVERIFY(systemTarAccepts(tarPath, out));
        QCOMPARE(readFile(out + "/" + colonPath), data);
    }

    void patchHandMadeFields()
    {
        QTemporaryDir tmp;
        const QString tarPath = tmp.path() + "/t.tar";
        // libarchive (unlike GNU tar) splits a long name at the first slash that
        // fits, which can fall inside the device path.
        QByteArray image = makeHeader("tando/00_1a_2b_3c_4d_5e/prefs", 8, '0', "active-project/devices") + makeData("straddle");
        image += makeHeader("devices/tando/00_1a_2b_3c_4d_5e/", 0, '5', "active-project");
        image += makeHeader("00_1a_2b_3c_4d_5e/x", 0, '0', "active-project/devices/tando");
        // A GNU header: the bytes where ustar keeps the prefix are other fields.
        QByteArray gnu = makeHeader("gnu-entry", 0);
        std::memcpy(asHeader(gnu)->magic, "ustar ", 6);
        std::memcpy(asHeader(gnu)->version, " ", 2);
        std::memcpy(asHeader(gnu)->prefix + 100, kTandoUs.constData(), size_t(kTandoUs.size()));
        TarPatch::fixTarHeaderChecksum(asHeader(gnu));
        image += gnu;
        image += makeHeader("keep/abc", 0); // a pair of unequal lengths is skipped
        // A symbolic link keeps its target; a hard link's target is an entry name.
        image += makeHeader("sym", 0, '2', QByteArray(), kTandoUs + "/prefs");
        image += makeHeader("hard", 0, '1', QByteArray(), kTandoUs + "/prefs");
        image += QByteArray(1024, '\0');
        QVERIFY(writeFile(tarPath, image));

        Pairs pairs = devicePairs();
        pairs.append(qMakePair(QByteArray("abc"), QByteArray("abcd")));
        QVERIFY(TarPatch::patchTarNames(tarPath, pairs));
        const QByteArray patched = readFile(tarPath);
        QCOMPARE(patched.size(), image.size());
        QVERIFY(checksumsCanonical(patched));
        auto name = [&](int block) { return field(asHeader(patched, block * 512)->name, 100); };
        auto prefix = [&](int block) { return field(asHeader(patched, block * 512)->prefix, 155); };
        auto linkname = [&](int block) { return field(asHeader(patched, block * 512)->linkname, 100); };
        QCOMPARE(prefix(0), QByteArray("active-project/devices"));
        QCOMPARE(name(0), QByteArray("tando/00:1a:2b:3c:4d:5e/prefs"));
        QCOMPARE(prefix(2), QByteArray("active-project"));
        QCOMPARE(name(2), QByteArray("devices/tando/00:1a:2b:3c:4d:5e/"));
        QCOMPARE(prefix(3), QByteArray("active-project/devices/tando"));
        QCOMPARE(name(3), QByteArray("00:1a:2b:3c:4d:5e/x"));
        QCOMPARE(patched.mid(4 * 512 + 257, 255), gnu.mid(257, 255));
        QCOMPARE(name(5), QByteArray("keep/abc"));
        QCOMPARE(linkname(6), kTandoUs + "/prefs");
        QCOMPARE(linkname(7), kTandoColon + "/prefs");
        // Only name, prefix, linkname and chksum bytes changed.
        for (int i = 0; i < patched.size(); ++i) {
            const int at = i % 512;
            QVERIFY2(patched[i] == image[i] || at < 100 || (at >= 148 && at < 156) || (at >= 157 && at < 257)
                         || (at >= 345 && at < 500),
                     qPrintable(QString("byte %1 changed").arg(i)));
        }
        const QString out = tmp.path() + "/out";
        QVERIFY(systemTarAccepts(tarPath, out));
        QCOMPARE(readFile(out + "/" + kTandoColon + "/prefs"), QByteArray("straddle"));
        QCOMPARE(readFile(out + "/hard"), QByteArray("straddle"));
    }

    void patchHardLinkTargets_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("nameLength");
        QTest::newRow("ustar") << "ustar" << 5;
        QTest::newRow("pax linkpath") << "pax" << 110;
        QTest::newRow("gnu long link") << "gnu" << 110;
    }

    void patchHardLinkTargets()
    {
        QFETCH(QString, format);
        QFETCH(int, nameLength);
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        const QByteArray target = kTandoUs + "/" + QByteArray(nameLength, 't');
        QVERIFY(writeFile(root + "/" + target, "shared data"));
        QVERIFY(::link(QFile::encodeName(root + "/" + target).constData(),
                       QFile::encodeName(root + "/active-project/z-hardlink").constData()) == 0);
        // A symbolic link's target is no entry name: it stays as written.
        QVERIFY(QFile::link(QString::fromLatin1(target), root + "/active-project/z-symlink"));
        const QString tarPath = tmp.path() + "/t.tar";
        QCOMPARE(run("tar", {"--format=" + format, "--sort=name", "-cf", tarPath, "-C", root, "active-project"}).code, 0);
        const QString before = QString::fromUtf8(run("tar", {"-tvf", tarPath}).out);
        QVERIFY2(before.contains("active-project/z-hardlink link to " + QString::fromLatin1(target)), qPrintable(before));

        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        const QByteArray colonTarget = kTandoColon + "/" + QByteArray(nameLength, 't');
        const Run list = run("tar", {"-tvf", tarPath});
        QCOMPARE(list.code, 0);
        const QString after = QString::fromUtf8(list.out);
        QVERIFY2(after.contains("active-project/z-hardlink link to " + QString::fromLatin1(colonTarget)), qPrintable(after));
        QVERIFY2(after.contains("active-project/z-symlink -> " + QString::fromLatin1(target)), qPrintable(after));
        QVERIFY(checksumsCanonical(readFile(tarPath)));
        const QString out = tmp.path() + "/out";
        QVERIFY(systemTarAccepts(tarPath, out));
        QCOMPARE(readFile(out + "/active-project/z-hardlink"), QByteArray("shared data"));
        QCOMPARE(QFileInfo(out + "/active-project/z-hardlink").size(), 11);
        QCOMPARE(QFileInfo(out + "/" + colonTarget).size(), 11);
    }

    void patchUsesPaxSizeRecord()
    {
        // The pax size record governs the next entry, whatever its size field says.
        QTemporaryDir tmp;
        const QString tarPath = tmp.path() + "/t.tar";
        const QByteArray records = paxRecord("size", "1000") + paxRecord("path", kTandoUs + "/big");
        QByteArray image = makeHeader("PaxHeaders/big", quint64(records.size()), 'x') + makeData(records);
        image += makeHeader("big", 0) + makeData(QByteArray(1000, 'D'));
        image += makeHeader(kKsbUs + "/prefs", 5) + makeData("label");
        image += QByteArray(1024, '\0');
        QVERIFY(writeFile(tarPath, image));
        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        const QByteArray patched = readFile(tarPath);
        QVERIFY(patched.contains(paxRecord("path", kTandoColon + "/big")));
        QCOMPARE(field(patched.constData() + 512 * 5, 100), kKsbColon + "/prefs");
        QCOMPARE(patched.mid(512 * 3, 1024), makeData(QByteArray(1000, 'D')));
        QCOMPARE(listing(tarPath), QSet<QString>({QString::fromLatin1(kTandoColon + "/big"), QString::fromLatin1(kKsbColon + "/prefs")}));
    }

    void patchOldGnuSparseEntry()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        const QString sparse = root + "/active-project/a-sparse";
        QVERIFY(writeFile(sparse, ""));
        {
            QFile file(sparse);
            QVERIFY(file.open(QIODevice::ReadWrite));
            for (int i = 0; i < 12; ++i) {
                QVERIFY(file.seek(qint64(i) * 256 * 1024));
                QVERIFY(file.write(QByteArray(512, char('a' + i))) == 512);
            }
            QVERIFY(file.resize(12LL * 256 * 1024));
        }
        QVERIFY(writeFile(root + "/" + kTandoUs + "/prefs", "after the sparse entry"));
        const QString tarPath = tmp.path() + "/t.tar";
        QCOMPARE(run("tar", {"--format=gnu", "--sparse", "--sort=name", "-cf", tarPath, "-C", root, "active-project"}).code, 0);
        const QByteArray original = readFile(tarPath);
        const int at = findHeader(original, "active-project/a-sparse");
        QVERIFY(at >= 0);
        if (asHeader(original, at)->typeflag != 'S' || original.at(at + 482) == 0)
            QSKIP("the system tar wrote no sparse entry with extension blocks");

        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        QVERIFY(listing(tarPath).contains(QString::fromLatin1(kTandoColon + "/prefs")));
        const QString out = tmp.path() + "/out";
        QVERIFY(systemTarAccepts(tarPath, out));
        QCOMPARE(readFile(out + "/" + kTandoColon + "/prefs"), QByteArray("after the sparse entry"));
        QCOMPARE(readFile(out + "/active-project/a-sparse"), readFile(sparse));
    }

    void zeroBlocksAtTheEndStayAndEveryChecksumIsRewritten()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        QVERIFY(writeFile(root + "/active-project/project.xml", "<p/>"));
        QVERIFY(writeFile(root + "/" + kTandoUs + "/prefs", "x"));
        const QString tarPath = tmp.path() + "/t.tar";
        QCOMPARE(run("tar", {"--format=ustar", "--sort=name", "-cf", tarPath, "-C", root, "active-project"}).code, 0);
        QByteArray image = readFile(tarPath);
        // Trailing bytes after the zero blocks that are not zero: left as they are.
        image += QByteArray(512, 'Q');
        QVERIFY(writeFile(tarPath, image));
        // Nothing to replace: still every checksum takes the canonical form.
        QVERIFY(TarPatch::patchTarNames(tarPath, {}));
        const QByteArray patched = readFile(tarPath);
        QCOMPARE(patched.size(), image.size());
        QCOMPARE(patched.right(512), QByteArray(512, 'Q'));
        int headers = 0;
        QVERIFY(checksumsCanonical(patched.left(patched.size() - 512), &headers));
        QVERIFY(headers >= 7);
        for (int offset = 0; offset < image.size(); offset += 512) {
            if (image.mid(offset, 512) == QByteArray(512, '\0'))
                QCOMPARE(patched.mid(offset, 512), QByteArray(512, '\0'));
        }
        QCOMPARE(run("tar", {"-tf", tarPath}).code, 0);
    }

    void rejectsDamagedArchiveAndLeavesItUnchanged_data()
    {
        QTest::addColumn<QByteArray>("content");
        // Each archive begins with a header that would be patched.
        const QByteArray good = makeHeader(kTandoUs + "/", 0, '5');
        QTest::newRow("truncated data") << good + makeHeader(kTandoUs + "/prefs", 3000) + QByteArray(2048, 'p');
        QByteArray damaged = makeHeader(kTandoUs + "/prefs", 1) + makeData("p");
        damaged[60] = 'X';
        QTest::newRow("damaged header") << good + damaged + makeHeader(kKsbUs, 0, '5') + QByteArray(1024, '\0');
        QTest::newRow("not a tar") << QByteArray("just some text that is no tar header at all\n").repeated(50);
        QTest::newRow("pax header over 1 MiB") << good + makeHeader("PaxHeaders/x", 2 * 1024 * 1024, 'x')
                                                    + QByteArray(2 * 1024 * 1024, '\n') + makeHeader(kTandoUs, 0, '5');
        QTest::newRow("malformed pax record") << good + makeHeader("PaxHeaders/x", 10, 'x') + makeData("99 path=x\n")
                                                     + makeHeader(kTandoUs, 0, '5');
    }

    void rejectsDamagedArchiveAndLeavesItUnchanged()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir tmp;
        const QString tarPath = tmp.path() + "/t.tar";
        QVERIFY(writeFile(tarPath, content));
        QVERIFY(!TarPatch::patchTarNames(tarPath, devicePairs()));
        QCOMPARE(readFile(tarPath), content);
    }

    void rejectsFileThatCannotBeOpened()
    {
        QTemporaryDir tmp;
        const QString missing = tmp.path() + "/missing.tar";
        QVERIFY(!TarPatch::patchTarNames(missing, devicePairs()));
        QVERIFY(!QFileInfo::exists(missing)); // not created
        QVERIFY(!TarPatch::patchTarNames(QString(), devicePairs()));
        QVERIFY(!TarPatch::patchTarNames(tmp.path(), devicePairs())); // a directory

        const QString tarPath = tmp.path() + "/t.tar";
        const QByteArray image = makeHeader(kTandoUs + "/", 0, '5') + QByteArray(1024, '\0');
        QVERIFY(writeFile(tarPath, image));
        if (geteuid() != 0) { // root reads and writes whatever the permissions say
            QVERIFY(QFile::setPermissions(tarPath, QFileDevice::WriteOwner));
            QVERIFY(!TarPatch::patchTarNames(tarPath, devicePairs())); // not readable
            QVERIFY(QFile::setPermissions(tarPath, QFileDevice::ReadOwner));
            QVERIFY(!TarPatch::patchTarNames(tarPath, devicePairs())); // not writable
            QVERIFY(QFile::setPermissions(tarPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            QCOMPARE(readFile(tarPath), image);
        }
        // An empty file holds no header: nothing to do.
        QVERIFY(writeFile(tarPath, QByteArray()));
        QVERIFY(TarPatch::patchTarNames(tarPath, devicePairs()));
        QCOMPARE(QFileInfo(tarPath).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTarPatch)
#include "tst_tarpatch.moc"
