// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWorkspace) // loading, validation, storing
Q_DECLARE_LOGGING_CATEGORY(lcArchive)   // gzip and tar layers
