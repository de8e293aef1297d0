// SPDX-License-Identifier: GPL-3.0-or-later
// An arbitrary byte string opened as a project: loaded, stored when it
// loads, the stored archive loaded again, and unloaded. With FUZZ_GZIP_INPUT
// the bytes are gzipped first, so that the tar layer behind the gzip decoder
// is reached (random bytes rarely pass a gzip CRC); without, they are the
// archive file as it is (gzip or tar, told by the content). Nothing may be
// written to the temporary directory at any time, nor anywhere but the
// stored archive; what the editor stores it must open again as the same
// project.

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "fuzzsupport.h"
#include "projectentity.h"
#include "projectworkspace.h"

#include <QStringList>

#include <zlib.h>

namespace {

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

// What the editor shows of a project. The devices are sorted: a store moves
// device directories to the colon form of their MAC, which may list them in
// another order.
QStringList shown(const ProjectEntity &project)
{
    QStringList devices;
    for (const DeviceEntity *d : project.devices()->objectsOfType<DeviceEntity>())
        devices.append(d->deviceType() + '|' + d->oldMac() + '|' + d->oldLabel());
    devices.sort();
    return QStringList{project.name(), project.author(), project.description()} + devices;
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
    const char *const inputName = "input" FUZZ_SUFFIX;
    const QString input = FuzzSupport::sandbox().workPath(inputName);
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

    ProjectEntity project;
    if (Workspace::loadProject(project, input)) {
        FuzzSupport::sandbox().check({inputName});
        Workspace::validateNewSettings(project);
        const bool stored = Workspace::storeCurrentProject(project, output).ok();
        // A failed store leaves nothing beside its target.
        FuzzSupport::sandbox().check(stored ? std::set<std::string>{inputName, "stored.tgz"} : std::set<std::string>{inputName});
        if (stored) {
            ProjectEntity again;
            if (!Workspace::loadProject(again, output))
                FuzzSupport::fail("the stored archive does not load");
            if (shown(again) != shown(project))
                FuzzSupport::fail("the stored archive is another project:", shown(again).join('\n').toStdString());
            Workspace::unloadProject(again);
        }
    }
    Workspace::unloadProject(project);
    QFile::remove(output);
    FuzzSupport::sandbox().check({inputName});
    return 0;
}
