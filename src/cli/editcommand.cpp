// SPDX-License-Identifier: GPL-3.0-or-later
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
    const QString key = Workspace::normalizeTypedMac(mac);
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
Result applyMac(DeviceEntity *device, const QString &input)
{
    QString newMac;
    if (const Result taken = Workspace::completeNewMac(device->oldMac(), input, &newMac); !taken) {
        if (Workspace::isWholeMac(input))
            return taken;
        newMac = Workspace::withMacSuffix(device->newMac(), input);
    }
    device->setNewMac(newMac);
    return Result::success();
}

Result applyLabel(DeviceEntity *device, const QString &label)
{
    const Result taken = Workspace::checkLabel(label);
    if (taken)
        device->setNewLabel(label);
    return taken;
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

// One of the options that name a device by its MAC as loaded.
struct DeviceOption
{
    QString name;      // "mac"
    QString form;      // "OLD=NEW"
    QString noValue;   // the refusal of an empty value; empty when one is allowed
    Result (*apply)(DeviceEntity *device, const QString &value);
};

// Each --NAME MAC=VALUE; a device may be named once. The devices named go into *named.
int applyDeviceOption(ProjectEntity &project, const QCommandLineParser &parser, const DeviceOption &option,
                      QSet<const DeviceEntity *> *named)
{
    QSet<DeviceEntity *> seen;
    for (const QString &assignment : parser.values(option.name)) {
        QString mac, value;
        if (!splitAssignment(assignment, mac, value))
            return fail(UsageError, QStringLiteral("--%1 needs %2, got \"%3\"").arg(option.name, option.form, assignment));
        if (value.isEmpty() && !option.noValue.isEmpty())
            return fail(UsageError, QStringLiteral("--%1 %2: %3").arg(option.name, assignment, option.noValue));
        DeviceEntity *device = deviceNamed(project, mac);
        if (!device)
            return fail(UsageError, QStringLiteral("no device with MAC %1 in the project").arg(mac));
        if (seen.contains(device))
            return fail(UsageError,
                        QStringLiteral("--%1 names the device %2 more than once").arg(option.name, device->shownOldMac()));
        seen.insert(device);
        named->insert(device);
        if (const Result applied = option.apply(device, value); !applied)
            return fail(UsageError, applied.reason());
    }
    return Success;
}

} // namespace

int applyEdits(ProjectEntity &project, const QCommandLineParser &parser, const QByteArray &changes)
{
    QSet<const DeviceEntity *> named;
    int code = applySettings(project, parser);
    if (code == Success)
        code = applyDeviceOption(project, parser, {"mac", "OLD=NEW", "the new MAC after \"=\" is empty", applyMac}, &named);
    if (code == Success)
        code = applyDeviceOption(project, parser, {"label", "MAC=LABEL", QString(), applyLabel}, &named);
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
    const Result stored = Workspace::storeCurrentProject(project, output, &control);
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
