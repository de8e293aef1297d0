// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectworkspace.h"

#include "archivename.h"
#include "dataobjectmodel.h"
#include "interruption.h"
#include "deviceentity.h"
#include "labels.h"
#include "logging.h"
#include "mac.h"
#include "archivehandles.h"
#include "posixfile.h"
#include "projectdata.h"
#include "projectentity.h"
#include "replacementfile.h"
#include "storeplan.h"
#include "xmlio.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <QVector>

#include <algorithm>
#include <memory>
#include <optional>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");

// A name that reads back as the same bytes: one a directory listing shows.
bool isListable(const QByteArray &name)
{
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

// Sees every entry of the archive as it is read: finds the device
// directories, refusing a second spelling of one device (two entries that
// would become one directory), and keeps the files the editor reads. A
// file that is a hard link is read through the file it names.
class ProjectVisitor : public Archive::EntryVisitor
{
public:
    explicit ProjectVisitor(const LoadOptions &options = {}) : m_options(options) {}

    bool wantsFacts() const override { return bool(m_options.facts); }
    void facts(const Archive::EntryFacts &facts) override { m_options.facts(facts); }

    Result entry(int index, const QByteArrayList &parts, mode_t type, const QByteArray &hardlink, bool *keep) override
    {
        m_pending.clear();
        m_pendingProfileOf.clear();
        const auto named = hardlink.isEmpty() ? m_opened->fileEntries.cend() : m_opened->fileEntries.constFind(hardlink);
        const int namedIndex = named != m_opened->fileEntries.cend() ? *named : -1;
        if (namedIndex >= 0)
            m_opened->hardLinks.insert(index, namedIndex);
        const Layout::Place place = Layout::placeOf(parts);
        if (place.kind == Layout::Place::Outside)
            return Result::success();
        m_hasProject = m_hasProject || parts.size() > 1 || type == AE_IFDIR;
        if (place.kind == Layout::Place::Other)
            return Result::success();
        if (place.kind != Layout::Place::ProjectFile) {
            if (const Result added = addDevice(place.family, place.device); !added)
                return added;
        }
        if (place.kind == Layout::Place::Profile)
            m_pendingProfileOf = place.device;
        if (place.kind == Layout::Place::InDevice)
            return Result::success();
        keepFile(parts, type, keep);
        if (namedIndex >= 0)
            data(index, m_opened->fileData.value(namedIndex));
        else if (!hardlink.isEmpty())
            m_unlinked.insert(m_pending, {index, m_pendingProfileOf, hardlink});
        return Result::success();
    }

    void data(int index, const QByteArray &data) override { keep(index, m_pending, m_pendingProfileOf, data); }

    // Reads again what the hard links among the files name, where the
    // files they name were not kept the first time.
    Result readLinked(const Archive::OpenedArchive &archive, JobControl *control)
    {
        if (m_unlinked.isEmpty())
            return Result::success();
        LinkedFiles linked(m_unlinked);
        if (const Result read = Archive::readAgain(archive, linked, control); !read)
            return read;
        for (auto it = m_unlinked.cbegin(); it != m_unlinked.cend(); ++it) {
            const auto found = linked.found.constFind(it.key());
            if (found != linked.found.cend())
                keep(it->index, it.key(), it->profileOf, *found);
            else if (!it->profileOf.isNull())
                m_opened->unreadProfiles.insert(it.key(), it->target);
        }
        return Result::success();
    }

    bool hasProject() const { return m_hasProject; }
    std::shared_ptr<OpenedProject> opened() const { return m_opened; }
    // Each family's device directories in the order of a directory listing.
    QByteArrayList listing(const QByteArray &family) const
    {
        QByteArrayList names = m_order.value(family);
        std::stable_sort(names.begin(), names.end(), byNameIgnoringCase);
        return names;
    }
    void sortProfiles()
    {
        for (QByteArrayList &profiles : m_opened->profilePaths)
            std::stable_sort(profiles.begin(), profiles.end(), byNameIgnoringCase);
    }

private:
    // A kept hard link whose file was not kept.
    struct Unlinked
    {
        int index = 0;
        QByteArray profileOf;
        QByteArray target;
    };

    // Keeps the data of the files that those links name: for each link, the
    // last regular file of that name before it.
    class LinkedFiles : public Archive::EntryVisitor
    {
    public:
        explicit LinkedFiles(const QHash<QByteArray, Unlinked> &links) : m_links(links) {}

        Result entry(int index, const QByteArrayList &parts, mode_t type, const QByteArray &hardlink, bool *keep) override
        {
            m_path = parts.join('/');
            for (const Unlinked &link : m_links)
                *keep = *keep || (link.target == m_path && index < link.index);
            *keep = *keep && type == AE_IFREG && hardlink.isEmpty();
            return Result::success();
        }
        void data(int index, const QByteArray &data) override
        {
            for (auto it = m_links.cbegin(); it != m_links.cend(); ++it) {
                if (it->target == m_path && index < it->index)
                    found.insert(it.key(), data);
            }
        }

        QHash<QByteArray, QByteArray> found; // link's path -> data

    private:
        const QHash<QByteArray, Unlinked> &m_links;
        QByteArray m_path;
    };

    static bool byNameIgnoringCase(const QByteArray &a, const QByteArray &b)
    {
        return QFile::decodeName(a).compare(QFile::decodeName(b), Qt::CaseInsensitive) < 0;
    }

    void keepFile(const QByteArrayList &parts, mode_t type, bool *keep)
    {
        m_pending = parts.join('/');
        // A later entry of the same name is what unpacking would leave.
        const auto earlier = m_opened->fileEntries.constFind(m_pending);
        if (earlier != m_opened->fileEntries.cend()) {
            m_opened->fileData.remove(*earlier);
            m_opened->fileEntries.erase(earlier);
        }
        m_unlinked.remove(m_pending);
        *keep = type == AE_IFREG;
    }

    void keep(int index, const QByteArray &path, const QByteArray &profileOf, const QByteArray &data)
    {
        m_opened->fileEntries.insert(path, index);
        m_opened->fileData.insert(index, data);
        if (!profileOf.isNull()) {
            QByteArrayList &profiles = m_opened->profilePaths[profileOf];
            if (!profiles.contains(path))
                profiles.append(path);
        }
    }

    Result addDevice(const QByteArray &family, const QByteArray &name)
    {
        if (name.startsWith('.') || !isListable(name))
            return Result::success();
        const QString key = QString::fromLatin1(family) + QLatin1Char('/') + Mac::normalizeMac(QFile::decodeName(name), colon);
        const auto first = m_opened->deviceDirs.constFind(key);
        if (first == m_opened->deviceDirs.cend()) {
            m_opened->deviceDirs.insert(key, name);
            m_order[family].append(name);
        } else if (*first != name && m_options.secondSpellings) {
            const QByteArray path = Layout::familyPath(family) + '/' + name;
            if (m_secondSpellings.contains(path))
                return Result::success();
            m_secondSpellings.insert(path);
            m_options.secondSpellings->append({path, Layout::familyPath(family) + '/' + *first});
        } else if (*first != name) {
            return Result::failure(QStringLiteral("names the same device as %1")
                                       .arg(Archive::shown(Layout::familyPath(family) + '/' + *first)));
        }
        return Result::success();
    }

    const LoadOptions m_options;
    QSet<QByteArray> m_secondSpellings;
    std::shared_ptr<OpenedProject> m_opened = std::make_shared<OpenedProject>();
    QHash<QByteArray, QByteArrayList> m_order;
    QHash<QByteArray, Unlinked> m_unlinked; // by the link's path
    QByteArray m_pending;
    QByteArray m_pendingProfileOf; // the device directory of a pending profile
    bool m_hasProject = false;
};

// The XML document of a file the load kept; empty, after a debug line,
// when there is none or it cannot be read.
QDomDocument keptXml(const OpenedProject &opened, const QByteArray &path)
{
    QByteArray bytes;
    QDomDocument doc;
    if (!opened.file(path, &bytes))
        qCDebug(lcWorkspace).noquote() << "Error while loading file " + Archive::shown(path);
    else if (const Result parsed = Xml::parse(bytes, &doc); !parsed)
        qCDebug(lcWorkspace).noquote() << "Not readable as XML, " + Archive::shown(path) + ": " + parsed.reason();
    return doc;
}

// One record per entry of a family directory, its label read from the
// device's prefs file.
void readFamily(const ProjectVisitor &visitor, const QString &type, QList<DeviceRecord> *devices)
{
    const OpenedProject &opened = *visitor.opened();
    for (const QByteArray &name : visitor.listing(Layout::familyName(type))) {
        QByteArray prefs;
        if (!opened.file(Layout::prefsPath(type, name), &prefs))
            qCDebug(lcWorkspace) << "Error while loading file";
        DeviceRecord device;
        device.type = type;
        device.oldLabel = device.newLabel = type == ksb12Type ? Labels::readKsb12Label(prefs) : Labels::readTandoLabel(prefs);
        device.oldMac = device.newMac = Mac::normalizeMac(QFile::decodeName(name), colon);
        devices->append(device);
    }
}

// What the archive holds: the settings and the devices.
void readProject(const ProjectVisitor &visitor, LoadedProject *loaded)
{
    const QDomDocument doc = keptXml(*visitor.opened(), Layout::projectFile);
    loaded->settings.name = Xml::firstElementText(doc, QStringLiteral("name"));
    loaded->settings.author = Xml::firstElementText(doc, QStringLiteral("author"));
    loaded->settings.description = Xml::firstElementText(doc, QStringLiteral("description"));
    readFamily(visitor, ksb12Type, &loaded->devices);
    readFamily(visitor, tandoType, &loaded->devices);
}

// While it lives, a termination signal cancels the job of control (when given).
class CancelOnSignal
{
public:
    explicit CancelOnSignal(JobControl *control)
    {
        if (control)
            m_guard.emplace(*control);
    }

private:
    std::optional<Interruption::CancelOnSignal> m_guard;
};

// Empties the device list and frees the devices a load made (the project's
// children). Views and the filter model let go of them at the model reset,
// but may still be delivering a signal about one: they go later, from the
// event loop.
void dropDevices(ProjectEntity &project)
{
    const QList<DeviceEntity *> devices = project.deviceEntities();
    project.devices()->clear();
    for (DeviceEntity *device : devices) {
        if (device->parent() == &project)
            device->deleteLater();
    }
}

} // namespace

QString localPath(const QString &pathOrUrl)
{
    // Only text that says it is a URL is read as one: a path may hold "#" or "%".
    if (pathOrUrl.startsWith(QLatin1String("file:"))) {
        const QUrl url(pathOrUrl);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return pathOrUrl;
}

bool OpenedProject::file(const QByteArray &path, QByteArray *data) const
{
    const auto entry = fileEntries.constFind(path);
    if (entry == fileEntries.cend())
        return false;
    *data = fileData.value(*entry);
    return true;
}

QByteArray OpenedProject::deviceDir(const DeviceRecord &device) const
{
    return deviceDirs.value(QString::fromLatin1(Layout::familyName(device.type)) + QLatin1Char('/')
                            + Mac::normalizeMac(device.oldMac, colon));
}

Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded)
{
    return unpackProject(path, control, loaded, LoadOptions());
}

Result unpackProject(const QString &path, JobControl *control, LoadedProject *loaded, const LoadOptions &options)
{
    const CancelOnSignal cancelOnSignal(control);
    const QString archivePath = localPath(path);
    ProjectVisitor visitor(options);
    std::shared_ptr<Archive::OpenedArchive> archive;
    Result result = Archive::readArchive(archivePath, visitor, control, &archive);
    if (result)
        result = visitor.readLinked(*archive, control);
    if (result && !visitor.hasProject()) {
        qCDebug(lcWorkspace) << "Couldn't find active-project";
        result = Result::failure(QStringLiteral("no project in it (no active-project folder)"));
    }
    if (result && control && control->isCancelled())
        result = Result::cancelled();
    if (!result)
        return result;
    visitor.sortProfiles();
    visitor.opened()->archive = std::move(archive);
    readProject(visitor, loaded);
    loaded->opened = visitor.opened();
    return result;
}

void adoptProject(ProjectEntity &project, const LoadedProject &loaded)
{
    // A project view never mixes two archives: what was loaded before goes.
    dropDevices(project);
    project.setOpened(loaded.opened);
    project.setOriginalPath(loaded.opened->archive->path);
    project.setName(loaded.settings.name);
    project.setAuthor(loaded.settings.author);
    project.setDescription(loaded.settings.description);
    project.setLoadedSettings(loaded.settings);

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

Result finishLoad(ProjectEntity &project, const Result &result, const LoadedProject &loaded)
{
    // Only a complete load replaces the project: after a failure or a
    // cancel the one loaded before stays, edits and all.
    if (result)
        adoptProject(project, loaded);
    return result;
}

void unloadProject(ProjectEntity &project)
{
    dropDevices(project);
    if (!project.loaded())
        return;
    project.setOpened(nullptr);
    project.setLoaded(false);
}

bool validateNewSettings(ProjectEntity &project, int *invalid)
{
    static const QString notAMac = QStringLiteral("This is not a valid MAC");
    static const QString taken = QStringLiteral("This MAC address is already assigned");
    const QList<DeviceEntity *> devices = project.deviceEntities();
    // Each device's issue is set once, so that one that stays is not announced again.
    QVector<const QString *> issues(devices.size(), nullptr);
    int count = 0;
    for (int i = 0; i < devices.size(); ++i) {
        if (!Mac::isValidMacSyntax(devices.at(i)->newMac())) {
            issues[i] = &notAMac;
            ++count;
        }
    }
    if (count == 0) {
        QSet<QString> seen;
        seen.reserve(devices.size());
        for (int i = 0; i < devices.size(); ++i) {
            const QString key = Mac::normalizeMac(devices.at(i)->newMac(), colon);
            if (seen.contains(key)) {
                issues[i] = &taken;
                ++count;
            }
            seen.insert(key);
        }
    }
    for (int i = 0; i < devices.size(); ++i)
        devices.at(i)->setIssue(issues.at(i) ? *issues.at(i) : QString());
    if (invalid)
        *invalid = count;
    return count == 0;
}

StoreRequest storeRequest(const ProjectEntity &project, const QString &outpath)
{
    StoreRequest request;
    request.opened = project.loaded() ? project.opened() : nullptr;
    request.settings = project.settings();
    request.loadedSettings = project.loadedSettings();
    for (const DeviceEntity *device : project.deviceEntities())
        request.devices.append({device->deviceType(), device->oldMac(), device->newMac(), device->oldLabel(),
                                device->newLabel(), device->labelEdited()});
    request.outpath = outpath;
    return request;
}

Result storeProject(const StoreRequest &request, JobControl *control)
{
    const CancelOnSignal cancelOnSignal(control);
    if (request.outpath.isEmpty())
        return Result::failure(QStringLiteral("No file to store to"));
    // Without an opened archive there is nothing to store, and nothing else may stand in for it.
    if (!request.opened)
        return Result::failure(QStringLiteral("No project is loaded"));
    StorePlan plan;
    Result result = planStore(request, &plan);
    ReplacementFile partial(request.outpath);
    if (result)
        result = partial.open();
    if (result) {
        const ArchiveForm form = archiveFormFor(request.outpath);
        Archive::ArchiveOutput out;
        out.fd = partial.fd();
        out.gzip = form.gzip;
        out.gzipMember = QFile::encodeName(form.gzipMember);
        out.gzipTime = quint32(QDateTime::currentSecsSinceEpoch());
        const Result written = Archive::writeArchive(
            *request.opened->archive, [&plan](int index, const TarStream::EntryInfo &entry) { return plan.edit(index, entry); },
            out, control);
        if (written.isFailure())
            result = Result::failure(QStringLiteral("Cannot store %1: %2").arg(request.outpath, written.reason()));
        else if (written.isCancelled())
            result = written;
    }
    // A cancel that came after the last entry still keeps the target as it was.
    if (result && control && control->isCancelled())
        result = Result::cancelled();
    if (result)
        result = partial.commit();
    // A termination signal during the commit cancels the job and refuses the commit.
    if (result.isFailure() && control && control->isCancelled())
        result = Result::cancelled();
    if (!result)
        qCDebug(lcWorkspace).noquote() << QStringLiteral("Storing %1: %2").arg(request.outpath, result.reason());
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

bool hasEdits(const ProjectEntity &project)
{
    if (!project.loaded())
        return false;
    if (project.settings() != project.loadedSettings())
        return true;
    const QList<DeviceEntity *> devices = project.deviceEntities();
    return std::any_of(devices.cbegin(), devices.cend(),
                       [](const DeviceEntity *device) { return device->labelEdited() || device->macEdited(); });
}

void revertEdits(ProjectEntity &project)
{
    const ProjectSettings loaded = project.loadedSettings();
    project.setName(loaded.name);
    project.setAuthor(loaded.author);
    project.setDescription(loaded.description);
    for (DeviceEntity *device : project.deviceEntities()) {
        device->setNewLabel(device->oldLabel());
        device->setNewMac(device->oldMac());
        device->setIssue(QString());
    }
}

} // namespace Workspace
