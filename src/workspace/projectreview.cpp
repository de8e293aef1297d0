#include "projectreview.h"

#include "projectworkspace.h"
#include "xmlio.h"

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

namespace {

// The value of every element of that name, in document order; an empty
// element's is empty but not null, so that a missing one can be told apart.
QStringList texts(const QDomDocument &doc, const QString &tag)
{
    QStringList values;
    const QDomNodeList elements = doc.elementsByTagName(tag);
    for (int i = 0; i < elements.size(); ++i) {
        const QString text = Xml::elementText(elements.item(i).toElement());
        values.append(text.isNull() ? QString(QLatin1String("")) : text);
    }
    return values;
}

// The XML of a file the load kept: parsed, or the reason it is not.
Result parseKept(const OpenedProject &opened, const QByteArray &path, QDomDocument *doc)
{
    QByteArray bytes;
    if (!opened.file(path, &bytes))
        return Result::failure(QStringLiteral("missing"));
    return Xml::parse(bytes, doc);
}

} // namespace

ProfilePairs readProfilePairs(const OpenedProject &opened, const QByteArray &path)
{
    ProfilePairs pairs;
    QDomDocument doc;
    pairs.parsed = parseKept(opened, path, &doc);
    if (!pairs.parsed)
        return pairs;
    // As the store pairs them: every element of each name, in document order.
    pairs.macs = texts(doc, QStringLiteral("mac"));
    pairs.unitnames = texts(doc, QStringLiteral("unitname"));
    return pairs;
}

} // namespace Workspace
