#include "storeplan.h"

#include "labels.h"
#include "logging.h"
#include "mac.h"
#include "projectdata.h"
#include "projectworkspace.h"
#include "xmlio.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");
const QString underscore = QStringLiteral("_");

using Xml::Values;

bool isKnownType(const DeviceRecord &device)
{
    return device.type == tandoType || device.type == ksb12Type;
}

QByteArray parentOf(const QByteArray &key)
{
    const int slash = key.lastIndexOf('/');
    return slash < 0 ? QByteArray() : key.left(slash);
}

// Builds the overlay: files are read from it first, so that several edits
// of one file add up.
class PlanBuilder
{
public:
    PlanBuilder(const QString &root, StorePlan *plan) : m_plan(plan), m_root(root)
    {
        plan->overlay.now = QDateTime::currentSecsSinceEpoch();
    }

    QByteArray relative(const QString &path) const { return QFile::encodeName(m_root.relativeFilePath(path)); }

    // The current contents of a regular file of the tree.
    Result read(const QString &path, QByteArray *bytes) const
    {
        const auto planned = m_plan->overlay.files.constFind(relative(path));
        if (planned != m_plan->overlay.files.cend()) {
            *bytes = *planned;
            return Result::success();
        }
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return Result::failure(QStringLiteral("%1 is missing").arg(path));
        if (!S_ISREG(st.st_mode))
            return Result::failure(QStringLiteral("%1 is not a regular file").arg(path));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return Result::failure(QStringLiteral("%1: %2").arg(path, file.errorString()));
        *bytes = file.readAll();
        return Result::success();
    }

    // An XML file of the tree, ready for rewriting.
    Result readXml(const QString &path, QDomDocument *doc) const
    {
        QByteArray bytes;
        if (const Result r = read(path, &bytes); !r)
            return r;
        if (const Result parsed = Xml::parse(bytes, doc); !parsed)
            return Result::failure(QStringLiteral("%1 is refused: %2").arg(path, parsed.reason()));
        return Result::success();
    }

    // The document's new bytes, checked to read back with the values set.
    Result writeXml(const QString &path, const QDomDocument &doc, const Xml::Values &values)
    {
        QByteArray bytes;
        if (const Result encoded = Xml::encodeChecked(doc, values, &bytes); !encoded)
            return Result::failure(QStringLiteral("Cannot store %1: %2").arg(path, encoded.reason()));
        replace(path, bytes, true);
        return Result::success();
    }

    // A file saved anew gets a new time, and so does its directory.
    void replace(const QString &path, const QByteArray &bytes, bool newFile)
    {
        const QByteArray key = relative(path);
        m_plan->overlay.files.insert(key, bytes);
        m_plan->overlay.touched.insert(key);
        if (newFile)
            m_plan->overlay.touched.insert(parentOf(key));
    }

    StorePlan *m_plan;
    QDir m_root;
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

    const QString path = request.tree.projectFile();
    QDomDocument doc;
    if (const Result r = builder.readXml(path, &doc); !r)
        return Result::failure(QStringLiteral("Cannot store the %1: %2").arg(edits.first().first, r.reason()));
    for (const auto &edit : edits) {
        if (!Xml::setElementText(doc, edit.first, edit.second))
            return Result::failure(QStringLiteral("Cannot store the %1: %2 has no <%1> element").arg(edit.first, path));
    }
    return builder.writeXml(path, doc, edits);
}

Result planTandoLabel(PlanBuilder &builder, const QString &prefsPath, const DeviceRecord &device)
{
    const QString what = QStringLiteral("Cannot store the label of %1").arg(device.oldMac);
    QDomDocument doc;
    if (const Result r = builder.readXml(prefsPath, &doc); !r)
        return Result::failure(QStringLiteral("%1: %2").arg(what, r.reason()));
    if (!Xml::setElementText(doc, QStringLiteral("UnitName"), device.newLabel))
        return Result::failure(QStringLiteral("%1: %2 has no <UnitName> element").arg(what, prefsPath));
    return builder.writeXml(prefsPath, doc, {{QStringLiteral("UnitName"), device.newLabel}});
}

Result planKsb12Label(PlanBuilder &builder, const QString &prefsPath, const DeviceRecord &device)
{
    QByteArray bytes;
    if (const Result r = builder.read(prefsPath, &bytes); !r)
        return Result::failure(QStringLiteral("Cannot store the label of %1: %2").arg(device.oldMac, r.reason()));
    const QByteArray label = Labels::ksb12LabelBytes(device.newLabel);
    if (bytes.size() < label.size())
        bytes.resize(label.size());
    bytes.replace(0, label.size(), label);
    // Written in place: the file's own time changes, its directory's not.
    builder.replace(prefsPath, bytes, false);
    return Result::success();
}

// Every "mac" that names a device of the project by its old MAC gets the
// colon form of the device's new MAC, its paired "unitname" the device's new
// label. The file is rewritten only when that changes a value in it. A
// profile that cannot be read names nothing we know of, and is left as it is.
Result planProfile(PlanBuilder &builder, const QString &path, const QMap<QString, const DeviceRecord *> &byOldMac)
{
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
        if (device->newLabel != device->oldLabel && name.isNull())
            return Result::failure(QStringLiteral("Cannot store the label of %1: %2 has no <unitname> for it")
                                       .arg(device->oldMac, path));
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

Result planDevices(PlanBuilder &builder, const StoreRequest &request)
{
    QMap<QString, const DeviceRecord *> byOldMac; // a later device with the same old MAC wins
    for (const DeviceRecord &device : request.devices) {
        if (isKnownType(device))
            byOldMac.insert(Mac::normalizeMac(device.oldMac, colon), &device);
    }
    for (const DeviceRecord &device : request.devices) {
        if (!isKnownType(device))
            continue;
        const QString prefsPath = request.tree.prefsFile(device);
        Result r;
        if (device.newLabel != device.oldLabel)
            r = device.type == tandoType ? planTandoLabel(builder, prefsPath, device)
                                         : planKsb12Label(builder, prefsPath, device);
        if (!r)
            return r;
        if (device.type != tandoType)
            continue;
        for (const QString &profile : request.tree.profileFiles(Mac::normalizeMac(device.oldMac, underscore))) {
            if (const Result p = planProfile(builder, profile, byOldMac); !p)
                return p;
        }
    }
    return Result::success();
}

// One device directory that moves within its family directory.
struct Move
{
    QString dirPath;
    QString from;
    QString to;
};

// Device directories move all at once, so that devices that swap addresses
// do not block each other; a new name that another entry keeps is refused.
Result planMoves(const StoreRequest &request, StorePlan *plan)
{
    QList<Move> moves;
    QHash<QString, QSet<QString>> entries; // family directory -> its names after the moves
    for (const DeviceRecord &device : request.devices) {
        if (!isKnownType(device))
            continue;
        const Move move{request.tree.familyDir(device.type), Mac::normalizeMac(device.oldMac, underscore),
                        Mac::normalizeMac(device.newMac, underscore)};
        if (move.from == move.to)
            continue;
        if (move.to.isEmpty() || move.to.contains(QLatin1Char('/')))
            return Result::failure(QStringLiteral("Cannot move device %1 to \"%2\"").arg(device.oldMac, device.newMac));
        if (!entries.contains(move.dirPath)) {
            const QStringList list = QDir(move.dirPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                  | QDir::NoDotAndDotDot);
            entries.insert(move.dirPath, QSet<QString>(list.cbegin(), list.cend()));
        }
        entries[move.dirPath].remove(move.from);
        moves.append(move);
    }
    for (const Move &move : moves) {
        QSet<QString> &names = entries[move.dirPath];
        if (names.contains(move.to))
            return Result::failure(QStringLiteral("Cannot move device directory %1/%2: %3 exists already")
                                       .arg(move.dirPath, move.from, move.to));
        names.insert(move.to);
        const QByteArray dirKey = QFile::encodeName(QDir(request.tree.root).relativeFilePath(move.dirPath));
        plan->overlay.renames.insert(dirKey + '/' + QFile::encodeName(move.from), QFile::encodeName(move.to));
        plan->overlay.touched.insert(dirKey);
    }
    return Result::success();
}

} // namespace

Archive::NamePatches devicePathPatches(const QList<DeviceRecord> &devices)
{
    Archive::NamePatches patches;
    for (const DeviceRecord &device : devices) {
        if (!isKnownType(device))
            continue;
        const QString family = device.type == tandoType ? QStringLiteral("active-project/devices/tando/")
                                                        : QStringLiteral("active-project/devices/ksb12/");
        const QByteArray find = (family + Mac::normalizeMac(device.newMac, underscore)).toLatin1();
        const QByteArray replace = (family + Mac::normalizeMac(device.newMac, colon)).toLatin1();
        if (find != replace)
            patches.append({find, replace});
    }
    return patches;
}

Result planStore(const StoreRequest &request, StorePlan *plan)
{
    PlanBuilder builder(request.tree.root, plan);
    Result r = planSettings(builder, request);
    if (r)
        r = planDevices(builder, request);
    if (r)
        r = planMoves(request, plan);
    plan->namePatches = devicePathPatches(request.devices);
    return r;
}

// ---------------------------------------------------------------- the tree

QString ProjectTree::familyDir(const QString &type) const
{
    return root + (type == ksb12Type ? QStringLiteral("/active-project/devices/ksb12")
                                     : QStringLiteral("/active-project/devices/tando"));
}

QString ProjectTree::prefsFile(const DeviceRecord &device) const
{
    return familyDir(device.type) + QLatin1Char('/') + Mac::normalizeMac(device.oldMac, underscore)
           + QStringLiteral("/prefs");
}

QStringList ProjectTree::profileFiles(const QString &deviceDirName) const
{
    return ProjectEntity::profileFilesIn(QDir(familyDir(tandoType)), deviceDirName);
}

} // namespace Workspace
