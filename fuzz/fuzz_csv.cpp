// SPDX-License-Identifier: GPL-3.0-or-later
// A changes file of arbitrary bytes, read against a small project: either
// problems and no change at all, or changes that the label and MAC rules
// accept, each naming a device of the project once.

#include "fuzzsupport.h"

#include "dataobjectmodel.h"
#include "devicecsv.h"
#include "deviceedits.h"
#include "deviceentity.h"
#include "mac.h"
#include "projectentity.h"

#include <QSet>

namespace {

ProjectEntity &project()
{
    static ProjectEntity *project = [] {
        auto *p = new ProjectEntity;
        QList<QObject *> devices;
        for (const char *mac : {"00:1a:2b:00:00:01", "00:1a:2b:3c:4d:5e", "0a:0b:0c:0d:0e:0f"}) {
            auto *d = new DeviceEntity(p);
            d->setOldMac(QString::fromLatin1(mac));
            d->setNewMac(d->oldMac());
            d->setOldLabel(QStringLiteral("Front"));
            d->setNewLabel(d->oldLabel());
            devices.append(d);
        }
        p->devices()->append(devices);
        return p;
    }();
    return *project;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    namespace Csv = Workspace::DeviceCsv;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QList<Csv::Change> changes;
    const QStringList problems = Csv::readChanges(bytes, QStringLiteral("f.csv"), project(), &changes);
    if (!problems.isEmpty()) {
        if (!changes.isEmpty())
            FuzzSupport::fail("changes handed back beside problems");
        for (const QString &problem : problems) {
            if (!problem.startsWith(QLatin1String("f.csv:")))
                FuzzSupport::fail("a problem without its file", problem.toStdString());
        }
        return 0;
    }
    const QList<DeviceEntity *> devices = project().devices()->objectsOfType<DeviceEntity>();
    QSet<int> named;
    for (const Csv::Change &change : changes) {
        if (change.device < 0 || change.device >= devices.size() || named.contains(change.device))
            FuzzSupport::fail("a change names no device, or one twice");
        named.insert(change.device);
        if (change.newLabel && !Workspace::checkLabel(*change.newLabel))
            FuzzSupport::fail("a label the rule refuses", change.newLabel->toStdString());
        const QString prefix = devices.at(change.device)->oldMac().left(8);
        if (change.newMac && (!Mac::isValidMacSyntax(*change.newMac) || !change.newMac->startsWith(prefix)))
            FuzzSupport::fail("a new MAC that is no MAC or changes the vendor prefix", change.newMac->toStdString());
    }
    return 0;
}
