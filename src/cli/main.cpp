// SPDX-License-Identifier: GPL-3.0-or-later
// tando-project: shows, edits, compares and checks project archives without
// a window, with the editor's own loading, validation and storing.

#include "buildinfo.h"
#include "csvoptions.h"
#include "editcommand.h"
#include "options.h"
#include "processsetup.h"
#include "progressline.h"
#include "projectentity.h"
#include "reviewcommands.h"
#include "showproject.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// Workspace diagnostics are for developers, not for the terminal: a failure
// is told by the Result of the operation.
void dropDiagnostics(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && context.category && QByteArray(context.category).startsWith("tando."))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Loads the archive, runs the command and unloads; a signal during the load
// stops the command once the load has cleaned up.
int run(const QCommandLineParser &parser)
{
    QByteArray changes;
    if (parser.isSet("changes")) {
        if (const int code = readChangesFile(parser.value("changes"), &changes); code != Success)
            return code;
    }
    static JobControl control; // the signal handler may reach it until the very end
    ProgressLine progress(control, !parser.isSet("quiet"));
    const QString command = parser.positionalArguments().at(0);
    if (command == QLatin1String("diff"))
        return runDiff(parser, control, progress);
    if (command == QLatin1String("check"))
        return runCheck(parser, control, progress);
    const QString archive = parser.positionalArguments().at(1);
    ProjectEntity project;
    const Result loaded = Workspace::loadProject(project, archive, &control);
    progress.clear();
    int code = Success;
    if (Workspace::stopSignal())
        code = stopped(Workspace::stopSignal());
    else if (!loaded)
        code = fail(Failure, QStringLiteral("cannot load %1: %2").arg(archive, loaded.reason()));
    else if (command == QLatin1String("edit"))
        code = runEdit(project, parser, changes, control, progress);
    else
        code = show(project, parser.isSet("json") ? ShowFormat::Json : parser.isSet("csv") ? ShowFormat::Csv : ShowFormat::Table);
    Workspace::unloadProject(project);
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any thread: the umask is read, termination signals cancel the
    // job in hand, and failed writes are reported rather than fatal.
    Workspace::prepareProcess(Workspace::Host::Tool);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tando-project"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TANDO_VERSION " (revision " TANDO_SOURCE_REVISION ")"));
    qInstallMessageHandler(dropDiagnostics);

    QCommandLineParser parser;
    declareOptions(parser);

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(UsageError, parser.errorText());
    if (parser.isSet("help") || parser.isSet("version")) {
        if (parser.isSet("help"))
            out() << parser.helpText() << Qt::endl;
        else
            out() << "tando-project " << QCoreApplication::applicationVersion() << '\n'
                  << TANDO_LICENCE_NOTICE << Qt::endl;
        const Result flushed = flushOutput();
        return flushed ? int(Success) : fail(Failure, flushed.reason());
    }
    if (const int code = checkArguments(parser); code != Success)
        return code;
    return run(parser);
}
