// SPDX-License-Identifier: GPL-3.0-or-later
// The checksum fixer, and the tar stream walker (its
// report, a plain copy and a copy that renames every entry), on arbitrary bytes.

#include "fuzzsupport.h"
#include "tarpatch.h"
#include "tarstream.h"

#include <QVector>

namespace {

quint64 storedChecksum(const tar_ustarheader *header)
{
    quint64 value = 0;
    for (char c : header->chksum) {
        if (c < '0' || c > '7')
            break;
        value = value * 8 + quint64(c - '0');
    }
    return value;
}

// The checksum fixer on every block: the block carries its checksum
// afterwards, and fixing it again changes nothing.
void checkChecksumFixer(QByteArray image)
{
    for (int at = 0; at + 512 <= image.size(); at += 512) {
        auto *header = reinterpret_cast<tar_ustarheader *>(image.data() + at);
        TarPatch::fixTarHeaderChecksum(header);
        if (storedChecksum(header) != TarPatch::tarHeaderChecksum(header))
            FuzzSupport::fail("a fixed header does not carry its checksum");
        const QByteArray fixed(image.constData() + at, 512);
        TarPatch::fixTarHeaderChecksum(header);
        if (QByteArray(image.constData() + at, 512) != fixed)
            FuzzSupport::fail("fixing a checksum twice changed the header");
    }
}

struct Run
{
    bool ok = false;
    QByteArray out;
    QVector<TarStream::EntryInfo> entries;
};

using Rename = std::function<void(const TarStream::EntryInfo &, TarStream::EntryEdit *)>;

Run walk(const QByteArray &image, int piece, bool withSink, const Rename &rename = {})
{
    Run run;
    TarStream::Walker::Sink sink;
    if (withSink)
        sink = [&run](const char *data, qint64 size) { run.out.append(data, int(size)); return true; };
    TarStream::Walker walker(
        [&](const TarStream::EntryInfo &entry, TarStream::EntryEdit *edit, QString *) {
            run.entries.append(entry);
            if (rename)
                rename(entry, edit);
            return true;
        },
        sink);
    bool ok = true;
    for (int at = 0; ok && at < image.size(); at += piece)
        ok = walker.write(image.constData() + at, qMin(piece, image.size() - at));
    run.ok = ok && walker.finish();
    if (run.ok != walker.error().isEmpty())
        FuzzSupport::fail("the walker's result and its error disagree");
    return run;
}

// Names of every length, some fitting the ustar fields and some not.
QByteArray newName(const QByteArray &old, int index)
{
    return "renamed/" + QByteArray::number(index) + "/" + old.toHex().left((index * 37 + old.size()) % 300);
}

bool sameLayout(const TarStream::EntryInfo &a, const TarStream::EntryInfo &b)
{
    return a.offset == b.offset && a.dataOffset == b.dataOffset && a.end == b.end && a.path == b.path
           && a.linkTarget == b.linkTarget && a.type == b.type && a.size == b.size && a.headerCrc == b.headerCrc;
}

void checkStreamWalk(const QByteArray &image, int piece)
{
    // A plain copy gives the input's bytes: all of them when the walker takes
    // the stream, its beginning when it stops. The report alone agrees.
    const Run copy = walk(image, piece, true);
    if (!image.startsWith(copy.out) || (copy.ok && copy.out != image))
        FuzzSupport::fail("a copy without edits changed bytes");
    const Run report = walk(image, image.size() + 1, false);
    if (report.ok != copy.ok || report.entries.size() != copy.entries.size())
        FuzzSupport::fail("the report and the copy disagree");
    for (int i = 0; i < copy.entries.size(); ++i) {
        if (!sameLayout(report.entries.at(i), copy.entries.at(i)))
            FuzzSupport::fail("the report and the copy see different entries");
    }
    if (!copy.ok)
        return;

    // Renaming every entry: the result is taken again with the new names and
    // the same data, and it grew by what the header regions grew.
    const Run renamed = walk(image, piece, true, [](const TarStream::EntryInfo &entry, TarStream::EntryEdit *edit) {
        edit->path = newName(entry.path, entry.index);
        if (entry.type == '1' || entry.type == '2')
            edit->linkTarget = newName(entry.linkTarget, entry.index + 1);
        edit->renameHeader = [](const QByteArray &name) { return name.isEmpty() ? name : "h/" + name; };
    });
    if (!renamed.ok)
        FuzzSupport::fail("a rename was refused");
    const Run again = walk(renamed.out, piece, false);
    if (!again.ok || again.entries.size() != copy.entries.size())
        FuzzSupport::fail("the renamed stream is not taken again");
    qint64 growth = 0;
    for (int i = 0; i < copy.entries.size(); ++i) {
        const TarStream::EntryInfo &before = copy.entries.at(i);
        const TarStream::EntryInfo &after = again.entries.at(i);
        if (after.path != newName(before.path, i)
            || ((before.type == '1' || before.type == '2') && after.linkTarget != newName(before.linkTarget, i + 1)))
            FuzzSupport::fail("a renamed entry does not read back with its new name", after.path.toStdString());
        if (after.type != before.type || after.size != before.size || after.end - after.dataOffset != before.end - before.dataOffset)
            FuzzSupport::fail("a renamed entry changed its data");
        growth += (after.dataOffset - after.offset) - (before.dataOffset - before.offset);
    }
    if (renamed.out.size() - image.size() != growth)
        FuzzSupport::fail("the renamed stream's length changed by more than its headers");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    FuzzSupport::sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), int(size));
    checkChecksumFixer(image);
    // The last byte picks how the stream is cut into writes.
    checkStreamWalk(image, size > 0 ? 1 + data[size - 1] % 1024 : 1);
    FuzzSupport::sandbox().check({});
    return 0;
}
