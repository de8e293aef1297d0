// The header walk with the checksum fixer on arbitrary bytes, and the name
// patching of a tar file in place.

#include "fuzzsupport.h"
#include "tarpatch.h"

#include <QFile>

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

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
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
    const QByteArray original = image;

    // Walk with the fixer: the caller's bytes stay, the copy keeps its size,
    // every header with a name carries its checksum, and a second walk
    // changes nothing more.
    int visited = 0;
    const QByteArray fixed = TarPatch::walkTarHeaders(image, [&visited](tar_ustarheader *header) {
        ++visited;
        TarPatch::fixTarHeaderChecksum(header);
        if (header->name[0] != '\0' && storedChecksum(header) != TarPatch::tarHeaderChecksum(header))
            FuzzSupport::fail("a fixed header does not carry its checksum");
    });
    if (image != original)
        FuzzSupport::fail("walkTarHeaders changed the caller's image");
    if (fixed.size() != image.size())
        FuzzSupport::fail("walkTarHeaders changed the size");
    if (visited > image.size() / 512)
        FuzzSupport::fail("walkTarHeaders visited more headers than there are blocks");
    if (TarPatch::walkTarHeaders(fixed, &TarPatch::fixTarHeaderChecksum) != fixed)
        FuzzSupport::fail("fixing checksums twice changed the image");

    // Patch names in a file: a refusal leaves the file exactly as it was; a
    // patch never changes the file's size.
    const QString path = FuzzSupport::sandbox().workPath("patch.tar");
    if (!FuzzSupport::writeFile(path, data, size))
        FuzzSupport::fail("cannot write the tar file");
    const QList<QPair<QByteArray, QByteArray>> pairs{
        {"active-project/devices/tando/00_1a_2b_3c_4d_5e", "active-project/devices/tando/00:1a:2b:3c:4d:5e"},
        {"active-project/devices/ksb12/00_1a_2b_00_00_01", "active-project/devices/ksb12/00:1a:2b:00:00:01"},
        {"a_b", "a:b"}};
    const bool patched = TarPatch::patchTarNames(path, pairs);
    const QByteArray after = readAll(path);
    if (!patched && after != original)
        FuzzSupport::fail("a refused patch changed the file");
    if (after.size() != original.size())
        FuzzSupport::fail("patching changed the file's size");
    FuzzSupport::sandbox().check({"patch.tar"});
    return 0;
}
