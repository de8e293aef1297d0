#include "projectworkspace.h"

#include "projectarchive.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "dircopy.h"
#include "logging.h"
#include "mac.h"
#include "projectentity.h"
#include "tarpatch.h"
#include "workspaceinternal.h"
#include "treeremoval.h"
#include "xmlio.h"
#include "labels.h"
#include "replacementfile.h"

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <optional>

namespace Workspace {

const QString tandoType = QStringLiteral("TANDO/QL3");
const QString ksb12Type = QStringLiteral("KSB12");

namespace {

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

void readFamily(ProjectEntity &project, const QDir &familyDir, const QString &type,
                QList<QObject *> &devices)
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

// Every "mac" that names a device by its old MAC gets the new one, its
// paired "unitname" the device's new label.
void rewriteProfile(QDomDocument &doc, const QMap<QString, DeviceEntity *> &byOldMac)
{
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
}

bool storeProfiles(const ProjectEntity &project, const QString &deviceDirName,
                   const QMap<QString, DeviceEntity *> &byOldMac)
{
    bool ok = true;
    for (const QString &path : project.profileFiles(deviceDirName)) {
        QDomDocument doc;
        if (!openForRewrite(path, doc))
            continue;
        rewriteProfile(doc, byOldMac);
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
    const QByteArray bytes = Labels::ksb12LabelBytes(device.newLabel());
    if (prefs.write(bytes) != Labels::ksb12LabelSize || !prefs.flush()) {
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

// One device directory that a store renames, in its family directory: from
// the old name through a unique hidden intermediate name to the new one.
struct DeviceMove
{
    QString dirPath;
    QString from;
    QString through;
    QString to;
};

QList<DeviceMove> plannedMoves(const ProjectEntity &project)
{
    QList<DeviceMove> moves;
    int counter = 0;
    for (const DeviceEntity *device : devicesOf(project)) {
        if (!isKnownType(*device))
            continue;
        const QString from = Mac::normalizeMac(device->oldMac(), underscore);
        const QString to = Mac::normalizeMac(device->newMac(), underscore);
        if (from != to)
            moves.append({familyDir(project, *device).absolutePath(), from,
                          QStringLiteral(".renaming-%1-%2").arg(++counter).arg(from), to});
    }
    return moves;
}

// Renames in two steps, so that devices that swap addresses do not block
// each other. False when any rename failed.
bool renameDeviceDirectories(const ProjectEntity &project)
{
    bool ok = true;
    QList<DeviceMove> moved;
    for (const DeviceMove &move : plannedMoves(project)) {
        if (!QDir(move.dirPath).rename(move.from, move.through)) {
            qCDebug(lcWorkspace).noquote() << "Cannot rename device directory " + move.dirPath + "/" + move.from;
            ok = false;
            continue;
        }
        moved.append(move);
    }
    for (const DeviceMove &move : moved) {
        if (!QDir(move.dirPath).rename(move.through, move.to)) {
            qCDebug(lcWorkspace).noquote() << "Cannot rename device directory " + move.dirPath + "/" + move.from
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

    ReplacementFile partial(outpath);
    if (const Result opened = partial.open(); !opened) {
        qCDebug(lcWorkspace).noquote() << opened.reason();
        return false;
    }

    if (!Archive::packTar(project.extractedPath(), tarPath))
        return false;
    if (!patchTarDevicePaths(project, tarPath)) {
        qCDebug(lcWorkspace).noquote() << "Patching device names failed in " + tarPath;
        return false;
    }
    if (!Archive::packGzip(tarPath, partial.path()))
        return false;
    if (const Result committed = partial.commit(); !committed) {
        qCDebug(lcWorkspace).noquote() << committed.reason();
        return false;
    }
    return true;
}

} // namespace

// Device directories are named by MAC address; on the disk they always carry
// the lower-case underscore form, whatever form the archive used.
static QByteArray deviceDirectoryName(const QByteArray &name)
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

Archive::NameMapper deviceDirectoryMapper()
{
    return [](QByteArrayList *parts) {
        if (parts->size() >= 4 && parts->at(0) == "active-project" && parts->at(1) == "devices"
            && (parts->at(2) == "tando" || parts->at(2) == "ksb12"))
            (*parts)[3] = deviceDirectoryName(parts->at(3));
    };
}

// ---------------------------------------------------------------- fast paths

namespace {

bool fastPathsEnabled = true;

// Working trees whose restore after a store failed: they are no longer as
// loaded, so only the step-by-step store (which restores them) may pack them.
QSet<QString> &unrestoredTrees()
{
    static QSet<QString> trees;
    return trees;
}

// Removes the trees on many threads: most of the time goes into waiting for
// the disk (online discard of every freed extent), and those waits overlap.
void removeTreesTogether(const QString &first, const QString &second)
{
    removeDirectoryTrees({first, second}, 16);
}

// The tar name patches of patchTarDevicePaths.
QList<QPair<QByteArray, QByteArray>> devicePathPatches(const ProjectEntity &project)
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
    return replacements;
}

// What a store would write into the working tree, collected without
// writing it. `usable` turns false as soon as a step meets a case whose
// effect on the disk is not known exactly (links, odd file types, renames
// that would fail); the store then goes step by step instead.
class StoreOverlay
{
public:
    explicit StoreOverlay(const QString &root) : m_root(root), m_rootDir(root) {}

    Archive::TreeOverlay overlay;
    bool usable = true;

    // openForRewrite against the overlaid tree.
    bool openForRewrite(const QString &path, QDomDocument &doc)
    {
        const QByteArray key = relative(path);
        const auto replaced = overlay.files.constFind(key);
        if (replaced != overlay.files.cend()) {
            if (Xml::parseBytes(*replaced, &doc))
                return true;
            qCDebug(lcWorkspace).noquote() << "Not well-formed, left as it is: " + path;
            return false;
        }
        if (!isPlainFile(path, true))
            return false;
        return Workspace::openForRewrite(path, doc);
    }

    // saveXml into the overlay; the directory of the file gets a new
    // modification time as the replacement of the file would give it.
    void saveXml(const QDomDocument &doc, const QString &path)
    {
        const QByteArray key = relative(path);
        QByteArray bytes;
        // A document that cannot be written is left to the step-by-step store, which reports it.
        if (!Xml::toBytes(doc, &bytes)) {
            usable = false;
            return;
        }
        overlay.files.insert(key, bytes);
        overlay.touched.insert(key);
        overlay.touched.insert(parentOf(key));
    }

    // The bytes of a file as the overlaid tree holds them.
    bool currentBytes(const QString &path, QByteArray *bytes)
    {
        const QByteArray key = relative(path);
        const auto replaced = overlay.files.constFind(key);
        if (replaced != overlay.files.cend()) {
            *bytes = *replaced;
            return true;
        }
        if (!isPlainFile(path, false)) {
            usable = false;
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            usable = false;
            return false;
        }
        *bytes = file.readAll();
        return true;
    }

    // Written in place: the file's own time changes, its directory's not.
    void writeInPlace(const QString &path, const QByteArray &bytes)
    {
        const QByteArray key = relative(path);
        overlay.files.insert(key, bytes);
        overlay.touched.insert(key);
    }

    QByteArray relative(const QString &path) const { return QFile::encodeName(m_rootDir.relativeFilePath(path)); }

private:
    static QByteArray parentOf(const QByteArray &key)
    {
        const int slash = key.lastIndexOf('/');
        return slash < 0 ? QByteArray() : key.left(slash);
    }

    // A regular file with one name, reached without symbolic links, that
    // the store could replace. A missing file is left to the reading step,
    // which reports it as the step-by-step store does.
    bool isPlainFile(const QString &path, bool missingIsFine)
    {
        struct stat st {};
        const QByteArray encoded = QFile::encodeName(path);
        if (::lstat(encoded.constData(), &st) != 0) {
            if (errno == ENOENT && missingIsFine && QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath()
                                                        == QDir::cleanPath(QFileInfo(path).absolutePath()))
                return true;
            usable = false;
            return false;
        }
        if (!S_ISREG(st.st_mode) || st.st_nlink != 1
            || QFileInfo(path).canonicalFilePath() != QDir::cleanPath(QFileInfo(path).absoluteFilePath())
            || ::access(encoded.constData(), R_OK | W_OK) != 0
            || ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) != 0) {
            usable = false;
            return false;
        }
        return true;
    }

    QString m_root;
    QDir m_rootDir;
};

void overlaySettings(const ProjectEntity &project, StoreOverlay &store)
{
    QDomDocument doc;
    const QString path = project.projectFilePath();
    if (!store.openForRewrite(path, doc))
        return;
    Xml::setFirstElementText(doc, QStringLiteral("name"), project.name());
    Xml::setFirstElementText(doc, QStringLiteral("author"), project.author());
    Xml::setFirstElementText(doc, QStringLiteral("description"), project.description());
    store.saveXml(doc, path);
}

void overlayTandoLabel(const QString &prefsPath, const QString &label, StoreOverlay &store)
{
    QDomDocument doc;
    if (!store.openForRewrite(prefsPath, doc))
        return;
    Xml::setFirstElementText(doc, QStringLiteral("UnitName"), label);
    store.saveXml(doc, prefsPath);
}

void overlayProfiles(const ProjectEntity &project, const QString &deviceDirName,
                     const QMap<QString, DeviceEntity *> &byOldMac, StoreOverlay &store)
{
    for (const QString &path : project.profileFiles(deviceDirName)) {
        QDomDocument doc;
        if (!store.openForRewrite(path, doc))
            continue;
        rewriteProfile(doc, byOldMac);
        store.saveXml(doc, path);
    }
}

void overlayKsb12Label(const QString &prefsPath, const DeviceEntity &device, StoreOverlay &store)
{
    if (device.newLabel() == device.oldLabel())
        return;
    QByteArray bytes;
    if (!store.currentBytes(prefsPath, &bytes))
        return;
    const QByteArray label = Labels::ksb12LabelBytes(device.newLabel());
    if (bytes.size() < label.size())
        bytes.resize(label.size());
    std::memcpy(bytes.data(), label.constData(), size_t(label.size()));
    store.writeInPlace(prefsPath, bytes);
}

// renameDeviceDirectories played on the names of the family directories.
void overlayRenames(const ProjectEntity &project, StoreOverlay &store)
{
    QHash<QString, QSet<QString>> names; // family directory → its entries now
    auto entriesOf = [&names](const QString &dirPath) -> QSet<QString> & {
        auto it = names.find(dirPath);
        if (it == names.end()) {
            const QStringList list = QDir(dirPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot);
            it = names.insert(dirPath, QSet<QString>(list.cbegin(), list.cend()));
        }
        return *it;
    };
    const QList<DeviceMove> moves = plannedMoves(project);
    for (const DeviceMove &move : moves) {
        QSet<QString> &entries = entriesOf(move.dirPath);
        if (!entries.contains(move.from) || entries.contains(move.through) || move.from.contains(QLatin1Char('/'))
            || move.to.contains(QLatin1Char('/'))) {
            store.usable = false;
            return;
        }
        entries.remove(move.from);
        entries.insert(move.through);
    }
    for (const DeviceMove &move : moves) {
        QSet<QString> &entries = entriesOf(move.dirPath);
        if (entries.contains(move.to) || move.to.isEmpty()) {
            store.usable = false;
            return;
        }
        entries.remove(move.through);
        entries.insert(move.to);
        const QByteArray dirKey = store.relative(move.dirPath);
        store.overlay.renames.insert(dirKey + '/' + QFile::encodeName(move.from), QFile::encodeName(move.to));
        store.overlay.touched.insert(dirKey);
    }
}

// The store without writing into the working tree: the edits go into an
// overlay that the packing reads through, so the tree stays as loaded and
// needs no restore. No value when the overlay cannot stand in exactly.
std::optional<bool> storeThroughOverlay(ProjectEntity &project, const QString &outpath)
{
    const QString root = project.extractedPath();
    const QString backup = project.extractedBackupPath();
    if (unrestoredTrees().contains(root) || backup.isEmpty() || !QFileInfo(backup).isDir()
        || QFileInfo(root).canonicalFilePath() != root)
        return std::nullopt;
    // The partial archive beside a target inside the tree would be packed too.
    const QString targetDir = QFileInfo(QFileInfo(outpath).absolutePath()).canonicalFilePath();
    if (targetDir.isEmpty() || targetDir == root || targetDir.startsWith(root + QLatin1Char('/')))
        return std::nullopt;

    StoreOverlay store(root);
    store.overlay.now = QDateTime::currentSecsSinceEpoch();
    const QMap<QString, DeviceEntity *> byOldMac = devicesByOldMac(project);
    overlaySettings(project, store);
    for (const DeviceEntity *device : devicesOf(project)) {
        if (!store.usable)
            break;
        if (!isKnownType(*device))
            continue;
        const QString dirName = Mac::normalizeMac(device->oldMac(), underscore);
        const QString prefsPath = familyDir(project, *device).filePath(dirName + QStringLiteral("/prefs"));
        if (device->deviceType() == tandoType) {
            overlayTandoLabel(prefsPath, device->newLabel(), store);
            overlayProfiles(project, dirName, byOldMac, store);
        } else {
            overlayKsb12Label(prefsPath, *device, store);
        }
    }
    if (store.usable)
        overlayRenames(project, store);
    if (!store.usable) {
        qCDebug(lcWorkspace) << "Storing step by step";
        return std::nullopt;
    }

    ReplacementFile partial(outpath);
    if (const Result opened = partial.open(); !opened) {
        qCDebug(lcWorkspace).noquote() << opened.reason();
        return false;
    }
    if (!Archive::packOverlaidTreeToGzip(root, store.overlay, devicePathPatches(project),
                                         QFile::encodeName(tarNameFor(outpath)), partial.path()))
        return false;
    if (const Result committed = partial.commit(); !committed) {
        qCDebug(lcWorkspace).noquote() << committed.reason();
        return false;
    }
    project.setState(outpath + QStringLiteral(" saved"));
    return true;
}

} // namespace

namespace Internal {

void setFastPaths(bool enabled)
{
    fastPathsEnabled = enabled;
}

bool fastPaths()
{
    return fastPathsEnabled;
}

} // namespace Internal

// The last steps of a load: the unpacked trees become the project's, its
// settings and devices are read.
void adoptTrees(ProjectEntity &project, const QString &ex, const QString &backup)
{
    // A project loaded before this one no longer owns its trees once replaced.
    const QString previousWork = project.loaded() ? project.extractedPath() : QString();
    const QString previousBackup = project.loaded() ? project.extractedBackupPath() : QString();

    project.setExtractedPath(ex);
    project.setExtractedBackupPath(backup);
    removeTree(previousWork);
    removeTree(previousBackup);

    const QDomDocument doc = Xml::loadXml(project.projectFilePath());
    project.setName(Xml::firstElementText(doc, QStringLiteral("name")));
    project.setAuthor(Xml::firstElementText(doc, QStringLiteral("author")));
    project.setDescription(Xml::firstElementText(doc, QStringLiteral("description")));
    project.setLoadedSettings(project.settings());

    QList<QObject *> devices;
    readFamily(project, project.ksb12DevicesDir(), ksb12Type, devices);
    readFamily(project, project.tandoDevicesDir(), tandoType, devices);
    // The devices of a project loaded before this one go with it.
    project.devices()->clear();
    project.devices()->append(devices);

    project.setLoaded(true);
}


// A ".tgz" in one pass over its gzip layer. No value when the archive has to
// be taken layer by layer.
std::optional<bool> loadInOnePass(ProjectEntity &project, const QString &archivePath)
{
    QString work;
    QString backup;
    switch (Archive::extractTarTwice(archivePath, &work, &backup, deviceDirectoryMapper())) {
    case Archive::TwoTrees::NotApplicable:
        return std::nullopt;
    case Archive::TwoTrees::Failed:
        unloadProject(project);
        return false;
    case Archive::TwoTrees::Done:
        break;
    }
    if (!QFileInfo(QDir(work).filePath(QStringLiteral("active-project"))).isDir()) {
        qCDebug(lcWorkspace) << "Couldn't find active-project";
        removeTreesTogether(work, backup);
        return false;
    }
    adoptTrees(project, work, backup);
    return true;
}

static bool loadProjectSteps(ProjectEntity &project, const QString &path)
{
    const QString archivePath = archivePathFrom(path);
    if (fastPathsEnabled && archivePath.endsWith(QLatin1String(".tgz"))) {
        if (const std::optional<bool> loaded = loadInOnePass(project, archivePath))
            return *loaded;
    }
    const QString ex = Archive::extractArchive(archivePath, deviceDirectoryMapper());
    if (ex.isEmpty()) {
        unloadProject(project);
        return false;
    }

    if (archivePath.endsWith(QLatin1String(".tgz"))) {
        const QDir gzipLayer(ex);
        const QStringList tars = gzipLayer.entryList({QStringLiteral("*.tar")}, QDir::AllEntries | QDir::NoDotAndDotDot,
                                                     QDir::Name | QDir::IgnoreCase);
        if (tars.size() == 1) {
            const bool loaded = loadProjectSteps(project, gzipLayer.filePath(tars.first()));
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

    // Without its backup a store could not restore the working tree (it
    // would remove it and fail): a project that does not fit twice is refused.
    const QString backup = Archive::extractArchive(archivePath, deviceDirectoryMapper());
    if (backup.isEmpty()) {
        qCDebug(lcWorkspace) << "Couldn't unpack the backup copy";
        removeTree(ex);
        return false;
    }
    adoptTrees(project, ex, backup);
    return true;
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
    if (!project.loaded())
        return;
    if (fastPathsEnabled) {
        removeTreesTogether(project.extractedPath(), project.extractedBackupPath());
    } else {
        removeTree(project.extractedPath());
        removeTree(project.extractedBackupPath());
    }
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

static bool storeSteps(ProjectEntity &project, const QString &outpath)
{
    if (outpath.isEmpty())
        return false;
    // Without a working tree there is nothing to edit, and no other directory may stand in for it.
    if (!project.loaded() || project.extractedPath().isEmpty())
        return false;
    if (fastPathsEnabled) {
        if (const std::optional<bool> stored = storeThroughOverlay(project, outpath))
            return *stored;
    }

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
        unrestoredTrees().insert(project.extractedPath());
        return false;
    }
    unrestoredTrees().remove(project.extractedPath());
    if (!written)
        return false;

    project.setState(outpath + QStringLiteral(" saved"));
    return true;
}

} // namespace Workspace

namespace Workspace {

Result loadProject(ProjectEntity &project, const QString &path, JobControl *)
{
    if (loadProjectSteps(project, path))
        return Result::success();
    return Result::failure(QStringLiteral("Cannot load %1").arg(path));
}

Result storeCurrentProject(ProjectEntity &project, const QString &outpath, JobControl *)
{
    if (storeSteps(project, outpath))
        return Result::success();
    return Result::failure(QStringLiteral("Cannot store %1").arg(outpath));
}

} // namespace Workspace
