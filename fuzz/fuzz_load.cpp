// An arbitrary byte string opened as a project: unpacked on its own, then
// loaded, stored when it loads, and unloaded. With FUZZ_GZIP_INPUT the bytes
// are gzipped first, so that the tar layer behind the gzip decoder is reached
// (random bytes rarely pass a gzip CRC); without, they are the archive file as
// it is (gzip or tar, told by the content). After each input nothing may be
// left in the temporary directory and nothing may have appeared outside it.

#include "fuzzsupport.h"
#include "projectarchive.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "treeremoval.h"

#include <QDir>

#include <zlib.h>

namespace {

bool isInside(const QString &path, const std::string &dir)
{
    return QFile::encodeName(path).startsWith(QByteArray::fromStdString(dir + "/"));
}

#ifdef FUZZ_GZIP_INPUT
QByteArray gzipped(const uint8_t *data, size_t size)
{
    z_stream zs{};
    if (deflateInit2(&zs, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        FuzzSupport::fail("deflateInit2");
    QByteArray out(int(deflateBound(&zs, uLong(size))) + 64, Qt::Uninitialized);
    zs.next_in = const_cast<Bytef *>(data);
    zs.avail_in = uInt(size);
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
        FuzzSupport::fail("deflate");
    out.truncate(int(zs.total_out));
    deflateEnd(&zs);
    return out;
}
#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    FuzzSupport::sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = FuzzSupport::sandbox().workPath("input" FUZZ_SUFFIX);
    const QString output = FuzzSupport::sandbox().workPath("stored.tgz");
    QFile::remove(output);
#ifdef FUZZ_GZIP_INPUT
    const QByteArray bytes = gzipped(data, size);
    if (!FuzzSupport::writeFile(input, reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())))
        FuzzSupport::fail("cannot write the input");
#else
    if (!FuzzSupport::writeFile(input, data, size))
        FuzzSupport::fail("cannot write the input");
#endif

    const QString unpacked = Archive::extractArchive(input);
    if (!unpacked.isEmpty()) {
        if (!isInside(unpacked, FuzzSupport::sandbox().tmp()))
            FuzzSupport::fail("unpacked outside the temporary directory:", unpacked.toStdString());
        removeDirectoryTree(unpacked);
    }
    FuzzSupport::sandbox().check({"input" FUZZ_SUFFIX});

    ProjectEntity project;
    if (Workspace::loadProject(project, input)) {
        if (!isInside(project.extractedPath(), FuzzSupport::sandbox().tmp()) || !isInside(project.extractedBackupPath(), FuzzSupport::sandbox().tmp()))
            FuzzSupport::fail("a project tree outside the temporary directory");
        Workspace::validateNewSettings(project);
        Workspace::storeCurrentProject(project, output);
    }
    Workspace::unloadProject(project);
    QFile::remove(output);
    FuzzSupport::sandbox().check({"input" FUZZ_SUFFIX});
    return 0;
}
