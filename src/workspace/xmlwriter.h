// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QByteArray>
#include <QDomDocument>

namespace Xml {

// The text of a document in the encoding its XML declaration names (UTF-8
// when it names none or one we do not know), unchecked: see encodeChecked().
// Refused when the document holds what XML or that encoding cannot say
// (a character XML does not allow, a name the encoding cannot hold).
Result encodeDocument(const QDomDocument &doc, QByteArray *bytes);

} // namespace Xml
