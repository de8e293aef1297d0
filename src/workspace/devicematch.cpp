// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicematch.h"

#include <QFile>

#include <algorithm>

namespace Workspace {

namespace {

using Records = QList<const DeviceRecord *>;

Records ofType(const ReviewedProject &project, const QString &type)
{
    Records records;
    for (const DeviceRecord &device : project.loaded.devices) {
        if (device.type == type)
            records.append(&device);
    }
    return records;
}

// What a device directory holds, by path below it: the facts of each entry.
QHash<QByteArray, const Archive::EntryFacts *> contentsOf(const ReviewedProject &project, const EntriesByDir &dirs,
                                                          const DeviceRecord *device)
{
    const QByteArray dir = project.deviceDirPath(*device);
    QHash<QByteArray, const Archive::EntryFacts *> contents;
    for (const Archive::EntryFacts *facts : dirs.value(dir)) {
        if (facts->path.size() > dir.size())
            contents.insert(facts->path.mid(dir.size() + 1), facts);
    }
    return contents;
}

bool sameData(const Archive::EntryFacts &a, const Archive::EntryFacts &b)
{
    return a.type == b.type && a.hardLink == b.hardLink && a.size == b.size && a.crc == b.crc;
}

// Pairs the devices of one family that only one archive has: a gone
// directory with the first come one that holds the same paths, preferring
// the one with the most files of the same data (a re-address leaves the
// data of most files as it was).
class FamilyMatch
{
public:
    FamilyMatch(const ReviewedProject &before, const EntriesByDir &beforeDirs, const ReviewedProject &after,
                const EntriesByDir &afterDirs)
        : m_before(before), m_beforeDirs(beforeDirs), m_after(after), m_afterDirs(afterDirs)
    {
    }

    void run(const QString &type, DeviceMatch *match)
    {
        QHash<QString, const DeviceRecord *> comeByMac;
        for (const DeviceRecord *now : ofType(m_after, type))
            comeByMac.insert(now->oldMac, now);
        Records gone;
        QSet<const DeviceRecord *> taken;
        for (const DeviceRecord *old : ofType(m_before, type)) {
            const DeviceRecord *same = comeByMac.value(old->oldMac);
            if (same && !taken.contains(same)) {
                pair(old, same, match);
                taken.insert(same);
            } else {
                gone.append(old);
            }
        }
        Records come;
        for (const DeviceRecord *now : ofType(m_after, type)) {
            if (!taken.contains(now))
                come.append(now);
        }
        for (const DeviceRecord *old : gone) {
            const DeviceRecord *moved = bestMatch(old, come);
            if (!moved) {
                alone(DeviceChange::Removed, m_before, m_beforeDirs, old, &match->removedDirs, match);
                continue;
            }
            match->changes.append({DeviceChange::Readdressed, type, old->oldMac, old->oldMac, moved->oldMac, {}, 0});
            match->moves.insert(Layout::familyName(type) + '/' + m_before.loaded.opened->deviceDir(*old),
                                m_after.loaded.opened->deviceDir(*moved));
            pair(old, moved, match);
            come.removeOne(moved);
        }
        for (const DeviceRecord *added : come)
            alone(DeviceChange::Added, m_after, m_afterDirs, added, &match->addedDirs, match);
    }

private:
    const DeviceRecord *bestMatch(const DeviceRecord *old, const Records &come) const
    {
        const auto contents = contentsOf(m_before, m_beforeDirs, old);
        QByteArrayList paths = contents.keys();
        std::sort(paths.begin(), paths.end());
        const DeviceRecord *best = nullptr;
        int bestScore = -1;
        for (const DeviceRecord *candidate : come) {
            const auto theirs = contentsOf(m_after, m_afterDirs, candidate);
            QByteArrayList theirPaths = theirs.keys();
            std::sort(theirPaths.begin(), theirPaths.end());
            if (theirPaths != paths)
                continue;
            int score = 0;
            for (auto it = contents.cbegin(); it != contents.cend(); ++it)
                score += sameData(**it, *theirs.value(it.key())) ? 1 : 0;
            if (score > bestScore) {
                best = candidate;
                bestScore = score;
            }
        }
        return best;
    }

    static void pair(const DeviceRecord *old, const DeviceRecord *now, DeviceMatch *match)
    {
        match->same.append(qMakePair(old, now));
        if (old->oldLabel != now->oldLabel)
            match->changes.append({DeviceChange::Relabelled, old->type, old->oldMac, old->oldLabel, now->oldLabel, {}, 0});
    }

    static void alone(DeviceChange::Kind kind, const ReviewedProject &project, const EntriesByDir &dirs,
                      const DeviceRecord *device, QSet<QByteArray> *covered, DeviceMatch *match)
    {
        const QByteArray dir = project.deviceDirPath(*device);
        covered->insert(dir);
        match->changes.append({kind, device->type, device->oldMac, {}, {}, device->oldLabel, int(dirs.value(dir).size())});
    }

    const ReviewedProject &m_before;
    const EntriesByDir &m_beforeDirs;
    const ReviewedProject &m_after;
    const EntriesByDir &m_afterDirs;
};

} // namespace

QByteArray deviceDirOf(const QByteArray &path)
{
    // Asked of every entry, so by the bytes (the paths have no empty or "."
    // parts); whether it is a device's is for the caller to look up.
    static const QByteArray devices = Layout::projectDir + '/' + Layout::devicesDir + '/';
    if (!path.startsWith(devices))
        return QByteArray();
    const int family = path.indexOf('/', devices.size());
    if (family < 0)
        return QByteArray();
    const int device = path.indexOf('/', family + 1);
    return path.left(device < 0 ? path.size() : device);
}

EntriesByDir entriesByDeviceDir(const ReviewedProject &project)
{
    QSet<QByteArray> devices;
    for (const DeviceRecord &device : project.loaded.devices)
        devices.insert(project.deviceDirPath(device));
    EntriesByDir dirs;
    for (const Archive::EntryFacts &facts : project.entries) {
        const QByteArray dir = deviceDirOf(facts.path);
        if (devices.contains(dir))
            dirs[dir].append(&facts);
    }
    return dirs;
}

DeviceMatch matchDevices(const ReviewedProject &before, const EntriesByDir &beforeDirs, const ReviewedProject &after,
                         const EntriesByDir &afterDirs)
{
    DeviceMatch match;
    FamilyMatch families(before, beforeDirs, after, afterDirs);
    families.run(ksb12Type, &match);
    families.run(tandoType, &match);
    return match;
}

} // namespace Workspace
