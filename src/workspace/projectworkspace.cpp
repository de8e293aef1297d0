#include "projectworkspace.h"

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "labels.h"
#include "logging.h"
#include "mac.h"
#include "archivehandles.h"
#include "posixfile.h"
#include "projectdata.h"
#include "projectentity.h"
#include "replacementfile.h"
#include "scratchdir.h"
#include "storeplan.h"
#include "tarpatch.h"
#include "treeremoval.h"
#include "xmlio.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace Workspace {

const QString tandoType = QStringLiteral("TANDO/QL3");
const QString ksb12Type = QStringLiteral("KSB12");

namespace {

const QString colon = QStringLiteral(":");

QString archivePathFrom(const QString &path)
{
    // A file URL becomes a local path; the leading "/" of the path stays.
    if (path.startsWith(QLatin1String("file:"))) {
        const QUrl url(path);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return path;
}

// The default listing of a directory: files and directories alike, hidden
// ones left out, sorted by name without regard to case.
QStringList listEntries(const QDir &dir)
{
    return dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

// One record per entry of a family directory, its label read from the
// device's prefs file.
void readFamily(const ProjectTree &tree, const QString &type, QList<DeviceRecord> *devices)
{
    const bool isKsb12 = type == ksb12Type;
    const QDir familyDir(tree.familyDir(type));
    for (const QString &entry : listEntries(familyDir)) {
        const QString prefsPath = familyDir.filePath(entry + QStringLiteral("/prefs"));
        DeviceRecord device;
        device.type = type;
        device.oldLabel = device.newLabel = isKsb12 ? Labels::readKsb12Label(prefsPath) : Labels::readTandoLabel(prefsPath);
        device.oldMac = device.newMac = Mac::normalizeMac(entry, colon);
        devices->append(device);
    }
}

QList<DeviceEntity *> devicesOf(const ProjectEntity &project)
{
    return project.devices()->objectsOfType<DeviceEntity>();
}


// What the working tree holds: the settings and the devices.
void readProject(LoadedProject *loaded)
{
    const ProjectTree tree{loaded->work};
    const QDomDocument doc = Xml::loadXml(tree.projectFile());
    loaded->settings.name = Xml::firstElementText(doc, QStringLiteral("name"));
    loaded->settings.author = Xml::firstElementText(doc, QStringLiteral("author"));
    loaded->settings.description = Xml::firstElementText(doc, QStringLiteral("description"));
    readFamily(tree, ksb12Type, &loaded->devices);
    readFamily(tree, tandoType, &loaded->devices);
}

// Device directories are named by MAC address; on the disk they always carry
// the lower-case underscore form, whatever form the archive used.
QByteArray deviceDirectoryName(const QByteArray &name)
{
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        QByteArray mapped = name;
        return mapped.replace(':', '_');
    }
    QString mapped = Mac::normalizeMac(QString::fromLatin1(name), QStringLiteral("_"));
    mapped.replace(QLatin1Char(':'), QLatin1Char('_'));
    return mapped.toLatin1();
}

// The name of the gzip member of a stored archive: the target's file name
// with ".tgz" replaced by ".tar", so that the gzip header names a tar again.
QString tarNameFor(const QString &outpath)
{
    QString name = QFileInfo(outpath).fileName();
    if (name.endsWith(QLatin1String(".tgz"), Qt::CaseInsensitive))
        name.chop(4);
    return name + QStringLiteral(".tar");
}

Result newTrees(QString *work, QString *backup)
{
    Result problem;
    *work = Archive::newTemporaryDirectory(&problem);
    *backup = work->isEmpty() ? QString() : Archive::newTemporaryDirectory(&problem);
    if (backup->isEmpty())
        removeDirectoryTree(*work);
    return problem;
}

// The trees of a load that will not be adopted.
void discardLoaded(const LoadedProject &loaded)
{
    removeDirectoryTrees({loaded.work, loaded.backup});
}

} // namespace

Archive::NameMapper deviceDirectoryMapper()
{
    // family/normal name -> the spelling first seen, for this one unpacking
    auto seen = std::make_shared<QHash<QByteArray, QByteArray>>();
    return [seen](QByteArrayList *parts) -> QString {
        if (parts->size() < 4 || parts->at(0) != "active-project" || parts->at(1) != "devices"
            || (parts->at(2) != "tando" && parts->at(2) != "ksb12"))
            return QString();
        const QByteArray original = parts->at(3);
        (*parts)[3] = deviceDirectoryName(original);
        const QByteArray key = parts->at(2) + '/' + parts->at(3);
        const auto first = seen->constFind(key);
        if (first == seen->cend())
            seen->insert(key, original);
        else if (*first != original)
            return QStringLiteral("names the same device as active-project/devices/%1")
                .arg(Archive::shown(parts->at(2) + '/' + *first));
        return QString();
    };
}

Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded)
{
    const QString archivePath = archivePathFrom(path);
    Result result = newTrees(&loaded->work, &loaded->backup);
    // The backup tree is written from the same reading as the working tree;
    // a project that cannot be written twice is refused.
    if (result)
        result = Archive::unpackTrees(archivePath, {loaded->work, loaded->backup}, deviceDirectoryMapper(), control,
                                     &loaded->tarBytes);
    loaded->unpacked = result.ok();
    if (result && !QFileInfo(QDir(loaded->work).filePath(QStringLiteral("active-project"))).isDir()) {
        qCDebug(lcWorkspace) << "Couldn't find active-project";
        result = Result::failure(QStringLiteral("%1 holds no project (no active-project folder)").arg(archivePath));
    }
    if (result && control && control->isCancelled())
        result = Result::failure(QStringLiteral("Cannot load %1: cancelled").arg(archivePath));
    if (result)
        readProject(loaded);
    else
        discardLoaded(*loaded);
    return result;
}

void adoptProject(ProjectEntity &project, const LoadedProject &loaded, const TreeDisposal &dispose)
{
    // A project view never mixes two archives: what was loaded before goes.
    if (project.loaded())
        discardTrees(project, dispose);
    project.devices()->clear();
    project.setExtractedPath(loaded.work);
    project.setExtractedBackupPath(loaded.backup);
    project.setName(loaded.settings.name);
    project.setAuthor(loaded.settings.author);
    project.setDescription(loaded.settings.description);
    project.setLoadedSettings(loaded.settings);
    project.setLoadedTarBytes(loaded.tarBytes);

    QList<QObject *> devices;
    for (const DeviceRecord &record : loaded.devices) {
        auto *device = new DeviceEntity(&project);
        device->setOldLabel(record.oldLabel);
        device->setOldMac(record.oldMac);
        device->setNewLabel(record.newLabel);
        device->setNewMac(record.newMac);
        device->setDeviceType(record.type);
        device->setLabelEditable(record.type != ksb12Type);
        devices.append(device);
    }
    project.devices()->append(devices);
    project.setLoaded(true);
}

Result loadProject(ProjectEntity &project, const QString &path, JobControl *control)
{
    LoadedProject loaded;
    return finishLoad(project, unpackProject(path, control, &loaded), loaded);
}

Result finishLoad(ProjectEntity &project, const Result &result, const LoadedProject &loaded,
                  const TreeDisposal &dispose)
{
    if (!result) {
        // After a failed unpacking no project stays loaded; an archive that
        // holds no project leaves the loaded one as it was.
        if (!loaded.unpacked)
            unloadProject(project, dispose);
        return result;
    }
    adoptProject(project, loaded, dispose);
    return result;
}

void unloadProject(ProjectEntity &project, const TreeDisposal &dispose)
{
    project.devices()->clear();
    if (!project.loaded())
        return;
    discardTrees(project, dispose);
    project.setLoaded(false);
}

void discardTrees(ProjectEntity &project, const TreeDisposal &dispose)
{
    if (!project.loaded())
        return;
    const QStringList trees{project.extractedPath(), project.extractedBackupPath()};
    if (dispose)
        dispose(trees);
    else
        removeDirectoryTrees(trees);
}

bool validateNewSettings(ProjectEntity &project)
{
    const QList<DeviceEntity *> devices = devicesOf(project);
    for (DeviceEntity *device : devices)
        device->setIssue(QString());

    bool valid = true;
    for (DeviceEntity *device : devices) {
        if (!Mac::isValidMacSyntax(device->newMac())) {
            device->setIssue(QStringLiteral("This is not a valid MAC"));
            valid = false;
        }
    }
    if (!valid)
        return false;

    QSet<QString> seen;
    for (DeviceEntity *device : devices) {
        const QString key = Mac::normalizeMac(device->newMac(), colon);
        if (seen.contains(key)) {
            device->setIssue(QStringLiteral("This MAC address is already assigned"));
            valid = false;
        }
        seen.insert(key);
    }
    return valid;
}

QMap<QString, DeviceEntity *> devicesByOldMac(const ProjectEntity &project)
{
    QMap<QString, DeviceEntity *> index;
    for (DeviceEntity *device : devicesOf(project))
        index.insert(Mac::normalizeMac(device->oldMac(), colon), device);
    return index;
}

bool patchTarDevicePaths(const ProjectEntity &project, const QString &tarPath)
{
    return TarPatch::patchTarNames(tarPath, devicePathPatches(storeRequest(project, QString()).devices));
}

StoreRequest storeRequest(const ProjectEntity &project, const QString &outpath)
{
    StoreRequest request;
    request.tree.root = project.loaded() ? project.extractedPath() : QString();
    request.settings = project.settings();
    request.loadedSettings = project.loadedSettings();
    for (const DeviceEntity *device : devicesOf(project))
        request.devices.append({device->deviceType(), device->oldMac(), device->newMac(), device->oldLabel(),
                                device->newLabel()});
    request.outpath = outpath;
    request.tarBytes = project.loadedTarBytes();
    return request;
}

Result storeProject(const StoreRequest &request, JobControl *control)
{
    if (request.outpath.isEmpty())
        return Result::failure(QStringLiteral("No file to store to"));
    // Without a working tree there is nothing to edit, and no other directory may stand in for it.
    if (request.tree.root.isEmpty())
        return Result::failure(QStringLiteral("No project is loaded"));
    StorePlan plan;
    Result result = planStore(request, &plan);
    ReplacementFile partial(request.outpath);
    if (result)
        result = partial.open();
    Archive::Fd output;
    if (result) {
        output.reset(::open(QFile::encodeName(partial.path()).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (!output.valid())
            result = Result::failure(QStringLiteral("Cannot write %1: %2").arg(partial.path(), Archive::errnoText(errno)));
    }
    if (result) {
        Archive::PackOutput out;
        out.fd = output.get();
        out.gzipMember = QFile::encodeName(tarNameFor(request.outpath));
        out.gzipTime = quint32(plan.overlay.now);
        out.expectedTarBytes = request.tarBytes;
        result = Archive::packTree(request.tree.root, plan.overlay, plan.namePatches, out, control);
    }
    if (result) {
        if (const QString error = output.close(); !error.isEmpty())
            result = Result::failure(QStringLiteral("Cannot write %1: %2").arg(partial.path(), error));
    }
    if (result)
        result = partial.commit();
    if (!result)
        qCDebug(lcWorkspace).noquote() << result.reason();
    return result;
}

Result storeCurrentProject(ProjectEntity &project, const QString &outpath, JobControl *control)
{
    const Result result = storeProject(storeRequest(project, outpath), control);
    if (result)
        markStored(project, outpath);
    return result;
}

void markStored(ProjectEntity &project, const QString &outpath)
{
    project.setState(outpath + QStringLiteral(" saved"));
}

} // namespace Workspace
