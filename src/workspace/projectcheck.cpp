// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectcheck.h"

#include "mac.h"
#include "projectreview.h"
#include "xmlscan.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");

QString shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

// Two directories that name one MAC, in one family or in both: the store
// refuses two devices with one address, and a second spelling in one family
// would become the same directory when unpacked.
void checkDirectories(const ReviewedProject &project, QList<Finding> *findings)
{
    QHash<QString, QByteArray> firstWithMac;
    for (const DeviceRecord &device : project.loaded.devices) {
        const QByteArray path = project.deviceDirPath(device);
        if (!Mac::isValidMacSyntax(device.oldMac)) {
            findings->append({Finding::NotAMac, shown(path), QStringLiteral("is not a MAC address"), {}, {}});
            continue;
        }
        const auto first = firstWithMac.constFind(device.oldMac);
        if (first == firstWithMac.cend())
            firstWithMac.insert(device.oldMac, path);
        else
            findings->append({Finding::SameMac, shown(path), QStringLiteral("names the same MAC as %1").arg(shown(*first)), {}, {}});
    }
    for (const auto &spelling : project.secondSpellings)
        findings->append({Finding::SameMac, shown(spelling.first),
                          QStringLiteral("names the same MAC as %1").arg(shown(spelling.second)), {}, {}});
}

void checkPrefs(const ReviewedProject &project, QList<Finding> *findings)
{
    const OpenedProject &opened = *project.loaded.opened;
    for (const DeviceRecord &device : project.loaded.devices) {
        if (device.type != tandoType)
            continue;
        const QByteArray prefs = Layout::prefsPath(device.type, opened.deviceDir(device));
        QByteArray bytes;
        QList<QStringList> none;
        if (!opened.file(prefs, &bytes))
            findings->append({Finding::NoPrefs, shown(project.deviceDirPath(device)), QStringLiteral("Tando device without prefs"), {}, {}});
        else if (const Result parsed = Xml::scanElementTexts(bytes, {}, &none); !parsed)
            findings->append({Finding::PrefsUnreadable, shown(prefs), QStringLiteral("does not parse: %1").arg(parsed.reason()), {}, {}});
    }
}

// The MACs profiles name that no device has, each with the profiles that name it.
struct UnknownMacs
{
    QStringList order; // normalized, in the order first met
    QHash<QString, Finding> byMac;

    void add(const QString &text, const QString &profile)
    {
        const QString key = Mac::normalizeMac(text, colon);
        Finding &finding = byMac[key];
        if (finding.profiles.isEmpty()) {
            order.append(key);
            finding = {Finding::UnknownMac, profile, QString(), text, {}};
        }
        if (!finding.profiles.contains(profile))
            finding.profiles.append(profile);
    }

    void appendTo(QList<Finding> *findings) const
    {
        for (const QString &key : order) {
            Finding finding = byMac.value(key);
            finding.text = QStringLiteral("<mac>%1</mac> names no device of the project").arg(finding.mac);
            const QStringList others = finding.profiles.mid(1);
            if (!others.isEmpty())
                finding.text += QStringLiteral("; also in %1").arg(others.mid(0, 3).join(QStringLiteral(", ")));
            if (others.size() > 3)
                finding.text += QStringLiteral(" and %1 more").arg(others.size() - 3);
            findings->append(finding);
        }
    }
};

void checkProfiles(const ReviewedProject &project, QList<Finding> *findings)
{
    const OpenedProject &opened = *project.loaded.opened;
    QSet<QString> macs;
    for (const DeviceRecord &device : project.loaded.devices)
        macs.insert(device.oldMac);
    QByteArrayList paths;
    for (const QByteArrayList &profiles : opened.profilePaths)
        paths += profiles;
    std::sort(paths.begin(), paths.end());
    UnknownMacs unknown;
    for (const QByteArray &path : paths) {
        const ProfilePairs pairs = readProfilePairs(opened, path);
        if (!pairs.parsed) {
            findings->append({Finding::ProfileUnreadable, shown(path), QStringLiteral("does not parse: %1").arg(pairs.parsed.reason()), {}, {}});
            continue;
        }
        if (pairs.macs.size() != pairs.unitnames.size())
            findings->append({Finding::PairCounts, shown(path),
                              QStringLiteral("has %1 <mac> and %2 <unitname> elements; pairs go by position, so later pairs shift")
                                  .arg(pairs.macs.size()).arg(pairs.unitnames.size()), {}, {}});
        for (const QString &mac : pairs.macs) {
            if (!macs.contains(Mac::normalizeMac(mac, colon)))
                unknown.add(mac, shown(path));
        }
    }
    unknown.appendTo(findings);
}

} // namespace

QString kindName(Finding::Kind kind)
{
    switch (kind) {
    case Finding::SameMac:
        return QStringLiteral("same-mac");
    case Finding::NotAMac:
        return QStringLiteral("not-a-mac");
    case Finding::NoPrefs:
        return QStringLiteral("no-prefs");
    case Finding::PrefsUnreadable:
        return QStringLiteral("prefs-unreadable");
    case Finding::ProfileUnreadable:
        return QStringLiteral("profile-unreadable");
    case Finding::UnknownMac:
        return QStringLiteral("unknown-mac");
    case Finding::PairCounts:
        return QStringLiteral("pair-counts");
    }
    return QString();
}

Result checkProject(const QString &path, JobControl *control, QList<Finding> *findings)
{
    ReviewedProject project;
    ReviewRead what;
    what.secondSpellings = true;
    if (const Result read = readForReview(path, what, control, &project); !read)
        return read;
    checkDirectories(project, findings);
    checkPrefs(project, findings);
    checkProfiles(project, findings);
    std::stable_sort(findings->begin(), findings->end(),
                     [](const Finding &a, const Finding &b) { return a.path < b.path; });
    return Result::success();
}

} // namespace Workspace
