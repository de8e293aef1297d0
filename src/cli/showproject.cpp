// SPDX-License-Identifier: GPL-3.0-or-later
#include "showproject.h"

#include "dataobjectmodel.h"
#include "devicecsv.h"
#include "deviceentity.h"
#include "processsetup.h"
#include "projectentity.h"
#include "terminal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

void printJson(const ProjectEntity &project)
{
    QJsonArray list;
    for (const DeviceEntity *d : project.deviceEntities())
        list.append(QJsonObject{{"type", d->deviceType()}, {"label", d->oldLabel()}, {"mac", d->shownOldMac()}});
    const QJsonObject root{{"name", project.name()},
                           {"author", project.author()},
                           {"description", project.description()},
                           {"devices", list}};
    out() << QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void printTable(const ProjectEntity &project)
{
    out() << "Name:        " << printable(project.name()) << '\n'
          << "Author:      " << printable(project.author()) << '\n'
          << "Description: " << printable(project.description()) << '\n'
          << '\n'
          << QStringLiteral("%1  %2  %3  %4").arg("#", -4).arg("Type", -10).arg("Label", -16).arg("MAC") << '\n';
    int row = 0;
    for (const DeviceEntity *d : project.deviceEntities())
        out() << QStringLiteral("%1  %2  %3  %4")
                     .arg(++row, -4)
                     .arg(printable(d->deviceType()), -10)
                     .arg(printable(d->oldLabel()), -16)
                     .arg(printable(d->shownOldMac()))
              << '\n';
}

// The list is UTF-8 whatever the terminal's locale: it goes out as bytes.
void printCsv(const ProjectEntity &project)
{
    const QByteArray list = Workspace::DeviceCsv::write(project, Workspace::DeviceCsv::Columns::Loaded);
    out().flush();
    std::fwrite(list.constData(), 1, size_t(list.size()), stdout);
}

} // namespace

int show(const ProjectEntity &project, ShowFormat format)
{
    if (format == ShowFormat::Json)
        printJson(project);
    else if (format == ShowFormat::Csv)
        printCsv(project);
    else
        printTable(project);
    if (const Result flushed = flushOutput(); !flushed)
        return fail(Failure, flushed.reason());
    if (Workspace::stopSignal())
        return stopped(Workspace::stopSignal());
    return Success;
}
