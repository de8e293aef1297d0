// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QString>

// The rules for a device's new label and new MAC as a user gives them, by
// typing, on the command line or in a changes file.
namespace Workspace {

// Whether `label` may be a device's label: at most 16 of A-Z, a-z, 0-9 and
// space (empty is allowed); fails saying why not.
Result checkLabel(const QString &label);
// The longest label the rule takes.
constexpr int maxLabelLength = 16;

// The first three bytes of a MAC in colon form with the colon after them
// ("00:1a:2b:"): what a new MAC keeps of the old one.
QString macPrefix(const QString &mac);
// What follows macPrefix(mac): the last three bytes.
QString macSuffix(const QString &mac);
// mac with its last three bytes replaced by suffix, as typed.
QString withMacSuffix(const QString &mac, const QString &suffix);

// The device's whole new MAC in colon form from `input`: either the last
// three bytes (3c:4d:ff, 3C-4D-FF, 3c4dff), put after the first three of
// `oldMac`, or a whole MAC in any written form (001A2B3C4DFF too) whose
// first three bytes are those of `oldMac`, into *mac. Otherwise fails saying
// why; *mac is then empty.
Result completeNewMac(const QString &oldMac, const QString &input, QString *mac);

// A MAC that a user names a device by (on the command line, in a changes
// file) as Mac::normalizeMac() gives it, twelve hex digits without
// separators included; compare it with normalizeMac() of the MAC as loaded.
QString normalizeTypedMac(const QString &text);

// Whether `typed`, the beginning of a MAC in colon form ("00:1a:2b:3"), can
// go on to a MAC that completeNewMac() takes for `oldMac`: its first three
// bytes are those of `oldMac`. Otherwise fails saying why.
Result checkMacStart(const QString &oldMac, const QString &typed);

// Whether `text` is a whole MAC in a form completeNewMac() takes.
bool isWholeMac(const QString &text);

} // namespace Workspace
