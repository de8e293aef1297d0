// SPDX-License-Identifier: GPL-3.0-or-later
// tando-project check ARCHIVE: one line "PATH: finding" each, or one JSON object.

#include "reviewcommands.h"

#include "processsetup.h"
#include "progressline.h"
#include "projectcheck.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Workspace;

namespace {

// An archive that cannot be loaded, or output that cannot be written.
constexpr ExitCode CannotCheck = ExitCode(2);

void printJson(const QList<Finding> &findings)
{
    QJsonArray list;
    for (const Finding &f : findings) {
        QJsonObject o{{"kind", kindName(f.kind)}, {"path", f.path}, {"finding", f.text}};
        if (f.kind == Finding::UnknownMac) {
            o.insert("mac", f.mac);
            o.insert("profiles", QJsonArray::fromStringList(f.profiles));
        }
        list.append(o);
    }
    out() << QJsonDocument(QJsonObject{{"findings", list}}).toJson(QJsonDocument::Indented);
}

} // namespace

int runCheck(const QCommandLineParser &parser, JobControl &control, ProgressLine &progress)
{
    QList<Finding> findings;
    const QString archive = parser.positionalArguments().at(1);
    const Result checked = checkProject(archive, &control, &findings);
    progress.clear();
    if (stopSignal())
        return stopped(stopSignal());
    if (!checked)
        return fail(CannotCheck, QStringLiteral("cannot load %1: %2").arg(archive, checked.reason()));
    if (parser.isSet("json")) {
        printJson(findings);
    } else {
        for (const Finding &f : findings)
            out() << printable(f.path) << ": " << printable(f.text) << '\n';
    }
    if (const Result flushed = flushOutput(); !flushed)
        return fail(CannotCheck, flushed.reason());
    if (stopSignal())
        return stopped(stopSignal());
    return findings.isEmpty() ? 0 : 1;
}
