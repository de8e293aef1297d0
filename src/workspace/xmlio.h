#pragma once

#include <QDomDocument>
#include <QString>

namespace Xml {

// Reads an XML file. White-space-only text nodes are not kept; the encoding
// follows the file's declaration (UTF-8 without one). `readable` tells
// whether the file could be opened, `wellFormed` whether it parsed completely.
struct XmlFile
{
    QDomDocument document;
    bool readable = false;
    bool wellFormed = false;
};
XmlFile readXml(const QString &path);

// The document of readXml(); an empty one, after a debug line, when the file
// cannot be opened.
QDomDocument loadXml(const QString &path);

// Writes the document with one space of indentation per level, in the
// encoding its XML declaration names (UTF-8 when it names none or one we do
// not know). Characters that encoding cannot hold become character
// references. False, after a debug line, when the file cannot be written.
bool saveXml(const QDomDocument &doc, const QString &path);

// The bytes that saveXml writes for the document; false when they would
// not read back as the same document.
bool toBytes(const QDomDocument &doc, QByteArray *bytes);

// The document of bytes, parsed as readXml parses a file's contents; false
// when they are not well-formed or declare entities.
bool parseBytes(const QByteArray &content, QDomDocument *doc);

// Value of the first child node of the first element `tag` in document
// order; empty when there is no such element or it has no child.
QString firstElementText(const QDomDocument &doc, const QString &tag);

// Sets that value where the element exists and has a first child node that
// holds a value (text, CDATA, comment, processing instruction).
void setFirstElementText(QDomDocument &doc, const QString &tag, const QString &value);

} // namespace Xml
