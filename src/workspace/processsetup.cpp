// SPDX-License-Identifier: GPL-3.0-or-later
#include "processsetup.h"

#include "interruption.h"
#include "processfacts.h"
#include "replacementfile.h"
#include "unpackbudget.h"

#include <csignal>

namespace Workspace {

namespace {

// Bounds on what an archive may hold, for archives that claim far more than
// their size; the defaults suit every real project, scripts may tighten or
// widen them.
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

} // namespace

int prepareProcess(Host host)
{
    Archive::captureProcessFacts();
    Interruption::ignoreWriteSignals();
    if (host == Host::Window)
        return Interruption::install({SIGINT, SIGTERM}, true);
    Interruption::install({SIGHUP, SIGINT, SIGTERM});
    applyUnpackLimitsFromEnvironment();
    return -1;
}

int stopSignal()
{
    return Interruption::received();
}

Result checkStoreTarget(const QString &target)
{
    return ReplacementFile::check(target);
}

} // namespace Workspace
