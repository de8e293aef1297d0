// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace Xml {

// The value of every element named one of tags, in document order: what
// parse(), elementsByTagName() and elementText() give, an element without
// a value as empty text, found without building the document (a profile is
// read many times faster so). (*values)[i] holds those of tags[i]. Refused
// as parse() refuses, with the same reason.
Result scanElementTexts(const QByteArray &content, const QStringList &tags, QList<QStringList> *values);

} // namespace Xml
