// SPDX-License-Identifier: GPL-3.0-or-later
#include "processrun.h"
#include "snapshot.h"
#include "testfiles.h"
#include "tarpatch.h"
#include "tarstream.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <zlib.h>

using TarStream::EntryEdit;
using TarStream::EntryInfo;

namespace {

const QByteArray kDevice = "active-project/devices/tando/00:1a:2b:3c:4d:5e";
const QByteArray kProjectXml = "active-project/project.xml";

QByteArray runFixture(const QStringList &arguments)
{
    return outputOf(QStringLiteral("python3"), QStringList{QStringLiteral(TARFIXTURE_SCRIPT)} + arguments);
}

QString sha(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

struct Walk
{
    bool ok = false;
    QString error;
    QByteArray out;
    QVector<EntryInfo> entries;
    bool ended = false;
    qint64 endOffset = 0;
};

using Editor = std::function<bool(const EntryInfo &, EntryEdit *, QString *)>;

// Feeds the image in pieces of uneven sizes, so that headers, extension
// data and entry data arrive split at every kind of place.
Walk walk(const QByteArray &image, const Editor &editor = {}, bool withSink = true, bool sinkFails = false)
{
    Walk w;
    TarStream::Walker::Sink sink;
    if (withSink)
        sink = [&](const char *data, qint64 size) { w.out.append(data, int(size)); return !sinkFails; };
    TarStream::Walker walker(
        [&](const EntryInfo &entry, EntryEdit *edit, QString *error) {
            w.entries.append(entry);
            return !editor || editor(entry, edit, error);
        },
        sink);
    static const int pieces[] = {1, 511, 4096, 97, 1536, 100000};
    qint64 at = 0;
    bool ok = true;
    for (int i = 0; ok && at < image.size(); ++i) {
        const int n = int(qMin<qint64>(pieces[i % 6], image.size() - at));
        ok = walker.write(image.constData() + at, n);
        at += n;
    }
    w.ok = ok && walker.finish();
    w.error = walker.error();
    w.ended = walker.ended();
    w.endOffset = walker.endOffset();
    return w;
}

QByteArray withoutSlash(QByteArray path)
{
    return path.endsWith('/') ? path.chopped(1) : path;
}

QByteArray renamed(const QByteArray &name, const QByteArray &newDevice)
{
    if (name == kDevice || name.startsWith(kDevice + '/'))
        return newDevice + name.mid(kDevice.size());
    return name;
}

QString makeArchive(const QTemporaryDir &dir, const QString &writer, const QString &form)
{
    const QString path = dir.filePath(writer + "-" + form + ".tar");
    runFixture({writer, form, path});
    return path;
}

void addFormatColumns()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("form");
}

const QList<QPair<QString, QString>> kFormats = {
    {"python", "ustar"}, {"python", "gnu"}, {"python", "pax"}, {"gnutar", "gnu"}, {"gnutar", "posix"}};

// A POSIX ustar header made by the test, for the header functions.
QByteArray makeHeader(const QByteArray &name, quint64 size)
{
    QByteArray block(512, '\0');
    auto *h = reinterpret_cast<tar_ustarheader *>(block.data());
    std::memcpy(h->name, name.constData(), size_t(name.size()));
    std::memcpy(h->mode, "0000644", 8);
    const QByteArray sizeText = QByteArray::number(size, 8).rightJustified(11, '0');
    std::memcpy(h->size, sizeText.constData(), 11);
    h->typeflag = '0';
    std::memcpy(h->magic, "ustar\0" "00", 8);
    TarPatch::fixTarHeaderChecksum(h);
    return block;
}

} // namespace

class TestTarStream : public QObject
{
    Q_OBJECT

private slots:
    void entriesMatchTarfileAndCopiesAreExact_data()
    {
        addFormatColumns();
        for (const auto &format : kFormats)
            QTest::newRow(qPrintable(format.first + " " + format.second)) << format.first << format.second;
    }

    void entriesMatchTarfileAndCopiesAreExact()
    {
        QFETCH(QString, writer);
        QFETCH(QString, form);
        QTemporaryDir tmp;
        const QString path = makeArchive(tmp, writer, form);
        const QByteArray image = readFile(path);
        const QVector<ArchiveEntry> expected = archiveEntries(path);
        QVERIFY(expected.size() >= 12);

        const Walk report = walk(image, {}, false);
        QVERIFY2(report.ok, qPrintable(report.error));
        QVERIFY(report.out.isEmpty());
        QCOMPARE(report.entries.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const EntryInfo &e = report.entries.at(i);
            const ArchiveEntry &m = expected.at(i);
            QCOMPARE(e.index, i);
            QCOMPARE(e.offset, i == 0 ? 0 : report.entries.at(i - 1).end);
            // tarfile leaves a pax global header out of the entry that follows it.
            if (e.offset != m.offset)
                QVERIFY(image.at(int(e.offset) + 156) == 'g' && m.offset > e.offset);
            QCOMPARE(e.end, m.end);
            QCOMPARE(withoutSlash(e.path), m.name);
            QCOMPARE(e.type, m.type);
            QCOMPARE(e.linkTarget, e.type == '1' || e.type == '2' ? m.linkname : QByteArray());
            if (!m.sparse) { // tarfile reports a sparse file's real size and where its map ends
                QCOMPARE(e.dataOffset, m.offsetData);
                QCOMPARE(e.size, quint64(m.size));
            }
            const QByteArray headers = image.mid(int(e.offset), int(e.dataOffset - e.offset));
            QCOMPARE(e.headerCrc, quint32(crc32(0, reinterpret_cast<const Bytef *>(headers.constData()), uInt(headers.size()))));
        }
        QVERIFY(report.ended);
        QCOMPARE(report.endOffset, report.entries.last().end);

        const Walk copy = walk(image);
        QVERIFY2(copy.ok, qPrintable(copy.error));
        QVERIFY(copy.out == image);
    }

    void editsReadBackByTarfile_data()
    {
        addFormatColumns();
        QTest::addColumn<QByteArray>("newDevice");
        QTest::addColumn<int>("newDataSize");
        const QList<QPair<QByteArray, int>> edits = {
            {"active-project/devices/tando/00:1a:2b:3c:4d:ff", 1500},          // same length; 2 blocks to 3
            {"active-project/devices/tando/" + QByteArray(130, 'n'), 100},      // fits no ustar field; 2 blocks to 1
            {"active-project/devices/tando/d1", 512}};                          // shorter; exactly one block
        for (const auto &format : kFormats) {
            for (const auto &edit : edits) {
                QTest::newRow(qPrintable(QStringLiteral("%1 %2, device name %3 long, data %4")
                                             .arg(format.first, format.second)
                                             .arg(edit.first.size())
                                             .arg(edit.second)))
                    << format.first << format.second << edit.first << edit.second;
            }
        }
    }

    // The device directory is renamed and a file gets new data; tarfile reads
    // back every entry as expected, and untouched entries keep their bytes.
    void editsReadBackByTarfile()
    {
        QFETCH(QString, writer);
        QFETCH(QString, form);
        QFETCH(QByteArray, newDevice);
        QFETCH(int, newDataSize);
        QTemporaryDir tmp;
        const QString path = makeArchive(tmp, writer, form);
        const QByteArray image = readFile(path);
        const QVector<ArchiveEntry> before = archiveEntries(path);
        const QByteArray oldData = "<project>" + QByteArray(580, 'x') + "</project>\n";
        const QByteArray newData = QByteArray(newDataSize, 'N');

        const Walk edited = walk(image, [&](const EntryInfo &entry, EntryEdit *edit, QString *) {
            edit->path = renamed(entry.path, newDevice);
            edit->linkTarget = entry.type == '1' ? renamed(entry.linkTarget, newDevice) : QByteArray();
            if (entry.path == kProjectXml) {
                edit->replaceData = true;
                edit->data = newData;
                edit->checkData = true;
                edit->expectedData = oldData;
            }
            return true;
        });
        QVERIFY2(edited.ok, qPrintable(edited.error));
        const QString outPath = tmp.filePath("edited.tar");
        QVERIFY(writeFile(outPath, edited.out));
        if (newDevice.size() == kDevice.size()) // names patched in place: only the data changes the length
            QCOMPARE(edited.out.size(), image.size() + (newDataSize + 511) / 512 * 512 - 1024);

        const QVector<ArchiveEntry> after = archiveEntries(outPath);
        QCOMPARE(after.size(), before.size());
        int untouched = 0;
        for (int i = 0; i < before.size(); ++i) {
            ArchiveEntry expected = before.at(i);
            const ArchiveEntry &m = after.at(i);
            expected.name = renamed(expected.name, newDevice);
            if (expected.type == '1')
                expected.linkname = renamed(expected.linkname, newDevice);
            if (expected.name == kProjectXml) {
                expected.sha = sha(newData);
                expected.size = newDataSize;
            }
            QCOMPARE(m.name, expected.name);
            QCOMPARE(m.linkname, expected.linkname);
            QCOMPARE(m.type, expected.type);
            QCOMPARE(m.attributes, expected.attributes);
            QCOMPARE(m.sha, expected.sha);
            QCOMPARE(m.size, expected.size);
            const ArchiveEntry &old = before.at(i);
            if (old.name != kProjectXml && expected.name == old.name && expected.linkname == old.linkname) {
                QVERIFY2(edited.out.mid(int(m.offset), int(m.end - m.offset)) == image.mid(int(old.offset), int(old.end - old.offset)),
                         old.name.constData());
                ++untouched;
            }
        }
        QCOMPARE(untouched, writer == "gnutar" ? 5 : 3); // GNU tar adds the parents of the device directory
        const ProcessRun tar = runProcess("tar", {"-tf", outPath});
        QCOMPARE(tar.code, 0);
        QCOMPARE(tar.err, QByteArray());
    }

    void errorsSayWhy_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QByteArray>("entryToEdit");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expectedError");
        runFixture({"python", "pax", m_tmp.filePath("pax.tar")});
        const QByteArray pax = readFile(m_tmp.filePath("pax.tar"));
        const QVector<ArchiveEntry> m = archiveEntries(m_tmp.filePath("pax.tar"));
        QVERIFY(m.size() > 4 && m.at(1).name == kProjectXml && m.at(4).offsetData - m.at(4).offset == 1536);

        QTest::newRow("cut off in data") << pax.left(int(m.at(1).offsetData + 100)) << QByteArray() << ""
                                         << QStringLiteral("the tar stream is cut off inside the entry at offset %1").arg(m.at(1).offset);
        QTest::newRow("cut off in a header") << pax.left(int(m.at(2).offset + 200)) << QByteArray() << ""
                                             << QStringLiteral("the tar stream is cut off inside the entry at offset %1").arg(m.at(2).offset);
        QByteArray damaged = pax;
        damaged[int(m.at(2).offset) + 101] = '7'; // mode
        QTest::newRow("damaged checksum") << damaged << QByteArray() << ""
                                          << QStringLiteral("no tar header at offset %1").arg(m.at(2).offset);
        QByteArray malformed = pax;
        malformed.replace(int(m.at(4).offset) + 512, 2, "99"); // length of the path record
        QTest::newRow("malformed pax record") << malformed << QByteArray() << ""
                                              << QStringLiteral("malformed pax header at offset %1").arg(m.at(4).offset);
        QTest::newRow("pax header without entry") << pax.left(int(m.at(4).offset) + 1024) + QByteArray(1024, '\0') << QByteArray() << ""
                                                  << QStringLiteral("extension header not followed by an entry at offset %1").arg(m.at(4).offset);
        QTest::newRow("changed under checkData") << pax << kProjectXml << "check"
                                                 << "entry active-project/project.xml changed since it was read";
        QTest::newRow("new data for a directory") << pax << QByteArray("active-project/") << "replace"
                                                  << "entry active-project/ is no regular file: its data cannot be replaced";
        QTest::newRow("decided to stop") << pax << kProjectXml << "stop" << "stopped by the test";
        QTest::newRow("sink fails") << pax << QByteArray() << "sink fails" << "write error";
    }

    void errorsSayWhy()
    {
        QFETCH(QByteArray, image);
        QFETCH(QByteArray, entryToEdit);
        QFETCH(QString, edit);
        QFETCH(QString, expectedError);
        const Walk w = walk(
            image,
            [&](const EntryInfo &entry, EntryEdit *e, QString *error) {
                if (entry.path != entryToEdit)
                    return true;
                e->checkData = edit == "check";
                e->expectedData = "<project>" + QByteArray(579, 'x') + "y</project>\n";
                e->replaceData = edit == "replace";
                *error = QStringLiteral("stopped by the test");
                return edit != "stop";
            },
            true, edit == "sink fails");
        QVERIFY(!w.ok);
        QCOMPARE(w.error, expectedError);
        QVERIFY(!w.ended);
    }

    // A big entry's data is passed on (or skipped) as it comes, never held.
    void bigEntryStreamsThrough()
    {
        const qint64 size = 512LL * 1024 * 1024;
        const QByteArray header = runFixture({"header", "big", QString::number(size)});
        QCOMPARE(header.size(), 512);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long peakBefore = usage.ru_maxrss;
        qint64 written = 0;
        TarStream::Walker walker({}, [&](const char *, qint64 n) { written += n; return true; });
        QVERIFY(walker.write(header.constData(), header.size()));
        const QByteArray chunk(1024 * 1024, 'D');
        for (qint64 at = 0; at < size; at += chunk.size())
            QVERIFY(walker.write(chunk.constData(), chunk.size()));
        QVERIFY(walker.finish());
        QCOMPARE(written, size + 512);
        getrusage(RUSAGE_SELF, &usage);
        QVERIFY2(usage.ru_maxrss - peakBefore < 64 * 1024, qPrintable(QString::number(usage.ru_maxrss - peakBefore)));
    }

    void checksumCountsChksumBytesAsSpaces()
    {
        QByteArray block(512, '\0');
        auto *h = reinterpret_cast<tar_ustarheader *>(block.data());
        QCOMPARE(TarPatch::tarHeaderChecksum(h), 8u * 32u);
        std::memcpy(h->chksum, "\xff\xff\xff\xff\xff\xff\xff\xff", 8);
        block[0] = char(0xff); // counted unsigned
        block[511] = 'a';
        QCOMPARE(TarPatch::tarHeaderChecksum(h), 8u * 32u + 255u + 97u);
    }

    void fixedChecksumIsOctalWithoutLeadingZeros()
    {
        QByteArray block(512, '\0');
        auto *h = reinterpret_cast<tar_ustarheader *>(block.data());
        TarPatch::fixTarHeaderChecksum(h); // even a header of zeros counts its chksum as spaces
        QCOMPARE(block.mid(148, 8), QByteArray("400\0\0\0\0\0", 8));
        h->name[0] = 'a';
        std::memcpy(h->chksum, "7777777 ", 8);
        int remaining = 4660 - 8 * 32 - 'a';
        for (int i = 0; remaining > 0; ++i) {
            h->uname[i] = char(qMin(remaining, 255));
            remaining -= qMin(remaining, 255);
        }
        QByteArray expected = block;
        std::memcpy(expected.data() + 148, "11064\0\0\0", 8);
        TarPatch::fixTarHeaderChecksum(h);
        QCOMPARE(block, expected);
        TarPatch::fixTarHeaderChecksum(h); // the chksum bytes do not count
        QCOMPARE(block, expected);
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
        QByteArray base256(12, '\0');
        base256[0] = char(0x80);
        base256[7] = char(0x02); // 2 << 32: 8 GiB
        QTest::newRow("base-256 8 GiB") << base256 << quint64(8589934592ULL);
        QTest::newRow("base-256 negative") << QByteArray(12, char(0xff)) << quint64(0);
        QTest::newRow("base-256 beyond 64 bits") << (QByteArray(1, char(0x80)) + QByteArray(11, char(0xff))) << quint64(0);
        QTest::newRow("base-256 largest") << (QByteArray(4, char(0x80)).replace(1, 3, QByteArray(3, '\0')) + QByteArray(8, char(0xff)))
                                          << std::numeric_limits<quint64>::max();
    }

    void sizeFieldForms()
    {
        QFETCH(QByteArray, sizeField);
        QFETCH(quint64, expected);
        QByteArray block = makeHeader("f", 0);
        std::memcpy(block.data() + 124, sizeField.constData(), 12);
        std::memcpy(block.data() + 136, "14530543520 ", 12); // mtime right after, no NUL in between
        QCOMPARE(TarPatch::tarEntrySize(reinterpret_cast<tar_ustarheader *>(block.data())), expected);
    }

private:
    QTemporaryDir m_tmp;
};

QTEST_GUILESS_MAIN(TestTarStream)
#include "tst_tarstream.moc"
