#include "projectworkspace.h"

#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "labels.h"
#include "logging.h"
#include "mac.h"
#include "archivehandles.h"
#include "posixfile.h"
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

void readFamily(ProjectEntity &project, const QDir &familyDir, const QString &type, QList<QObject *> &devices)
{
    const bool isKsb12 = type == ksb12Type;
    for (const QString &entry : listEntries(familyDir)) {
        const QString prefsPath = familyDir.filePath(entry + QStringLiteral("/prefs"));
        const QString label = isKsb12 ? Labels::readKsb12Label(prefsPath) : Labels::readTandoLabel(prefsPath);
        const QString mac = Mac::normalizeMac(entry, colon);
        auto *device = new DeviceEntity(&project);
        device->setOldLabel(label);
        device->setOldMac(mac);
        device->setNewLabel(label);
        device->setNewMac(mac);
        device->setDeviceType(type);
        device->setLabelEditable(!isKsb12);
        devices.append(device);
    }
}

QList<DeviceEntity *> devicesOf(const ProjectEntity &project)
{
    return project.devices()->objectsOfType<DeviceEntity>();
}

// The last steps of a load: the unpacked trees become the project's (the
// trees of a project loaded before are removed), its settings and devices
// are read. A project view never mixes two archives.
void adoptTrees(ProjectEntity &project, const QString &work, const QString &backup)
{
    if (project.loaded())
        discardTrees(project);
    project.devices()->clear();
    project.setExtractedPath(work);
    project.setExtractedBackupPath(backup);

    const QDomDocument doc = Xml::loadXml(project.projectFilePath());
    project.setName(Xml::firstElementText(doc, QStringLiteral("name")));
    project.setAuthor(Xml::firstElementText(doc, QStringLiteral("author")));
    project.setDescription(Xml::firstElementText(doc, QStringLiteral("description")));
    project.setLoadedSettings(project.settings());

    QList<QObject *> devices;
    readFamily(project, project.ksb12DevicesDir(), ksb12Type, devices);
    readFamily(project, project.tandoDevicesDir(), tandoType, devices);
    project.devices()->append(devices);
    project.setLoaded(true);
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
    *work = Archive::newTemporaryDirectory();
    *backup = work->isEmpty() ? QString() : Archive::newTemporaryDirectory();
    if (!backup->isEmpty())
        return Result::success();
    removeDirectoryTree(*work);
    return Result::failure(QStringLiteral("Cannot make a temporary directory in %1").arg(QDir::tempPath()));
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

Result loadProject(ProjectEntity &project, const QString &path, JobControl *control)
{
    const QString archivePath = archivePathFrom(path);
    QString work;
    QString backup;
    Result result = newTrees(&work, &backup);
    // The backup tree is written from the same reading as the working tree;
    // a project that cannot be written twice is refused.
    if (result)
        result = Archive::unpackTrees(archivePath, {work, backup}, deviceDirectoryMapper(), control);
    if (!result) {
        removeDirectoryTrees({work, backup});
        unloadProject(project);
        return result;
    }
    if (!QFileInfo(QDir(work).filePath(QStringLiteral("active-project"))).isDir()) {
        qCDebug(lcWorkspace) << "Couldn't find active-project";
        removeDirectoryTrees({work, backup});
        return Result::failure(QStringLiteral("%1 holds no project (no active-project folder)").arg(archivePath));
    }
    adoptTrees(project, work, backup);
    return Result::success();
}

void unloadProject(ProjectEntity &project)
{
    project.devices()->clear();
    if (!project.loaded())
        return;
    discardTrees(project);
    project.setLoaded(false);
}

void discardTrees(ProjectEntity &project)
{
    if (project.loaded())
        removeDirectoryTrees({project.extractedPath(), project.extractedBackupPath()});
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
    return TarPatch::patchTarNames(tarPath, devicePathPatches(project));
}

Result storeCurrentProject(ProjectEntity &project, const QString &outpath, JobControl *control)
{
    if (outpath.isEmpty())
        return Result::failure(QStringLiteral("No file to store to"));
    // Without a working tree there is nothing to edit, and no other directory may stand in for it.
    if (!project.loaded() || project.extractedPath().isEmpty())
        return Result::failure(QStringLiteral("No project is loaded"));

    StorePlan plan;
    if (const Result planned = planStore(project, &plan); !planned)
        return planned;
    ReplacementFile partial(outpath);
    Result result = partial.open();
    Archive::Fd output;
    if (result) {
        output.reset(::open(QFile::encodeName(partial.path()).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (!output.valid())
            result = Result::failure(QStringLiteral("Cannot write %1: %2").arg(partial.path(), Archive::errnoText(errno)));
    }
    if (result) {
        Archive::PackOutput out;
        out.fd = output.get();
        out.gzipMember = QFile::encodeName(tarNameFor(outpath));
        out.gzipTime = quint32(plan.overlay.now);
        result = Archive::packTree(project.extractedPath(), plan.overlay, plan.namePatches, out, control);
    }
    if (result) {
        if (const QString error = output.close(); !error.isEmpty())
            result = Result::failure(QStringLiteral("Cannot write %1: %2").arg(partial.path(), error));
    }
    if (result)
        result = partial.commit();
    if (!result) {
        qCDebug(lcWorkspace).noquote() << result.reason();
        return result;
    }
    project.setState(outpath + QStringLiteral(" saved"));
    return result;
}

} // namespace Workspace
