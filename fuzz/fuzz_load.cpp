// An arbitrary byte string opened as a project: unpacked on its own, then
// loaded, stored when it loads, and unloaded. FUZZ_SUFFIX (".tgz" or ".tar")
// decides which way loading takes. After each input nothing may be left in
// the temporary directory and nothing may have appeared outside it.

#include "fuzzsupport.h"
#include "projectarchive.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "treeremoval.h"

#include <QDir>

namespace {

bool isInside(const QString &path, const std::string &dir)
{
    return QFile::encodeName(path).startsWith(QByteArray::fromStdString(dir + "/"));
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
    const QString input = FuzzSupport::sandbox().workPath("input" FUZZ_SUFFIX);
    const QString output = FuzzSupport::sandbox().workPath("stored.tgz");
    QFile::remove(output);
    if (!FuzzSupport::writeFile(input, data, size))
        FuzzSupport::fail("cannot write the input");

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
