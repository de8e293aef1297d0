// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectdiff.h"

#include "devicematch.h"
#include "projectreview.h"
#include "storeplan.h"

#include <QDateTime>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <thread>

#include <archive_entry.h>

namespace Workspace {

namespace {

using Archive::EntryFacts;

QString shown(const QByteArray &path)
{
    return path.isEmpty() ? QStringLiteral(".") : QFile::decodeName(path);
}

QString typeName(const EntryFacts &facts)
{
    if (facts.hardLink)
        return QStringLiteral("hard link");
    switch (facts.type) {
    case AE_IFREG:
        return QStringLiteral("file");
    case AE_IFDIR:
        return QStringLiteral("directory");
    case AE_IFLNK:
        return QStringLiteral("symbolic link");
    default:
        return QStringLiteral("type %1").arg(facts.type, 0, 8);
    }
}

QString timeText(const EntryFacts &facts)
{
    QString text = QDateTime::fromSecsSinceEpoch(facts.mtime, Qt::UTC).toString(Qt::ISODate);
    if (facts.mtimeNanoseconds != 0)
        text.insert(text.size() - 1, QStringLiteral(".%1").arg(facts.mtimeNanoseconds, 9, 10, QLatin1Char('0')));
    return text;
}

QString modeText(const EntryFacts &facts)
{
    return QStringLiteral("%1").arg(facts.permissions, 4, 8, QLatin1Char('0'));
}

// The header fields that differ, the old entry's link target as it reads
// after the device moves. Texts are made only for what differs: most
// entries of two archives are alike.
QList<ValueChange> headerChanges(const EntryFacts &a, const QByteArray &aTarget, const EntryFacts &b)
{
    QList<ValueChange> fields;
    auto add = [&fields](const char *what, const QString &before, const QString &after) {
        fields.append({QLatin1String(what), before, after});
    };
    if (a.type != b.type || a.hardLink != b.hardLink)
        add("type", typeName(a), typeName(b));
    if (aTarget != b.linkTarget)
        add("link", QFile::decodeName(aTarget), QFile::decodeName(b.linkTarget));
    if (a.permissions != b.permissions)
        add("mode", modeText(a), modeText(b));
    if (a.uid != b.uid)
        add("uid", QString::number(a.uid), QString::number(b.uid));
    if (a.gid != b.gid)
        add("gid", QString::number(a.gid), QString::number(b.gid));
    if (a.user != b.user)
        add("user", QString::fromUtf8(a.user), QString::fromUtf8(b.user));
    if (a.group != b.group)
        add("group", QString::fromUtf8(a.group), QString::fromUtf8(b.group));
    if (a.mtime != b.mtime || a.mtimeNanoseconds != b.mtimeNanoseconds)
        add("mtime", timeText(a), timeText(b));
    return fields;
}

bool dataDiffers(const EntryFacts &a, const EntryFacts &b)
{
    return a.type != b.type || a.hardLink != b.hardLink || a.size != b.size || a.crc != b.crc;
}

class Differ
{
public:
    Differ(const ReviewedProject &before, const ReviewedProject &after, ProjectDiff *diff)
        : m_before(before), m_after(after), m_diff(diff)
    {
    }

    void run()
    {
        compareSettings();
        const EntriesByDir beforeDirs = entriesByDeviceDir(m_before);
        const EntriesByDir afterDirs = entriesByDeviceDir(m_after);
        m_match = matchDevices(m_before, beforeDirs, m_after, afterDirs);
        m_diff->devices = m_match.changes;
        m_moved.moves = m_match.moves;
        for (const auto &same : m_match.same)
            compareDevice(*same.first, *same.second);
        std::stable_sort(m_diff->pairs.begin(), m_diff->pairs.end(),
                         [](const PairChange &a, const PairChange &b) { return a.profile < b.profile; });
        compareEntries();
    }

private:
    void compareSettings()
    {
        const ProjectSettings &a = m_before.loaded.settings;
        const ProjectSettings &b = m_after.loaded.settings;
        const QList<ValueChange> all{{QStringLiteral("name"), a.name, b.name},
                                     {QStringLiteral("author"), a.author, b.author},
                                     {QStringLiteral("description"), a.description, b.description}};
        for (const ValueChange &change : all) {
            if (change.before != change.after)
                m_diff->settings.append(change);
        }
        if (!m_diff->settings.isEmpty())
            m_told.insert(Layout::projectFile);
    }

    // A label change tells the change of the prefs; profile pairs that
    // differ tell the change of their profile.
    void compareDevice(const DeviceRecord &old, const DeviceRecord &now)
    {
        const QByteArray oldDir = m_before.loaded.opened->deviceDir(old);
        const QByteArray newDir = m_after.loaded.opened->deviceDir(now);
        if (old.oldLabel != now.oldLabel)
            m_told.insert(Layout::prefsPath(now.type, newDir));
        if (now.type != tandoType)
            return;
        const QByteArrayList newProfiles = m_after.loaded.opened->profilePaths.value(newDir);
        for (const QByteArray &profile : m_before.loaded.opened->profilePaths.value(oldDir)) {
            const QByteArray path = newPath(profile);
            if (newProfiles.contains(path))
                compareProfile(profile, path);
        }
    }

    void compareProfile(const QByteArray &oldPath, const QByteArray &path)
    {
        QByteArray oldBytes;
        QByteArray newBytes;
        if (m_before.loaded.opened->file(oldPath, &oldBytes) && m_after.loaded.opened->file(path, &newBytes)
            && oldBytes == newBytes)
            return;
        const ProfilePairs a = readProfilePairs(*m_before.loaded.opened, oldPath);
        const ProfilePairs b = readProfilePairs(*m_after.loaded.opened, path);
        if (!a.parsed || !b.parsed || a == b)
            return;
        m_told.insert(path);
        const int count = std::max({a.macs.size(), a.unitnames.size(), b.macs.size(), b.unitnames.size()});
        for (int i = 0; i < count; ++i) {
            const ProfilePair before{a.macs.value(i, QString()), a.unitnames.value(i, QString())};
            const ProfilePair after{b.macs.value(i, QString()), b.unitnames.value(i, QString())};
            if (before.mac != after.mac || before.unitname != after.unitname || before.mac.isNull() != after.mac.isNull()
                || before.unitname.isNull() != after.unitname.isNull())
                m_diff->pairs.append({shown(path), i + 1, before, after});
        }
    }

    QByteArray newPath(const QByteArray &oldPath) const
    {
        const QByteArray moved = m_moved.movedPath(oldPath);
        return moved.isEmpty() ? oldPath : moved;
    }

    QByteArray newTarget(const EntryFacts &old) const
    {
        const QByteArray moved = old.hardLink ? m_moved.movedPath(old.linkTarget)
                                              : old.type == AE_IFLNK ? m_moved.movedLinkTarget(old.path, old.linkTarget)
                                                                     : QByteArray();
        return moved.isEmpty() ? old.linkTarget : moved;
    }

    void compareEntries();
    void compareEntry(const EntryFacts &old, const EntryFacts &now);
    void compareOrder(std::vector<std::pair<int, int>> paired);

    const ReviewedProject &m_before;
    const ReviewedProject &m_after;
    ProjectDiff *m_diff;
    DeviceMatch m_match;
    StorePlan m_moved;    // only its moves: the old names as a store renames them
    QSet<QByteArray> m_told; // new paths of files whose change an earlier section tells
};

// Entries pair up by their path in the new archive (an old one as a store
// renames it) and, for a path that is there more than once, by occurrence.
void Differ::compareEntries()
{
    auto keyOf = [](const QByteArray &path, QHash<QByteArray, int> *seen) {
        return path + '\0' + QByteArray::number((*seen)[path]++);
    };
    QHash<QByteArray, int> seen;
    QHash<QByteArray, const EntryFacts *> byKey;
    for (const EntryFacts &now : m_after.entries) {
        if (!m_match.addedDirs.contains(deviceDirOf(now.path)))
            byKey.insert(keyOf(now.path, &seen), &now);
    }
    seen.clear();
    std::vector<std::pair<int, int>> paired;
    for (const EntryFacts &old : m_before.entries) {
        if (m_match.removedDirs.contains(deviceDirOf(old.path)))
            continue;
        const EntryFacts *now = byKey.take(keyOf(newPath(old.path), &seen));
        if (!now) {
            m_diff->entries.append({EntryChange::Removed, shown(old.path), {}});
            continue;
        }
        paired.emplace_back(old.index, now->index);
        compareEntry(old, *now);
    }
    QSet<const EntryFacts *> added;
    for (const EntryFacts *now : qAsConst(byKey))
        added.insert(now);
    for (const EntryFacts &now : m_after.entries) {
        if (added.contains(&now))
            m_diff->entries.append({EntryChange::Added, shown(now.path), {}});
    }
    std::stable_sort(m_diff->entries.begin(), m_diff->entries.end(),
                     [](const EntryChange &a, const EntryChange &b) { return a.path < b.path; });
    compareOrder(std::move(paired));
}

void Differ::compareEntry(const EntryFacts &old, const EntryFacts &now)
{
    const QList<ValueChange> fields = headerChanges(old, newTarget(old), now);
    if (dataDiffers(old, now) && !m_told.contains(now.path))
        m_diff->entries.append({EntryChange::Content, shown(now.path), fields});
    else if (!fields.isEmpty())
        m_diff->entries.append({EntryChange::Header, shown(now.path), fields});
}

// The entries both archives have, in the old archive's order and in the
// new one's: the first place where they differ names the entry.
void Differ::compareOrder(std::vector<std::pair<int, int>> paired)
{
    std::vector<int> newOrder;
    newOrder.reserve(paired.size());
    for (const auto &pair : paired)
        newOrder.push_back(pair.second);
    std::vector<int> sorted = newOrder;
    std::sort(sorted.begin(), sorted.end());
    const auto mismatch = std::mismatch(newOrder.begin(), newOrder.end(), sorted.begin());
    if (mismatch.first != newOrder.end())
        m_diff->firstOutOfOrder = shown(m_after.entries.at(size_t(*mismatch.second)).path);
}

} // namespace

Result diffProjects(const QString &oldPath, const QString &newPath, JobControl *control, ProjectDiff *diff)
{
    ReviewRead what;
    what.facts = true;
    ReviewedProject before;
    ReviewedProject after;
    // Both archives at once: each load keeps a core busy only with its
    // decoding. The new one's job reports no progress; it is cancelled when
    // the old one's load stops early, and by a signal as any job is.
    JobControl afterControl;
    Result afterRead;
    // A failure names the archive it is about: the reader's reason does not.
    const auto named = [](const QString &path, const Result &read) {
        return read.isFailure() ? Result::failure(QStringLiteral("cannot load %1: %2").arg(path, read.reason())) : read;
    };
    std::thread reader([&] { afterRead = named(newPath, readForReview(newPath, what, &afterControl, &after)); });
    Result result = named(oldPath, readForReview(oldPath, what, control, &before));
    if (!result)
        afterControl.cancelled.store(true);
    reader.join();
    if (result)
        result = afterRead;
    if (result && control && control->isCancelled())
        result = Result::cancelled();
    if (result)
        Differ(before, after, diff).run();
    return result;
}

} // namespace Workspace
