#include "editcommand.h"

#include "csvoptions.h"
#include "dataobjectmodel.h"
#include "deviceedits.h"
#include "deviceentity.h"
#include "mac.h"
#include "processsetup.h"
#include "progressline.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "terminal.h"
#include "xmlio.h"

#include <QCommandLineParser>
#include <QSet>

namespace {

DeviceEntity *deviceNamed(const ProjectEntity &project, const QString &mac)
{
    const QString key = Mac::normalizeMac(mac, QStringLiteral(":"));
    for (DeviceEntity *d : project.deviceEntities()) {
        if (Mac::normalizeMac(d->oldMac(), QStringLiteral(":")) == key)
            return d;
    }
    return nullptr;
}

bool splitAssignment(const QString &value, QString &left, QString &right)
{
    const int eq = value.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    left = value.left(eq);
    right = value.mid(eq + 1);
    return true;
}

// A NEW the rules refuse as a MAC with another vendor prefix is a usage
// error; text that is no MAC at all goes after the device's first three
// bytes, as the window's MAC cell holds it, and validation names it.
bool applyMac(DeviceEntity *device, const QString &input, QString &problem)
{
    QString newMac;
    if (const Result taken = Workspace::completeNewMac(device->oldMac(), input, &newMac); !taken) {
        problem = taken.reason();
        if (Workspace::isWholeMac(input))
            return false;
        newMac = Workspace::withMacSuffix(device->newMac(), input);
    }
    device->setNewMac(newMac);
    return true;
}

// The settings go into XML, which cannot hold every character.
int applySettings(ProjectEntity &project, const QCommandLineParser &parser)
{
    for (const char *setting : {"name", "author", "description"}) {
        if (const Result writable = Xml::checkXmlText(parser.value(setting)); !writable)
            return fail(UsageError, QStringLiteral("--%1: %2").arg(setting, writable.reason()));
    }
    if (parser.isSet("name"))
        project.setName(parser.value("name"));
    if (parser.isSet("author"))
        project.setAuthor(parser.value("author"));
    if (parser.isSet("description"))
        project.setDescription(parser.value("description"));
    return Success;
}

// Each --mac OLD=NEW; the devices named go into *named.
int applyMacOptions(ProjectEntity &project, const QStringList &assignments, QSet<const DeviceEntity *> *named)
{
    QSet<DeviceEntity *> readdressed;
    for (const QString &assignment : assignments) {
        QString oldMac, newMac, problem;
        if (!splitAssignment(assignment, oldMac, newMac))
            return fail(UsageError, QStringLiteral("--mac needs OLD=NEW, got \"%1\"").arg(assignment));
        if (newMac.isEmpty())
            return fail(UsageError, QStringLiteral("--mac %1: the new MAC after \"=\" is empty").arg(assignment));
        DeviceEntity *device = deviceNamed(project, oldMac);
        if (!device)
            return fail(UsageError, QStringLiteral("no device with MAC %1 in the project").arg(oldMac));
        if (readdressed.contains(device))
            return fail(UsageError, QStringLiteral("--mac names the device %1 more than once").arg(device->shownOldMac()));
        readdressed.insert(device);
        named->insert(device);
        if (!applyMac(device, newMac, problem))
            return fail(UsageError, problem);
    }
    return Success;
}

// Each --label MAC=LABEL; the devices named go into *named.
int applyLabelOptions(ProjectEntity &project, const QStringList &assignments, QSet<const DeviceEntity *> *named)
{
    QSet<DeviceEntity *> relabelled;
    for (const QString &assignment : assignments) {
        QString mac, label;
        if (!splitAssignment(assignment, mac, label))
            return fail(UsageError, QStringLiteral("--label needs MAC=LABEL, got \"%1\"").arg(assignment));
        DeviceEntity *device = deviceNamed(project, mac);
        if (!device)
            return fail(UsageError, QStringLiteral("no device with MAC %1 in the project").arg(mac));
        if (relabelled.contains(device))
            return fail(UsageError, QStringLiteral("--label names the device %1 more than once").arg(device->shownOldMac()));
        relabelled.insert(device);
        named->insert(device);
        if (const Result taken = Workspace::checkLabel(label); !taken)
            return fail(UsageError, taken.reason());
        device->setNewLabel(label);
    }
    return Success;
}

} // namespace

int applyEdits(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes)
{
    QSet<const DeviceEntity *> named;
    int code = applySettings(project, parser);
    if (code == Success)
        code = applyMacOptions(project, parser.values("mac"), &named);
    if (code == Success)
        code = applyLabelOptions(project, parser.values("label"), &named);
    if (code == Success && parser.isSet("changes"))
        code = applyChangesFile(project, parser.value("changes"), changes, named);
    return code;
}

int runEdit(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes, JobControl &control,
            ProgressLine &progress)
{
    if (const int code = applyEdits(project, parser, changes); code != Success)
        return code;
    if (!Workspace::validateNewSettings(project)) {
        for (const DeviceEntity *d : project.deviceEntities()) {
            if (!d->issue().isEmpty())
                err() << printable(d->newMac()) << ": " << d->issue() << Qt::endl;
        }
        return Failure;
    }

    if (parser.isSet("dry-run")) {
        out() << "Settings are valid; nothing written (dry run)." << Qt::endl;
        return Success;
    }
    const QString output = parser.value("output");
    Result stored;
    {
        const Workspace::CancelOnSignal cancelOnSignal(control);
        stored = Workspace::storeCurrentProject(project, output, &control);
    }
    progress.clear();
    if (!stored && Workspace::stopSignal())
        return stopped(Workspace::stopSignal());
    if (!stored)
        return fail(Failure, QStringLiteral("storing %1 failed: %2").arg(output, stored.reason()));
    out() << "Stored " << output << Qt::endl;
    if (const Result flushed = flushOutput(); !flushed)
        return fail(Failure, QStringLiteral("%1 was stored, but %2").arg(output, flushed.reason()));
    return Success;
}
