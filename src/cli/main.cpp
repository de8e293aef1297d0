// tando-project: shows and edits project archives without a window, with the
// editor's own loading, validation and storing.

#include "buildinfo.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "interruption.h"
#include "mac.h"
#include "processfacts.h"
#include "progressline.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "replacementfile.h"
#include "unpackbudget.h"
#include "xmlio.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

const char *const helpText = R"(Shows and edits Tando project archives (.tgz, or a plain tar).

Usage:
  tando-project show ARCHIVE [--json] [--quiet]
  tando-project edit ARCHIVE -o OUTPUT [--name TEXT] [--author TEXT]
                     [--description TEXT] [--mac OLD=NEW]... [--label MAC=LABEL]...
                     [--dry-run] [--quiet]
  tando-project --help | --version

show   prints the project's name, author, description and its devices
       (#, type, label, MAC) in the editor's order; --json prints one JSON object.
edit   applies the edits, validates the new MACs as the editor's "Store Project"
       does, and stores the project to OUTPUT (replaced only on success; it
       keeps its permissions, a link to it is followed, a directory or a
       device is refused).
  --mac OLD=NEW      OLD names a device by its MAC as loaded, in any case and with
                     ":", "-", "_" or " " between the bytes. NEW is either the last
                     three bytes (3c:4d:ff), put after the device's first three, or a
                     whole MAC; the first three bytes cannot change.
  --label MAC=LABEL  MAC names a device as for --mac; LABEL has at most 16 of
                     A-Z, a-z, 0-9 and space (empty is allowed).
  --dry-run          validate and report, write nothing (-o is then optional).
  -q, --quiet        no progress line (shown on standard error only when it is
                     a terminal).

Environment: TANDO_UNPACK_MAX_BYTES and TANDO_UNPACK_MAX_ENTRIES (decimal)
bound what one archive may hold (defaults: 16 GiB of file data, 1000000
entries). Nothing is unpacked to disk.

Exit codes: 0 success; 1 the archive cannot be loaded, the settings are invalid,
the store failed or standard output could not be written; 2 a usage error;
128 + N stopped by signal N (SIGHUP, SIGINT, SIGTERM). Nothing is written unless
the code is 0 (but an edit that stored OUTPUT and cannot print so exits 1), and
no temporary file is left behind.

Example:
  tando-project edit venue.tgz -o venue-new.tgz --name "Main Hall" \
      --mac 00:1a:2b:3c:4d:5e=3c:4d:ff --label 00:1a:2b:3c:4d:5e="Stage Left")";

// Workspace diagnostics are for developers, not for the terminal: a failure
// is told by the Result of the operation.
void dropDiagnostics(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && context.category && QByteArray(context.category).startsWith("tando."))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Bounds on what an archive may hold, for archives that claim far more than their size; the
// defaults suit every real project, scripts may tighten or widen them.
void applyUnpackLimitsFromEnvironment()
{
    Archive::UnpackLimits limits = Archive::unpackLimits();
    auto take = [](const char *name, quint64 &value) {
        bool ok = false;
        const quint64 given = qEnvironmentVariable(name).toULongLong(&ok);
        if (ok)
            value = given;
    };
    take("TANDO_UNPACK_MAX_BYTES", limits.maxBytes);
    take("TANDO_UNPACK_MAX_ENTRIES", limits.maxEntries);
    Archive::setUnpackLimits(limits);
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(ExitCode code, const QString &message)
{
    err() << "tando-project: " << message << Qt::endl;
    return code;
}

QString displayMac(const DeviceEntity *device)
{
    return QString(device->oldMac()).replace(QLatin1Char('_'), QLatin1Char(':'));
}

QList<DeviceEntity *> devicesOf(const ProjectEntity &project)
{
    return project.devices()->objectsOfType<DeviceEntity>();
}

// Control characters in a name, label or MAC would move the terminal's
// cursor or change its colours; they are shown as \xNN instead.
QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

void printProject(const ProjectEntity &project, bool json)
{
    const QList<DeviceEntity *> devices = devicesOf(project);
    if (json) {
        QJsonArray list;
        for (const DeviceEntity *d : devices)
            list.append(QJsonObject{{"type", d->deviceType()}, {"label", d->oldLabel()}, {"mac", displayMac(d)}});
        const QJsonObject root{{"name", project.name()},
                               {"author", project.author()},
                               {"description", project.description()},
                               {"devices", list}};
        out() << QJsonDocument(root).toJson(QJsonDocument::Indented);
        return;
    }
    out() << "Name:        " << printable(project.name()) << '\n'
          << "Author:      " << printable(project.author()) << '\n'
          << "Description: " << printable(project.description()) << '\n'
          << '\n'
          << QStringLiteral("%1  %2  %3  %4").arg("#", -4).arg("Type", -10).arg("Label", -16).arg("MAC") << '\n';
    int row = 0;
    for (const DeviceEntity *d : devices)
        out() << QStringLiteral("%1  %2  %3  %4")
                     .arg(++row, -4)
                     .arg(printable(d->deviceType()), -10)
                     .arg(printable(d->oldLabel()), -16)
                     .arg(printable(displayMac(d)))
              << '\n';
}

// Standard output must take everything printed: a closed pipe (EPIPE, as
// SIGPIPE is ignored) or a full disk fails the command. Empty when all went out.
QString outputProblem()
{
    out().flush();
    if (out().status() != QTextStream::Ok)
        return QStringLiteral("cannot write to standard output: %1")
            .arg(out().device() ? out().device()->errorString() : QStringLiteral("write failed"));
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return QString();
    return QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
}

int stopped(int signalNumber)
{
    err() << "tando-project: stopped by signal " << signalNumber << " (" << ::strsignal(signalNumber) << ')' << Qt::endl;
    return 128 + signalNumber;
}

DeviceEntity *deviceNamed(const ProjectEntity &project, const QString &mac)
{
    const QString key = Mac::normalizeMac(mac, QStringLiteral(":"));
    for (DeviceEntity *d : devicesOf(project)) {
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

// The new MAC as the window would store it: a three-byte suffix goes after
// the device's first three bytes; anything else is taken as typed.
bool applyMac(DeviceEntity *device, const QString &newMac, QString &problem)
{
    static const QRegularExpression groupSeparators(QStringLiteral("[:._ -]"));
    const QStringList groups = newMac.split(groupSeparators);
    if (groups.size() == 3) {
        device->setNewMac(device->newMac().left(9) + newMac);
        return true;
    }
    if (groups.size() == 6) {
        QStringList prefix = groups.mid(0, 3);
        for (QString &group : prefix)
            group = group.rightJustified(2, QLatin1Char('0')).toLower();
        const QString colon = QStringLiteral(":");
        if (prefix.join(colon) != Mac::normalizeMac(device->oldMac(), colon).left(8)) {
            problem = QStringLiteral("%1: only the last three bytes of a MAC can change").arg(newMac);
            return false;
        }
    }
    device->setNewMac(newMac);
    return true;
}

// Applies the command line's edits; Success, or the code of the first usage
// error after its message. A device may be named once per option.
int applyEdits(ProjectEntity &project, const QCommandLineParser &parser)
{
    // The settings go into XML, which cannot hold every character.
    for (const char *setting : {"name", "author", "description"}) {
        const QString invalid = Xml::invalidCharacterReason(parser.value(setting));
        if (!invalid.isEmpty())
            return fail(UsageError, QStringLiteral("--%1: %2").arg(setting, invalid));
    }
    if (parser.isSet("name"))
        project.setName(parser.value("name"));
    if (parser.isSet("author"))
        project.setAuthor(parser.value("author"));
    if (parser.isSet("description"))
        project.setDescription(parser.value("description"));

    QSet<DeviceEntity *> readdressed;
    for (const QString &assignment : parser.values("mac")) {
        QString oldMac, newMac, problem;
        if (!splitAssignment(assignment, oldMac, newMac))
            return fail(UsageError, QStringLiteral("--mac needs OLD=NEW, got \"%1\"").arg(assignment));
        if (newMac.isEmpty())
            return fail(UsageError, QStringLiteral("--mac %1: the new MAC after \"=\" is empty").arg(assignment));
        DeviceEntity *device = deviceNamed(project, oldMac);
        if (!device)
            return fail(UsageError, QStringLiteral("no device with MAC %1 in the project").arg(oldMac));
        if (readdressed.contains(device))
            return fail(UsageError, QStringLiteral("--mac names the device %1 more than once").arg(displayMac(device)));
        readdressed.insert(device);
        if (!applyMac(device, newMac, problem))
            return fail(UsageError, problem);
    }

    static const QRegularExpression labelSyntax(QStringLiteral("\\A[0-9A-Za-z ]{0,16}\\z"));
    QSet<DeviceEntity *> relabelled;
    for (const QString &assignment : parser.values("label")) {
        QString mac, label;
        if (!splitAssignment(assignment, mac, label))
            return fail(UsageError, QStringLiteral("--label needs MAC=LABEL, got \"%1\"").arg(assignment));
        DeviceEntity *device = deviceNamed(project, mac);
        if (!device)
            return fail(UsageError, QStringLiteral("no device with MAC %1 in the project").arg(mac));
        if (relabelled.contains(device))
            return fail(UsageError, QStringLiteral("--label names the device %1 more than once").arg(displayMac(device)));
        relabelled.insert(device);
        if (!labelSyntax.match(label).hasMatch())
            return fail(UsageError, QStringLiteral("label \"%1\": at most 16 of A-Z, a-z, 0-9 and space").arg(label));
        device->setNewLabel(label);
    }
    return Success;
}

int edit(ProjectEntity &project, const QCommandLineParser &parser, JobControl &control, ProgressLine &progress)
{
    if (const int code = applyEdits(project, parser); code != Success)
        return code;
    if (!Workspace::validateNewSettings(project)) {
        for (const DeviceEntity *d : devicesOf(project)) {
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
        const Interruption::CancelOnSignal cancelOnSignal(control);
        stored = Workspace::storeCurrentProject(project, output, &control);
    }
    progress.clear();
    if (!stored && Interruption::received())
        return stopped(Interruption::received());
    if (!stored)
        return fail(Failure, QStringLiteral("storing %1 failed: %2").arg(output, stored.reason()));
    out() << "Stored " << output << Qt::endl;
    if (const QString problem = outputProblem(); !problem.isEmpty())
        return fail(Failure, QStringLiteral("%1 was stored, but %2").arg(output, problem));
    return Success;
}

// Shows the project; a signal while printing still stops the command.
int show(const ProjectEntity &project, bool json)
{
    printProject(project, json);
    if (const QString problem = outputProblem(); !problem.isEmpty())
        return fail(Failure, problem);
    if (Interruption::received())
        return stopped(Interruption::received());
    return Success;
}

// The command line as given, checked before the archive is read. Success,
// or the code after its message.
int checkArguments(const QCommandLineParser &parser)
{
    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    if (command != QLatin1String("show") && command != QLatin1String("edit"))
        return fail(UsageError, command.isEmpty() ? QStringLiteral("missing command (show or edit); see --help")
                                                  : QStringLiteral("unknown command \"%1\"; see --help").arg(command));
    if (args.size() != 2)
        return fail(UsageError, QStringLiteral("%1 takes exactly one ARCHIVE; see --help").arg(command));
    const bool isEdit = command == QLatin1String("edit");
    for (const char *editOnly : {"output", "name", "author", "description", "mac", "label", "dry-run"}) {
        if (!isEdit && parser.isSet(editOnly))
            return fail(UsageError, QStringLiteral("--%1 belongs to edit").arg(editOnly));
    }
    if (isEdit && parser.isSet("json"))
        return fail(UsageError, QStringLiteral("--json belongs to show"));
    if (isEdit && !parser.isSet("dry-run") && parser.value("output").isEmpty())
        return fail(UsageError, QStringLiteral("edit needs -o OUTPUT (or --dry-run)"));
    // A directory or a device as OUTPUT is refused before the archive is read.
    if (isEdit && parser.isSet("output")) {
        if (const Result target = ReplacementFile::check(parser.value("output")); !target)
            return fail(Failure, QStringLiteral("storing %1 failed: %2").arg(parser.value("output"), target.reason()));
    }
    return Success;
}

// Loads the archive, runs the command and unloads; a signal during the load
// stops the command once the load has cleaned up.
int run(const QCommandLineParser &parser)
{
    static JobControl control; // the signal handler may reach it until the very end
    ProgressLine progress(control, !parser.isSet("quiet"));
    const QString archive = parser.positionalArguments().at(1);
    ProjectEntity project;
    Result loaded;
    {
        const Interruption::CancelOnSignal cancelOnSignal(control);
        loaded = Workspace::loadProject(project, archive, &control);
    }
    progress.clear();
    int code = Success;
    if (Interruption::received())
        code = stopped(Interruption::received());
    else if (!loaded)
        code = fail(Failure, QStringLiteral("cannot load %1: %2").arg(archive, loaded.reason()));
    else if (parser.positionalArguments().at(0) == QLatin1String("edit"))
        code = edit(project, parser, control, progress);
    else
        code = show(project, parser.isSet("json"));
    Workspace::unloadProject(project);
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any thread: the umask is read, termination signals cancel the
    // job in hand, and failed writes are reported rather than fatal.
    Archive::captureProcessFacts();
    Interruption::install({SIGHUP, SIGINT, SIGTERM});
    Interruption::ignoreWriteSignals();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tando-project"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TANDO_VERSION " (revision " TANDO_SOURCE_REVISION ")"));
    qInstallMessageHandler(dropDiagnostics);
    applyUnpackLimitsFromEnvironment();

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(helpText));
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption version("version", "Shows the version and source revision.");
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption({"json", "show: print one JSON object."});
    parser.addOption({{"o", "output"}, "edit: the archive to write.", "OUTPUT"});
    parser.addOption({"name", "edit: new project name.", "TEXT"});
    parser.addOption({"author", "edit: new author.", "TEXT"});
    parser.addOption({"description", "edit: new description.", "TEXT"});
    parser.addOption({"mac", "edit: re-address a device.", "OLD=NEW"});
    parser.addOption({"label", "edit: relabel a device.", "MAC=LABEL"});
    parser.addOption({"dry-run", "edit: validate only, write nothing."});
    parser.addOption({{"q", "quiet"}, "No progress line on a terminal."});
    parser.addPositionalArgument("command", "show or edit");
    parser.addPositionalArgument("archive", "the project archive");

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(UsageError, parser.errorText());
    if (parser.isSet(help) || parser.isSet(version)) {
        if (parser.isSet(help))
            out() << parser.helpText() << Qt::endl;
        else
            out() << "tando-project " << QCoreApplication::applicationVersion() << Qt::endl;
        const QString problem = outputProblem();
        return problem.isEmpty() ? int(Success) : fail(Failure, problem);
    }
    if (const int code = checkArguments(parser); code != Success)
        return code;
    return run(parser);
}
