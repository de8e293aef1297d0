// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The two written forms of a MAC address: colon form in archives, profiles and
// the device list; underscore form for device directories on the disk.
namespace Mac {

// Splits at ":", " ", "_" and "-". Six pieces: one-character pieces get a
// leading "0", the pieces are joined by `separator` and lower-cased. Any
// other text is returned unchanged.
QString normalizeMac(const QString &text, const QString &separator);

// Six groups of two hex digits, each pair of groups separated by exactly one
// of ":", "-" or ".", and nothing before or after.
bool isValidMacSyntax(const QString &text);

} // namespace Mac
