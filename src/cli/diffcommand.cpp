// SPDX-License-Identifier: GPL-3.0-or-later
// tando-project diff OLD NEW: one line per difference, or one JSON object.

#include "reviewcommands.h"

#include "processsetup.h"
#include "progressline.h"
#include "projectdiff.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Workspace;

namespace {

// Trouble, as diff(1) says: an archive that does not load, output that cannot be written.
constexpr ExitCode Trouble = ExitCode(2);

// A value in quotes, its quotes and backslashes escaped and control
// characters shown as \xNN.
QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + printable(escaped) + QLatin1Char('"');
}

QString deviceKind(DeviceChange::Kind kind)
{
    switch (kind) {
    case DeviceChange::Relabelled:
        return QStringLiteral("relabelled");
    case DeviceChange::Readdressed:
        return QStringLiteral("re-addressed");
    case DeviceChange::Added:
        return QStringLiteral("added");
    case DeviceChange::Removed:
        return QStringLiteral("removed");
    }
    return QString();
}

QString entryKind(EntryChange::Kind kind)
{
    switch (kind) {
    case EntryChange::Added:
        return QStringLiteral("added");
    case EntryChange::Removed:
        return QStringLiteral("removed");
    case EntryChange::Content:
        return QStringLiteral("content");
    case EntryChange::Header:
        return QStringLiteral("header");
    }
    return QString();
}

QString deviceLine(const DeviceChange &d)
{
    QString line = QStringLiteral("device %1 %2: %3").arg(d.type, printable(d.mac), deviceKind(d.kind));
    if (d.kind == DeviceChange::Relabelled)
        return line + QStringLiteral(" %1 -> %2").arg(quoted(d.before), quoted(d.after));
    if (d.kind == DeviceChange::Readdressed)
        return line + QStringLiteral(" -> %1").arg(printable(d.after));
    return line + QStringLiteral(" (label %1, %2 entries)").arg(quoted(d.label)).arg(d.entries);
}

QString pairText(const ProfilePair &pair)
{
    if (pair.isNull())
        return QStringLiteral("nothing");
    return (pair.mac.isNull() ? QStringLiteral("no mac") : QStringLiteral("mac ") + quoted(pair.mac)) + QStringLiteral(", ")
           + (pair.unitname.isNull() ? QStringLiteral("no unitname") : QStringLiteral("unitname ") + quoted(pair.unitname));
}

QString fieldsText(const QList<ValueChange> &fields)
{
    QStringList parts;
    for (const ValueChange &f : fields) {
        const bool text = f.what == QLatin1String("link") || f.what == QLatin1String("user") || f.what == QLatin1String("group");
        parts.append(QStringLiteral("%1 %2 -> %3")
                         .arg(f.what, text ? quoted(f.before) : printable(f.before), text ? quoted(f.after) : printable(f.after)));
    }
    return parts.join(QStringLiteral(", "));
}

QString entryLine(const EntryChange &e)
{
    static const QString told[] = {QStringLiteral("added"), QStringLiteral("removed"), QStringLiteral("content changed"),
                                   QStringLiteral("header changed")};
    QString line = QStringLiteral("entry %1: %2").arg(printable(e.path), told[e.kind]);
    if (!e.fields.isEmpty())
        line += QStringLiteral("; ") + fieldsText(e.fields);
    return line;
}

void printText(const ProjectDiff &diff)
{
    for (const ValueChange &s : diff.settings)
        out() << "project " << s.what << ": " << quoted(s.before) << " -> " << quoted(s.after) << '\n';
    for (const DeviceChange &d : diff.devices)
        out() << deviceLine(d) << '\n';
    for (const PairChange &p : diff.pairs)
        out() << "profile " << printable(p.profile) << ": pair " << p.pair << ": " << pairText(p.before) << " -> "
              << pairText(p.after) << '\n';
    for (const EntryChange &e : diff.entries)
        out() << entryLine(e) << '\n';
    if (!diff.firstOutOfOrder.isNull())
        out() << "order: the entries are in another order, from " << printable(diff.firstOutOfOrder) << " on\n";
}

QJsonValue orNull(const QString &text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QJsonValue pairJson(const ProfilePair &pair)
{
    if (pair.isNull())
        return QJsonValue();
    return QJsonObject{{"mac", orNull(pair.mac)}, {"unitname", orNull(pair.unitname)}};
}

QJsonObject deviceJson(const DeviceChange &d)
{
    QJsonObject o{{"change", deviceKind(d.kind)}, {"type", d.type}, {"mac", d.mac}};
    if (d.kind == DeviceChange::Relabelled || d.kind == DeviceChange::Readdressed) {
        o.insert("old", d.before);
        o.insert("new", d.after);
    } else {
        o.insert("label", d.label);
        o.insert("entries", d.entries);
    }
    return o;
}

QJsonArray changesJson(const QList<ValueChange> &changes, const char *key)
{
    QJsonArray list;
    for (const ValueChange &c : changes)
        list.append(QJsonObject{{key, c.what}, {"old", c.before}, {"new", c.after}});
    return list;
}

void printJson(const ProjectDiff &diff)
{
    QJsonArray devices, pairs, entries;
    for (const DeviceChange &d : diff.devices)
        devices.append(deviceJson(d));
    for (const PairChange &p : diff.pairs)
        pairs.append(QJsonObject{{"path", p.profile}, {"pair", p.pair}, {"old", pairJson(p.before)}, {"new", pairJson(p.after)}});
    for (const EntryChange &e : diff.entries)
        entries.append(QJsonObject{{"path", e.path}, {"change", entryKind(e.kind)}, {"fields", changesJson(e.fields, "field")}});
    QJsonObject order{{"differs", !diff.firstOutOfOrder.isNull()}};
    if (!diff.firstOutOfOrder.isNull())
        order.insert("first", diff.firstOutOfOrder);
    const QJsonObject root{{"same", diff.isSame()},           {"settings", changesJson(diff.settings, "field")},
                           {"devices", devices},              {"profiles", pairs},
                           {"entries", entries},              {"order", order}};
    out() << QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace

int runDiff(const QCommandLineParser &parser, JobControl &control, ProgressLine &progress)
{
    const QStringList args = parser.positionalArguments();
    ProjectDiff diff;
    const Result compared = diffProjects(args.at(1), args.at(2), &control, &diff);
    progress.clear();
    if (stopSignal())
        return stopped(stopSignal());
    if (!compared)
        return fail(Trouble, compared.reason());
    if (parser.isSet("json"))
        printJson(diff);
    else if (!parser.isSet("quiet"))
        printText(diff);
    if (const Result flushed = flushOutput(); !flushed)
        return fail(Trouble, flushed.reason());
    if (stopSignal())
        return stopped(stopSignal());
    return diff.isSame() ? 0 : 1;
}
