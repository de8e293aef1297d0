// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QDomDocument>
#include <QList>
#include <QPair>
#include <QString>

class QXmlStreamReader;

namespace Xml {

// Deeper nesting than this is refused as malformed: the project's files use a
// handful of levels, and QDom walks its trees recursively.
constexpr int maxDepth = 256;

// (tag, value) pairs: a value set on the first element of that tag.
using Values = QList<QPair<QString, QString>>;

// Builds the document of `content`, parsed strictly as XML 1.0. Every text
// node is kept, white space only or not. Refused, with the reason: anything
// not well-formed, a document type that declares entities (they would
// expand, exponentially at worst), nesting deeper than maxDepth.
Result parse(const QByteArray &content, QDomDocument *doc);

// Where and why a reader stopped, or success when it did not fail.
Result readerResult(const QXmlStreamReader &reader);

// The bytes of the document in the encoding its XML declaration names (UTF-8
// when it names none or one we do not know), checked: each expected value is
// allowed in XML, the bytes parse() again, every expected value reads back
// equal with firstElementText(), and the document read back is written as
// the same bytes. The text is written as the document holds it, without
// added indentation; attributes are written sorted by name, so the same
// document always gives the same bytes. A character the encoding cannot hold
// becomes a character reference in text and attribute values.
Result encodeChecked(const QDomDocument &doc, const Values &expected, QByteArray *bytes);

// The first element `tag` in document order; a null element when there is none.
QDomElement firstElement(const QDomNode &root, const QString &tag);

// The value of an element: its first text or CDATA child; empty without one.
// Comments and processing instructions never hold a value.
QString elementText(const QDomElement &element);

// elementText() of firstElement(); empty when there is no such element.
QString firstElementText(const QDomDocument &doc, const QString &tag);

// Puts the value into the element's first text or CDATA child, or into a new
// text node when it has none.
void setText(QDomElement element, const QString &value);

// setText() on firstElement(); false when the document has no such element.
bool setElementText(QDomDocument &doc, const QString &tag, const QString &value);

// Index of the first character that XML 1.0 does not allow (control
// characters other than tab, CR and LF, U+FFFE, U+FFFF, unpaired
// surrogates); -1 when there is none.
int firstInvalidCharacter(const QString &text);

// Whether the text can be written in XML; fails saying why not ("U+0001 at
// position 2 is not allowed in XML").
Result checkXmlText(const QString &text);

} // namespace Xml
