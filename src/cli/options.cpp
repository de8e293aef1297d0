// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "processsetup.h"
#include "terminal.h"

#include <QCommandLineParser>

namespace {

const char *const helpText = R"(Shows, edits, compares and checks Tando project archives (.tgz, or a plain tar).

Usage:
  tando-project show ARCHIVE [--json | --csv] [--quiet]
  tando-project edit ARCHIVE -o OUTPUT [--name TEXT] [--author TEXT]
                     [--description TEXT] [--mac OLD=NEW]... [--label MAC=LABEL]...
                     [--changes FILE] [--dry-run] [--quiet]
  tando-project diff OLD NEW [--json | --quiet]
  tando-project check ARCHIVE [--json] [--quiet]
  tando-project --help | --version

show   prints the project's name, author, description and its devices
       (#, type, label, MAC) in the editor's order; --json prints one JSON
       object; --csv prints the device list as CSV: a line "type,label,mac",
       then one line per device, the MAC in colon form.
edit   applies the edits, validates the new MACs as the editor's "Store Project"
       does, and stores the project to OUTPUT (replaced only on success; it
       keeps its permissions, a link to it is followed, a directory or a
       device is refused). An OUTPUT named .tar is a plain tar, any other
       name gets gzip.
  --mac OLD=NEW      OLD names a device by its MAC as loaded, in any case and with
                     ":", "-", "_", " " or nothing between the bytes. NEW is either
                     the last three bytes (3c:4d:ff, 3C-4D-FF or 3c4dff), put after
                     the device's first three, or a whole MAC (001a2b3c4dff too);
                     the first three bytes cannot change.
  --label MAC=LABEL  MAC names a device as for --mac; LABEL has at most 16 of
                     A-Z, a-z, 0-9 and space (empty is allowed).
  --changes FILE     applies a changes file ("-": standard input), see below. A
                     device it changes cannot be named by --mac or --label too.
  --dry-run          validate and report, write nothing (-o is then optional).
  -q, --quiet        no progress line (shown on standard error only when it is
                     a terminal); diff prints nothing either.
diff   compares two project archives as the editor sees them, one line per
       difference, in this order: the settings that differ
       (project name: "Hall" -> "Main Hall"); devices relabelled, re-addressed
       (a device directory gone and one of the same family holding the same
       files come), added or removed; profiles whose <mac>/<unitname> pairs
       differ (which pair, before -> after); then every other entry added,
       removed, with its content changed, or with only its header changed
       (type, link, mode, uid, gid, user, group, mtime); last, whether the
       entries are in another order. Data is compared by a CRC-64 of each
       entry, read as the archives stream by; nothing is unpacked. A file whose
       change a setting, label or pair tells is not listed again, nor the
       entries of a device added or removed. --json prints one object with
       the lists "settings", "devices", "profiles" and "entries", "order"
       and "same". Exit codes as diff(1): 0 the same, 1 different, 2 trouble
       (an archive that does not load, a usage error).
check  reports what would stop a store or surprise the devices, one line
       "PATH: finding" each, sorted by path: two device directories that name
       one MAC (in one family or in both), a directory name that is no MAC, a
       Tando device without prefs, prefs or a profile that does not parse, a
       profile <mac> that names no device of the project (once per MAC, with
       the profiles that name it), a profile whose <mac> and <unitname> counts
       differ (pairs go by position, so the later pairs shift). --json prints
       one object whose list "findings" holds one object per line: "kind"
       (same-mac, not-a-mac, no-prefs, prefs-unreadable, profile-unreadable,
       unknown-mac with "mac" and "profiles", pair-counts), "path" and
       "finding". Exit codes: 0 nothing found, 1 findings, 2 the archive
       cannot be loaded or a usage error.

Changes file: CSV as spreadsheets save it. A header line names the columns;
fields are separated by commas, or by semicolons when the header line holds
more of them; a field with a separator, a quote or a line end is quoted with
", and "" stands for a quote in it; UTF-8 with or without a byte-order mark;
LF or CRLF line ends. Column names match in any letter case and with blanks
around them:
  mac        names the device of the row, as OLD of --mac (required);
  new_mac    its new MAC, as NEW of --mac;
  new_label  its new label, as LABEL of --label;
at least one of new_mac and new_label. Other columns are ignored, so the list
that show --csv prints, with these columns added, is a changes file. An empty
cell changes nothing. Any problem (a row naming no device, a label or MAC the
rules refuse, a device named twice, a missing column, a file that is not UTF-8,
a line with the wrong number of fields) changes nothing: the command exits
with 2 and prints one line "FILE:LINE: reason" per problem (the first 20).
Two devices left with one MAC are found when storing, as for --mac (exit 1).

Environment: TANDO_UNPACK_MAX_BYTES and TANDO_UNPACK_MAX_ENTRIES (decimal)
bound what one archive may hold (defaults: 16 GiB of file data, 1000000
entries). Nothing is unpacked to disk.

Exit codes of show and edit: 0 success; 1 the archive cannot be loaded, the
settings are invalid, the store failed or standard output could not be written;
2 a usage error; 128 + N stopped by signal N (SIGHUP, SIGINT, SIGTERM), for
every command. Nothing is written unless the code is 0 (but an edit that
stored OUTPUT and cannot print so exits 1), and no temporary file is left
behind.

Example: store, then compare the input with the output and check the output:
  tando-project edit venue.tgz -o venue-new.tgz --name "Main Hall" \
      --mac 00:1a:2b:3c:4d:5e=3c:4d:ff --label 00:1a:2b:3c:4d:5e="Stage Left"
  tando-project diff venue.tgz venue-new.tgz
prints (exit code 1: they differ)
  project name: "Hall" -> "Main Hall"
  device TANDO/QL3 00:1a:2b:3c:4d:5e: re-addressed -> 00:1a:2b:3c:4d:ff
  device TANDO/QL3 00:1a:2b:3c:4d:5e: relabelled "Front" -> "Stage Left"
  profile active-project/devices/tando/00:1a:2b:3c:4d:5f/profiles/stage.xml:
  pair 1: mac "00:1a:2b:3c:4d:5e", unitname "Front" -> mac "00:1a:2b:3c:4d:ff",
  unitname "Stage Left"
(one line, wrapped here); nothing else differs. Then
  tando-project check venue-new.tgz
  active-project/devices/tando/00:1a:2b:3c:4d:ff/profiles/foyer.xml:
  <mac>00:1a:2b:00:00:09</mac> names no device of the project
(one line; exit code 1) tells of a profile that names a device the project no
longer has.

Example with a spreadsheet: export the list,
  tando-project show venue.tgz --csv > devices.csv
open devices.csv, add the columns new_label and new_mac, fill in two rows,
  TANDO/QL3,Front,00:1a:2b:3c:4d:5e,Stage Left,3c:4d:ff
  KSB12,Amp,00:1a:2b:00:00:01,Amp 2,
save it as CSV (UTF-8), then apply the changes and store:
  tando-project edit venue.tgz -o venue-new.tgz --changes devices.csv)";

} // namespace

void declareOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QString::fromUtf8(helpText));
    parser.addOption({{"h", "help"}, "Shows this help."});
    parser.addOption({"version", "Shows the version, source revision and licence."});
    parser.addOption({"json", "show, diff, check: print one JSON object."});
    parser.addOption({"csv", "show: print the device list as CSV."});
    parser.addOption({{"o", "output"}, "edit: the archive to write.", "OUTPUT"});
    parser.addOption({"name", "edit: new project name.", "TEXT"});
    parser.addOption({"author", "edit: new author.", "TEXT"});
    parser.addOption({"description", "edit: new description.", "TEXT"});
    parser.addOption({"mac", "edit: re-address a device.", "OLD=NEW"});
    parser.addOption({"label", "edit: relabel a device.", "MAC=LABEL"});
    parser.addOption({"changes", "edit: apply a changes file (- for standard input).", "FILE"});
    parser.addOption({"dry-run", "edit: validate only, write nothing."});
    parser.addOption({{"q", "quiet"}, "No progress line on a terminal; diff: print nothing."});
    parser.addPositionalArgument("command", "show, edit, diff or check");
    parser.addPositionalArgument("archive", "the project archive (diff: OLD and NEW)");
}

int checkArguments(const QCommandLineParser &parser)
{
    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const QStringList commands{"show", "edit", "diff", "check"};
    if (!commands.contains(command))
        return fail(UsageError, command.isEmpty() ? QStringLiteral("missing command (show, edit, diff or check); see --help")
                                                  : QStringLiteral("unknown command \"%1\"; see --help").arg(command));
    const bool isDiff = command == QLatin1String("diff");
    if (args.size() != (isDiff ? 3 : 2))
        return fail(UsageError, isDiff ? QStringLiteral("diff takes exactly two archives, OLD and NEW; see --help")
                                       : QStringLiteral("%1 takes exactly one ARCHIVE; see --help").arg(command));
    const bool isEdit = command == QLatin1String("edit");
    for (const char *editOnly : {"output", "name", "author", "description", "mac", "label", "changes", "dry-run"}) {
        if (!isEdit && parser.isSet(editOnly))
            return fail(UsageError, QStringLiteral("--%1 belongs to edit").arg(editOnly));
    }
    if (isEdit && parser.isSet("json"))
        return fail(UsageError, QStringLiteral("--json belongs to show, diff and check"));
    if (command != QLatin1String("show") && parser.isSet("csv"))
        return fail(UsageError, QStringLiteral("--csv belongs to show"));
    if (parser.isSet("json") && parser.isSet("csv"))
        return fail(UsageError, QStringLiteral("--json and --csv: choose one"));
    if (isDiff && parser.isSet("json") && parser.isSet("quiet"))
        return fail(UsageError, QStringLiteral("--json and --quiet: choose one"));
    if (isEdit && !parser.isSet("dry-run") && parser.value("output").isEmpty())
        return fail(UsageError, QStringLiteral("edit needs -o OUTPUT (or --dry-run)"));
    // A directory or a device as OUTPUT is refused before the archive is read.
    if (isEdit && parser.isSet("output")) {
        if (const Result target = Workspace::checkStoreTarget(parser.value("output")); !target)
            return fail(Failure, QStringLiteral("storing %1 failed: %2").arg(parser.value("output"), target.reason()));
    }
    return Success;
}
