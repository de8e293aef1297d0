// SPDX-License-Identifier: GPL-3.0-or-later
#include "storeplan.h"

#include "labels.h"
#include "logging.h"
#include "mac.h"
#include "projectworkspace.h"
#include "xmlio.h"

#include <QFile>
#include <QSet>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");

using Xml::Values;

bool isKnownType(const DeviceRecord &device)
{
    return device.type == tandoType || device.type == ksb12Type;
}

// Collects the new contents of files: files are read from it first, so that
// several edits of one file add up.
class PlanBuilder
{
public:
    explicit PlanBuilder(const OpenedProject &opened) : m_opened(opened) {}

    // The current contents of a regular file of the archive.
    Result read(const QByteArray &path, QByteArray *bytes) const
    {
        const auto planned = m_files.constFind(path);
        if (planned != m_files.cend()) {
            *bytes = *planned;
            return Result::success();
        }
        if (!m_opened.file(path, bytes))
            return Result::failure(QStringLiteral("%1 is missing").arg(Archive::shown(path)));
        return Result::success();
    }

    // An XML file of the archive, ready for rewriting.
    Result readXml(const QByteArray &path, QDomDocument *doc) const
    {
        QByteArray bytes;
        if (const Result r = read(path, &bytes); !r)
            return r;
        if (const Result parsed = Xml::parse(bytes, doc); !parsed)
            return Result::failure(QStringLiteral("%1 is refused: %2").arg(Archive::shown(path), parsed.reason()));
        return Result::success();
    }

    // The document's new bytes, checked to read back with the values set.
    Result writeXml(const QByteArray &path, const QDomDocument &doc, const Xml::Values &values)
    {
        QByteArray bytes;
        if (const Result encoded = Xml::encodeChecked(doc, values, &bytes); !encoded)
            return Result::failure(QStringLiteral("Cannot store %1: %2").arg(Archive::shown(path), encoded.reason()));
        replace(path, bytes);
        return Result::success();
    }

    void replace(const QByteArray &path, const QByteArray &bytes) { m_files.insert(path, bytes); }

    // The new contents by the index of the entry that holds each file.
    QHash<int, QByteArray> byEntry() const
    {
        QHash<int, QByteArray> files;
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            files.insert(m_opened.fileEntries.value(it.key()), it.value());
        return files;
    }

private:
    const OpenedProject &m_opened;
    QHash<QByteArray, QByteArray> m_files;
};

Result planSettings(PlanBuilder &builder, const StoreRequest &request)
{
    const ProjectSettings &now = request.settings;
    const ProjectSettings &loaded = request.loadedSettings;
    Values edits;
    if (now.name != loaded.name)
        edits.append({QStringLiteral("name"), now.name});
    if (now.author != loaded.author)
        edits.append({QStringLiteral("author"), now.author});
    if (now.description != loaded.description)
        edits.append({QStringLiteral("description"), now.description});
    if (edits.isEmpty())
        return Result::success();

    const QByteArray path = Layout::projectFile;
    QDomDocument doc;
    if (const Result r = builder.readXml(path, &doc); !r)
        return Result::failure(QStringLiteral("Cannot store the %1: %2").arg(edits.first().first, r.reason()));
    for (const auto &edit : edits) {
        if (!Xml::setElementText(doc, edit.first, edit.second))
            return Result::failure(QStringLiteral("Cannot store the %1: %2 has no <%1> element").arg(edit.first, Archive::shown(path)));
    }
    return builder.writeXml(path, doc, edits);
}

Result planTandoLabel(PlanBuilder &builder, const QByteArray &prefsPath, const DeviceRecord &device)
{
    const QString what = QStringLiteral("Cannot store the label of %1").arg(device.oldMac);
    QDomDocument doc;
    if (const Result r = builder.readXml(prefsPath, &doc); !r)
        return Result::failure(QStringLiteral("%1: %2").arg(what, r.reason()));
    if (!Xml::setElementText(doc, QStringLiteral("UnitName"), device.newLabel))
        return Result::failure(QStringLiteral("%1: %2 has no <UnitName> element").arg(what, Archive::shown(prefsPath)));
    return builder.writeXml(prefsPath, doc, {{QStringLiteral("UnitName"), device.newLabel}});
}

Result planKsb12Label(PlanBuilder &builder, const QByteArray &prefsPath, const DeviceRecord &device)
{
    QByteArray bytes;
    if (const Result r = builder.read(prefsPath, &bytes); !r)
        return Result::failure(QStringLiteral("Cannot store the label of %1: %2").arg(device.oldMac, r.reason()));
    const QByteArray label = Labels::ksb12LabelBytes(device.newLabel);
    if (bytes.size() < label.size())
        bytes.resize(label.size());
    bytes.replace(0, label.size(), label);
    // Written in place: the file's own time changes, its directory's not.
    builder.replace(prefsPath, bytes);
    return Result::success();
}

using DeviceIndex = QHash<QString, const DeviceRecord *>;

// The texts of the elements named tag in a plain file: each written as
// <tag>text</tag>, the text without markup. False when an element of that
// name has attributes, is empty-tagged or holds markup.
bool plainElementTexts(const QByteArray &bytes, const QByteArray &tag, QStringList *texts)
{
    const QByteArray open = '<' + tag;
    const QByteArray close = "</" + tag + '>';
    for (int at = bytes.indexOf(open); at >= 0; at = bytes.indexOf(open, at + 1)) {
        const int after = at + open.size();
        if (after >= bytes.size())
            return false;
        const char next = bytes.at(after);
        if (next != '>') {
            if (next == ' ' || next == '\t' || next == '\n' || next == '\r' || next == '/')
                return false;
            continue; // another element whose name starts alike
        }
        const int end = bytes.indexOf('<', after + 1);
        if (end < 0 || bytes.mid(end, close.size()) != close)
            return false;
        const QByteArray text = bytes.mid(after + 1, end - after - 1);
        const QString decoded = QString::fromUtf8(text);
        if (decoded.toUtf8() != text)
            return false;
        texts->append(decoded);
    }
    return true;
}

// Whether syncing a profile may change it, told without parsing it where
// the file is plain: UTF-8 text with no comment, CDATA section, document
// type, entity or character reference, processing instruction (but the
// declaration) or carriage return, whose "mac" and "unitname" elements hold
// their values as plain text. Anything else is left to the parser.
bool maySyncChange(const QByteArray &bytes, const DeviceIndex &byOldMac)
{
    const int declarationEnd = bytes.startsWith("<?xml") ? bytes.indexOf("?>") : 0;
    if (declarationEnd < 0 || bytes.indexOf("<?", 1) >= 0 || bytes.contains("<!") || bytes.contains('&')
        || bytes.contains('\r'))
        return true;
    const QByteArray declaration = bytes.left(declarationEnd).toLower();
    if (declaration.contains("encoding") && !declaration.contains("utf-8"))
        return true;
    QStringList macs;
    QStringList names;
    if (!plainElementTexts(bytes, "mac", &macs) || !plainElementTexts(bytes, "unitname", &names))
        return true;
    for (int i = 0; i < macs.size(); ++i) {
        const DeviceRecord *device = byOldMac.value(Mac::normalizeMac(macs.at(i), colon));
        if (device && (i >= names.size() || names.at(i) != device->newLabel
                       || macs.at(i) != Mac::normalizeMac(device->newMac, colon)))
            return true;
    }
    return false;
}

// Every "mac" that names a device of the project by its old MAC gets the
// colon form of the device's new MAC, its paired "unitname" the device's new
// label. The file is rewritten only when that changes a value in it. A
// profile that cannot be read names nothing we know of, and is left as it is.
Result planProfile(PlanBuilder &builder, const QByteArray &path, const DeviceIndex &byOldMac)
{
    QByteArray bytes;
    if (builder.read(path, &bytes) && !maySyncChange(bytes, byOldMac))
        return Result::success();
    QDomDocument doc;
    if (const Result r = builder.readXml(path, &doc); !r) {
        qCDebug(lcWorkspace).noquote() << "Left as it is: " + r.reason();
        return Result::success();
    }
    const QDomNodeList macs = doc.elementsByTagName(QStringLiteral("mac"));
    const QDomNodeList names = doc.elementsByTagName(QStringLiteral("unitname"));
    bool changed = false;
    for (int i = 0; i < macs.size(); ++i) {
        QDomElement mac = macs.item(i).toElement();
        const DeviceRecord *device = byOldMac.value(Mac::normalizeMac(Xml::elementText(mac), colon));
        if (!device)
            continue;
        QDomElement name = names.item(i).toElement();
        if (device->labelEdited && name.isNull())
            return Result::failure(QStringLiteral("Cannot store the label of %1: %2 has no <unitname> for it")
                                       .arg(device->oldMac, Archive::shown(path)));
        const QString newMac = Mac::normalizeMac(device->newMac, colon);
        if (Xml::elementText(mac) != newMac) {
            Xml::setText(mac, newMac);
            changed = true;
        }
        if (!name.isNull() && Xml::elementText(name) != device->newLabel) {
            Xml::setText(name, device->newLabel);
            changed = true;
        }
    }
    return changed ? builder.writeXml(path, doc, {}) : Result::success();
}

// A profile the load could not read cannot follow a new label or MAC.
Result checkProfilesRead(const StoreRequest &request)
{
    const auto unread = request.opened->unreadProfiles.cbegin();
    if (unread == request.opened->unreadProfiles.cend())
        return Result::success();
    for (const DeviceRecord &device : request.devices) {
        if (isKnownType(device) && (device.labelEdited || Mac::normalizeMac(device.newMac, colon) != device.oldMac))
            return Result::failure(QStringLiteral("Cannot store the %1 of %2: the profile %3 is a hard link to %4, which cannot be read")
                                       .arg(device.labelEdited ? QStringLiteral("label") : QStringLiteral("MAC"), device.oldMac,
                                            Archive::shown(unread.key()), Archive::shown(unread.value())));
    }
    return Result::success();
}

Result planDevices(PlanBuilder &builder, const StoreRequest &request)
{
    if (const Result read = checkProfilesRead(request); !read)
        return read;
    DeviceIndex byOldMac; // a later device with the same old MAC wins
    for (const DeviceRecord &device : request.devices) {
        if (isKnownType(device))
            byOldMac.insert(Mac::normalizeMac(device.oldMac, colon), &device);
    }
    for (const DeviceRecord &device : request.devices) {
        if (!isKnownType(device))
            continue;
        const QByteArray dir = request.opened->deviceDir(device);
        const QByteArray prefsPath = Layout::prefsPath(device.type, dir);
        Result r;
        if (device.labelEdited)
            r = device.type == tandoType ? planTandoLabel(builder, prefsPath, device)
                                         : planKsb12Label(builder, prefsPath, device);
        if (!r)
            return r;
        if (device.type != tandoType)
            continue;
        for (const QByteArray &profile : request.opened->profilePaths.value(dir)) {
            if (const Result p = planProfile(builder, profile, byOldMac); !p)
                return p;
        }
    }
    return Result::success();
}

// Device directories move all at once, so that devices that swap addresses
// do not block each other; a new name that another device keeps is refused.
Result planMoves(const StoreRequest &request, StorePlan *plan)
{
    QHash<QByteArray, QSet<QByteArray>> names; // family -> its device directories after the moves
    for (auto it = request.opened->deviceDirs.cbegin(); it != request.opened->deviceDirs.cend(); ++it)
        names[it.key().section(QLatin1Char('/'), 0, 0).toLatin1()].insert(it.value());
    QList<QPair<QByteArray, QByteArray>> moves; // family/from -> to
    for (const DeviceRecord &device : request.devices) {
        if (!isKnownType(device))
            continue;
        const QByteArray family = Layout::familyName(device.type);
        const QByteArray from = request.opened->deviceDir(device);
        const QByteArray to = QFile::encodeName(Mac::normalizeMac(device.newMac, colon));
        if (from.isEmpty() || from == to)
            continue;
        if (to.isEmpty() || to.contains('/') || to == "." || to == "..")
            return Result::failure(QStringLiteral("Cannot move device %1 to \"%2\"").arg(device.oldMac, device.newMac));
        names[family].remove(from);
        moves.append({family + '/' + from, to});
    }
    for (const auto &move : moves) {
        const QByteArray family = move.first.left(move.first.indexOf('/'));
        if (names[family].contains(move.second))
            return Result::failure(QStringLiteral("Cannot move device directory %1/%2: %3 exists already")
                                       .arg(Archive::shown(Layout::familyPath(family)),
                                            Archive::shown(move.first.mid(family.size() + 1)), Archive::shown(move.second)));
        names[family].insert(move.second);
        plan->moves.insert(move.first, move.second);
    }
    return Result::success();
}

} // namespace

Result planStore(const StoreRequest &request, StorePlan *plan)
{
    PlanBuilder builder(*request.opened);
    Result r = planSettings(builder, request);
    if (r)
        r = planDevices(builder, request);
    if (r)
        r = planMoves(request, plan);
    plan->files = builder.byEntry();
    plan->opened = request.opened;
    return r;
}

namespace {

// The spans of the first `count` components of path, empty and "." ones
// passed over; the number found.
int componentSpans(const QByteArray &path, int count, int *starts, int *ends)
{
    int found = 0;
    for (int i = 0; i <= path.size() && found < count;) {
        int j = path.indexOf('/', i);
        if (j < 0)
            j = path.size();
        if (j > i && !(j - i == 1 && path.at(i) == '.')) {
            starts[found] = i;
            ends[found] = j;
            ++found;
        }
        i = j + 1;
    }
    return found;
}

} // namespace

QByteArray StorePlan::movedPath(const QByteArray &path) const
{
    int starts[4] = {};
    int ends[4] = {};
    if (componentSpans(path, 4, starts, ends) < 4 || path.mid(starts[0], ends[0] - starts[0]) != Layout::projectDir
        || path.mid(starts[1], ends[1] - starts[1]) != Layout::devicesDir)
        return QByteArray();
    const auto move = moves.constFind(path.mid(starts[2], ends[2] - starts[2]) + '/'
                                      + path.mid(starts[3], ends[3] - starts[3]));
    if (move == moves.cend())
        return QByteArray();
    return path.left(starts[3]) + *move + path.mid(ends[3]);
}

QByteArray StorePlan::movedHeaderName(const QByteArray &name) const
{
    const QByteArray moved = movedPath(name);
    if (!moved.isEmpty())
        return moved;
    // A pax header of a device directory itself is named within the family
    // directory: ".../tando/PaxHeaders/00:1a:2b:3c:4d:5e" (GNU tar), "PaxHeader" (bsdtar).
    int starts[4] = {};
    int ends[4] = {};
    if (componentSpans(name, 4, starts, ends) < 4 || !name.mid(starts[3]).startsWith("PaxHeader"))
        return QByteArray();
    const int inserted = ends[3] + 1 - starts[3];
    const QByteArray without = movedPath(name.left(starts[3]) + name.mid(ends[3] + 1));
    return without.isEmpty() ? QByteArray() : without.left(starts[3]) + name.mid(starts[3], inserted) + without.mid(starts[3]);
}

QByteArray StorePlan::movedLinkTarget(const QByteArray &linkPath, const QByteArray &target) const
{
    if (target.startsWith('/'))
        return QByteArray();
    // Where each component of the target leads, from the link's folder: a
    // component that steps into a moved device directory takes its new name.
    QByteArrayList at = linkPath.split('/');
    at.removeAll(QByteArray());
    at.removeAll(QByteArray("."));
    if (!at.isEmpty())
        at.removeLast();
    QByteArrayList parts = target.split('/');
    bool changed = false;
    for (QByteArray &part : parts) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (at.isEmpty())
                return QByteArray();
            at.removeLast();
            continue;
        }
        at.append(part);
        if (at.size() != 4)
            continue;
        const QByteArray moved = movedPath(at.join('/'));
        if (!moved.isEmpty()) {
            part = at.last() = moved.mid(moved.lastIndexOf('/') + 1);
            changed = true;
        }
    }
    return changed ? parts.join('/') : QByteArray();
}

// A hard link reads what the file it names holds in the new archive. When
// that is not what its own name must hold now, it is written as a file.
void StorePlan::editLink(int index, TarStream::EntryEdit *edit) const
{
    const int target = opened->hardLinks.value(index, -1);
    const auto own = files.constFind(index);
    const auto named = target >= 0 ? files.constFind(target) : files.cend();
    if (own == files.cend() && named == files.cend())
        return;
    const auto kept = opened->fileData.constFind(index);
    const QByteArray loaded = kept != opened->fileData.cend() ? *kept : opened->fileData.value(target);
    const QByteArray wanted = own != files.cend() ? *own : loaded;
    if (wanted != (named != files.cend() ? *named : loaded)) {
        edit->replaceData = true;
        edit->data = wanted;
    }
}

TarStream::EntryEdit StorePlan::edit(int index, const TarStream::EntryInfo &entry) const
{
    TarStream::EntryEdit edit;
    const auto kept = opened->fileData.constFind(index);
    if (entry.type == '1') {
        editLink(index, &edit);
    } else if (kept != opened->fileData.cend()) {
        // A file the load read must still hold what it read.
        edit.checkData = true;
        edit.expectedData = *kept;
        const auto replaced = files.constFind(index);
        if (replaced != files.cend()) {
            edit.replaceData = true;
            edit.data = *replaced;
        }
    }
    if (!moves.isEmpty()) {
        edit.path = movedPath(entry.path);
        if (entry.type == '1')
            edit.linkTarget = movedPath(entry.linkTarget);
        else if (entry.type == '2')
            edit.linkTarget = movedLinkTarget(entry.path, entry.linkTarget);
        edit.renameHeader = [this](const QByteArray &name) { return movedHeaderName(name); };
    }
    return edit;
}

} // namespace Workspace
