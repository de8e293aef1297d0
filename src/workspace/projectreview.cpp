// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectreview.h"

#include "projectworkspace.h"
#include "xmlscan.h"

namespace Workspace {

QByteArray ReviewedProject::deviceDirPath(const DeviceRecord &device) const
{
    return Layout::familyPath(Layout::familyName(device.type)) + '/' + loaded.opened->deviceDir(device);
}

Result readForReview(const QString &path, const ReviewRead &what, JobControl *control, ReviewedProject *project)
{
    LoadOptions options;
    if (what.facts)
        options.facts = [project](const Archive::EntryFacts &facts) { project->entries.push_back(facts); };
    if (what.secondSpellings)
        options.secondSpellings = &project->secondSpellings;
    return unpackProject(path, control, &project->loaded, options);
}

ProfilePairs readProfilePairs(const OpenedProject &opened, const QByteArray &path)
{
    ProfilePairs pairs;
    QByteArray bytes;
    if (!opened.file(path, &bytes)) {
        pairs.parsed = Result::failure(QStringLiteral("missing"));
        return pairs;
    }
    // As the store pairs them: every element of each name, in document order.
    QList<QStringList> values;
    pairs.parsed = Xml::scanElementTexts(bytes, {QStringLiteral("mac"), QStringLiteral("unitname")}, &values);
    if (pairs.parsed) {
        pairs.macs = values.at(0);
        pairs.unitnames = values.at(1);
    }
    return pairs;
}

} // namespace Workspace
