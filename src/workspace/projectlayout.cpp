// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectlayout.h"

namespace Workspace {

const QString tandoType = QStringLiteral("TANDO/QL3");
const QString ksb12Type = QStringLiteral("KSB12");

namespace Layout {

const QByteArray projectDir = QByteArrayLiteral("active-project");
const QByteArray devicesDir = QByteArrayLiteral("devices");
const QByteArray projectFile = projectDir + "/project.xml";

namespace {
const QByteArray tandoFamily = QByteArrayLiteral("tando");
const QByteArray ksb12Family = QByteArrayLiteral("ksb12");
} // namespace

QByteArray familyName(const QString &type)
{
    return type == ksb12Type ? ksb12Family : tandoFamily;
}

QByteArray familyPath(const QByteArray &family)
{
    return projectDir + '/' + devicesDir + '/' + family;
}

QByteArray prefsPath(const QString &type, const QByteArray &deviceDir)
{
    return familyPath(familyName(type)) + '/' + deviceDir + "/prefs";
}

Place placeOf(const QByteArrayList &parts)
{
    Place place;
    if (parts.isEmpty() || parts.first() != projectDir)
        return place;
    place.kind = Place::Other;
    if (parts.size() == 2 && projectDir + '/' + parts.at(1) == projectFile) {
        place.kind = Place::ProjectFile;
        return place;
    }
    if (parts.size() < 4 || parts.at(1) != devicesDir || (parts.at(2) != tandoFamily && parts.at(2) != ksb12Family))
        return place;
    place.family = parts.at(2);
    place.device = parts.at(3);
    place.kind = Place::InDevice;
    if (parts.size() == 5 && parts.at(4) == "prefs")
        place.kind = Place::Prefs;
    else if (parts.size() == 6 && place.family == tandoFamily && parts.at(4) == "profiles" && !parts.at(5).startsWith('.'))
        place.kind = Place::Profile;
    return place;
}

} // namespace Layout
} // namespace Workspace
