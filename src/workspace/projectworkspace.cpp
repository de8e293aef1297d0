#include "projectworkspace.h"

#include "projectarchive.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "dircopy.h"
#include "logging.h"
#include "mac.h"
#include "projectentity.h"
#include "tarpatch.h"
#include "treeremoval.h"
#include "xmlio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Workspace {

const QString tandoType = QStringLiteral("TANDO/QL3");
const QString ksb12Type = QStringLiteral("KSB12");

namespace {

constexpr int ksb12LabelSize = 16;
const QString colon = QStringLiteral(":");
const QString underscore = QStringLiteral("_");

void removeTree(const QString &path)
{
    // An empty path names no directory; it must never stand for the current one.
    if (path.isEmpty())
        return;
    removeDirectoryTree(path);
}

// The default listing of a directory: files and directories alike, hidden
// ones left out, sorted by name without regard to case.
QStringList listEntries(const QDir &dir)
{
    return dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

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

QString readKsb12Label(const QString &prefsPath)
{
    QFile prefs(prefsPath);
    if (!prefs.open(QIODevice::ReadOnly)) {
        qCDebug(lcWorkspace) << "Error while loading file";
        return QString();
    }
    QByteArray bytes = prefs.read(ksb12LabelSize);
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromUtf8(bytes);
}

QString readTandoLabel(const QString &prefsPath)
{
    const QDomDocument doc = Xml::loadXml(prefsPath);
    return doc.documentElement().firstChild().firstChild().nodeValue();
}

void readFamily(ProjectEntity &project, const QDir &familyDir, const QString &type,
                QList<QObject *> &devices)
{
    const bool isKsb12 = type == ksb12Type;
    for (const QString &entry : listEntries(familyDir)) {
        const QString prefsPath = familyDir.filePath(entry + QStringLiteral("/prefs"));
        const QString label = isKsb12 ? readKsb12Label(prefsPath) : readTandoLabel(prefsPath);
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

QDir familyDir(const ProjectEntity &project, const DeviceEntity &device)
{
    return device.deviceType() == ksb12Type ? project.ksb12DevicesDir() : project.tandoDevicesDir();
}

bool isKnownType(const DeviceEntity &device)
{
    return device.deviceType() == tandoType || device.deviceType() == ksb12Type;
}

// Loads an XML file of the working tree for rewriting. A file that is missing
// or not well-formed is left exactly as it is.
bool openForRewrite(const QString &path, QDomDocument &doc)
{
    Xml::XmlFile file = Xml::readXml(path);
    if (!file.readable)
        return false;
    if (!file.wellFormed) {
        qCDebug(lcWorkspace).noquote() << "Not well-formed, left as it is: " + path;
        return false;
    }
    doc = file.document;
    return true;
}

// The rewrites below answer false only when a file they should change was not
// written (a full disk, a document that would not read back): the archive
// would then miss an edit.
bool storeSettings(const ProjectEntity &project)
{
    QDomDocument doc;
    const QString path = project.projectFilePath();
    if (!openForRewrite(path, doc))
        return true;
    Xml::setFirstElementText(doc, QStringLiteral("name"), project.name());
    Xml::setFirstElementText(doc, QStringLiteral("author"), project.author());
    Xml::setFirstElementText(doc, QStringLiteral("description"), project.description());
    return Xml::saveXml(doc, path);
}

bool storeTandoLabel(const QString &prefsPath, const QString &label)
{
    QDomDocument doc;
    if (!openForRewrite(prefsPath, doc))
        return true;
    Xml::setFirstElementText(doc, QStringLiteral("UnitName"), label);
    return Xml::saveXml(doc, prefsPath);
}

bool storeProfiles(const ProjectEntity &project, const QString &deviceDirName,
                   const QMap<QString, DeviceEntity *> &byOldMac)
{
    bool ok = true;
    for (const QString &path : project.profileFiles(deviceDirName)) {
        QDomDocument doc;
        if (!openForRewrite(path, doc))
            continue;
        const QDomNodeList macs = doc.elementsByTagName(QStringLiteral("mac"));
        const QDomNodeList names = doc.elementsByTagName(QStringLiteral("unitname"));
        for (int i = 0; i < macs.size(); ++i) {
            QDomNode macText = macs.item(i).firstChild();
            const QString key = Mac::normalizeMac(macText.nodeValue(), colon);
            const DeviceEntity *match = byOldMac.value(key);
            if (!match)
                continue;
            if (!macText.isNull())
                macText.setNodeValue(Mac::normalizeMac(match->newMac(), colon));
            QDomNode nameText = names.item(i).firstChild();
            if (!nameText.isNull())
                nameText.setNodeValue(match->newLabel());
        }
        ok = Xml::saveXml(doc, path) && ok;
    }
    return ok;
}

bool storeKsb12Label(const QString &prefsPath, const DeviceEntity &device)
{
    // An unedited label keeps its bytes exactly, whatever encoding they were in.
    if (device.newLabel() == device.oldLabel())
        return true;
    QFile prefs(prefsPath);
    if (!prefs.open(QIODevice::ReadWrite)) {
        qCDebug(lcWorkspace) << "Error while loading file";
        return false;
    }
    QByteArray bytes = QTextCodec::codecForName("ISO-8859-1")->fromUnicode(device.newLabel());
    bytes = bytes.left(ksb12LabelSize);
    bytes.append(ksb12LabelSize - bytes.size(), '\0');
    if (prefs.write(bytes) != ksb12LabelSize || !prefs.flush()) {
        qCDebug(lcWorkspace).noquote() << "Failed to write " + prefsPath + ": " + prefs.errorString();
        return false;
    }
    return true;
}

bool storeLabels(const ProjectEntity &project, const QMap<QString, DeviceEntity *> &byOldMac)
{
    bool ok = true;
    for (const DeviceEntity *device : devicesOf(project)) {
        if (!isKnownType(*device))
            continue;
        const QString dirName = Mac::normalizeMac(device->oldMac(), underscore);
        const QString prefsPath = familyDir(project, *device).filePath(dirName + QStringLiteral("/prefs"));
        if (device->deviceType() == tandoType) {
            ok = storeTandoLabel(prefsPath, device->newLabel()) && ok;
            ok = storeProfiles(project, dirName, byOldMac) && ok;
        } else {
            ok = storeKsb12Label(prefsPath, *device) && ok;
        }
    }
    return ok;
}

// Renames in two steps, through unique intermediate names, so that devices
// that swap addresses do not block each other. False when any rename failed.
bool renameDeviceDirectories(const ProjectEntity &project)
{
    struct Move
    {
        QDir dir;
        QString from;
        QString through;
        QString to;
    };
    QList<Move> moves;
    bool ok = true;
    int counter = 0;
    for (const DeviceEntity *device : devicesOf(project)) {
        if (!isKnownType(*device))
            continue;
        const QString from = Mac::normalizeMac(device->oldMac(), underscore);
        const QString to = Mac::normalizeMac(device->newMac(), underscore);
        if (from == to)
            continue;
        Move move{familyDir(project, *device), from,
                  QStringLiteral(".renaming-%1-%2").arg(++counter).arg(from), to};
        if (!move.dir.rename(move.from, move.through)) {
            qCDebug(lcWorkspace).noquote() << "Cannot rename device directory " + move.dir.filePath(from);
            ok = false;
            continue;
        }
        moves.append(move);
    }
    for (Move &move : moves) {
        if (!move.dir.rename(move.through, move.to)) {
            qCDebug(lcWorkspace).noquote() << "Cannot rename device directory " + move.dir.filePath(move.from)
                    + " to " + move.to;
            ok = false;
        }
    }
    return ok;
}

// The name of the intermediate tar: the target's file name with ".tgz"
// replaced by ".tar", so that the gzip header names a tar again.
QString tarNameFor(const QString &outpath)
{
    QString name = QFileInfo(outpath).fileName();
    if (name.endsWith(QLatin1String(".tgz"), Qt::CaseInsensitive))
        name.chop(4);
    return name + QStringLiteral(".tar");
}

// Packs the working tree into a new archive beside the target and moves it
// over the target only when every step succeeded.
bool writeArchive(const ProjectEntity &project, const QString &outpath)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        qCDebug(lcWorkspace) << "Couldnt create temorary file";
        return false;
    }
    const QString tarPath = scratch.filePath(tarNameFor(outpath));

    const QFileInfo target(outpath);
    QTemporaryFile partial(target.absolutePath() + QStringLiteral("/.") + target.fileName()
                           + QStringLiteral(".XXXXXX.part"));
    if (!partial.open()) {
        qCDebug(lcWorkspace).noquote() << "Cannot write beside " + outpath + ": " + partial.errorString();
        return false;
    }
    partial.close();

    if (!Archive::packTar(project.extractedPath(), tarPath))
        return false;
    if (!patchTarDevicePaths(project, tarPath)) {
        qCDebug(lcWorkspace).noquote() << "Patching device names failed in " + tarPath;
        return false;
    }
    if (!Archive::packGzip(tarPath, partial.fileName()))
        return false;
    if (std::rename(QFile::encodeName(partial.fileName()).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        qCDebug(lcWorkspace).noquote() << "Cannot replace " + outpath + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    partial.setAutoRemove(false);
    return true;
}

} // namespace

bool loadProject(ProjectEntity &project, const QString &path)
{
    const QString archivePath = archivePathFrom(path);
    const QString ex = Archive::extractArchive(archivePath);
    if (ex.isEmpty()) {
        unloadProject(project);
        return false;
    }

    if (archivePath.endsWith(QLatin1String(".tgz"))) {
        const QDir gzipLayer(ex);
        const QStringList tars = gzipLayer.entryList({QStringLiteral("*.tar")}, QDir::AllEntries | QDir::NoDotAndDotDot,
                                                     QDir::Name | QDir::IgnoreCase);
        if (tars.size() == 1) {
            const bool loaded = loadProject(project, gzipLayer.filePath(tars.first()));
            // The gzip layer has served its purpose once the tar is unpacked.
            removeTree(ex);
            return loaded;
        }
    }

    if (!QFileInfo(QDir(ex).filePath(QStringLiteral("active-project"))).isDir()) {
        qCDebug(lcWorkspace) << "Couldn't find active-project";
        removeTree(ex);
        return false;
    }

    // A project loaded before this one no longer owns its trees once replaced.
    const QString previousWork = project.loaded() ? project.extractedPath() : QString();
    const QString previousBackup = project.loaded() ? project.extractedBackupPath() : QString();

    // Without its backup a store could not restore the working tree (it
    // would remove it and fail): a project that does not fit twice is refused.
    const QString backup = Archive::extractArchive(archivePath);
    if (backup.isEmpty()) {
        qCDebug(lcWorkspace) << "Couldn't unpack the backup copy";
        removeTree(ex);
        return false;
    }
    project.setExtractedPath(ex);
    project.setExtractedBackupPath(backup);
    removeTree(previousWork);
    removeTree(previousBackup);

    const QDomDocument doc = Xml::loadXml(project.projectFilePath());
    project.setName(Xml::firstElementText(doc, QStringLiteral("name")));
    project.setAuthor(Xml::firstElementText(doc, QStringLiteral("author")));
    project.setDescription(Xml::firstElementText(doc, QStringLiteral("description")));

    QList<QObject *> devices;
    readFamily(project, project.ksb12DevicesDir(), ksb12Type, devices);
    readFamily(project, project.tandoDevicesDir(), tandoType, devices);
    project.devices()->append(devices);

    project.setLoaded(true);
    return true;
}

void unloadProject(ProjectEntity &project)
{
    project.devices()->clear();
    if (!project.loaded())
        return;
    removeTree(project.extractedPath());
    removeTree(project.extractedBackupPath());
    project.setLoaded(false);
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
    QList<QPair<QByteArray, QByteArray>> replacements;
    QTextCodec *latin1 = QTextCodec::codecForName("ISO-8859-1");
    for (const DeviceEntity *device : devicesOf(project)) {
        if (!isKnownType(*device))
            continue;
        const QString family = device->deviceType() == tandoType ? QStringLiteral("active-project/devices/tando/")
                                                                 : QStringLiteral("active-project/devices/ksb12/");
        const QByteArray find = latin1->fromUnicode(family + Mac::normalizeMac(device->newMac(), underscore));
        const QByteArray replace = latin1->fromUnicode(family + Mac::normalizeMac(device->newMac(), colon));
        if (find != replace)
            replacements.append({find, replace});
    }
    return TarPatch::patchTarNames(tarPath, replacements);
}

bool storeCurrentProject(ProjectEntity &project, const QString &outpath)
{
    if (outpath.isEmpty())
        return false;
    // Without a working tree there is nothing to edit, and no other directory may stand in for it.
    if (!project.loaded() || project.extractedPath().isEmpty())
        return false;

    const QMap<QString, DeviceEntity *> byOldMac = devicesByOldMac(project);
    const bool settingsStored = storeSettings(project);
    const bool labelsStored = storeLabels(project, byOldMac);
    const bool renamed = renameDeviceDirectories(project);
    const bool written = settingsStored && labelsStored && renamed && writeArchive(project, outpath);

    removeTree(project.extractedPath());
    // Exactly as loaded, hidden files and names in any byte form included:
    // the next store starts from the whole project again.
    if (!copyDirectoryExactly(project.extractedBackupPath(), project.extractedPath())) {
        qCDebug(lcWorkspace) << "Issue when returning back to old project file";
        return false;
    }
    if (!written)
        return false;

    project.setState(outpath + QStringLiteral(" saved"));
    return true;
}

} // namespace Workspace
