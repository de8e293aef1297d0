// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvoptions.h"

#include "dataobjectmodel.h"
#include "devicecsv.h"
#include "deviceedits.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "terminal.h"

#include <QFile>

#include <cstdio>

namespace {

QString shownName(const QString &fileName)
{
    return fileName == QLatin1String("-") ? QStringLiteral("<stdin>") : fileName;
}

} // namespace

int readChangesFile(const QString &fileName, QByteArray *bytes)
{
    QFile file(fileName);
    const bool opened = fileName == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened)
        return fail(UsageError, QStringLiteral("cannot read %1: %2").arg(shownName(fileName), file.errorString()));
    if (const Result read = Workspace::DeviceCsv::readFile(file, shownName(fileName), bytes); !read)
        return fail(UsageError, read.reason());
    return Success;
}

int applyChangesFile(ProjectEntity &project, const QString &fileName, const QByteArray &bytes,
                     const QSet<const DeviceEntity *> &namedByOptions)
{
    namespace Csv = Workspace::DeviceCsv;
    const QString name = shownName(fileName);
    QList<Csv::Change> changes;
    QStringList problems = Csv::readChanges(bytes, name, project, &changes);
    const QList<DeviceEntity *> devices = project.deviceEntities();
    for (const Csv::Change &change : changes) {
        const DeviceEntity *device = devices.value(change.device);
        if (namedByOptions.contains(device))
            problems << QStringLiteral("%1:%2: the device %3 is named by --mac or --label too")
                            .arg(name)
                            .arg(change.line)
                            .arg(device->shownOldMac());
    }
    if (problems.isEmpty()) {
        Csv::applyChanges(project, changes);
        return Success;
    }
    for (const QString &line : Csv::firstProblems(problems))
        err() << printable(line) << '\n';
    err().flush();
    return UsageError;
}
