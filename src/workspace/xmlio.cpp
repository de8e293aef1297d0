// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlio.h"

#include "xmlwriter.h"

#include <QXmlStreamReader>

namespace Xml {

namespace {

// The XML declaration as QDom holds it: a processing instruction "xml".
QString declarationData(const QXmlStreamReader &reader)
{
    QString data = QStringLiteral("version=\"%1\"").arg(reader.documentVersion());
    if (!reader.documentEncoding().isEmpty())
        data += QStringLiteral(" encoding=\"%1\"").arg(reader.documentEncoding());
    if (reader.isStandaloneDocument())
        data += QStringLiteral(" standalone=\"yes\"");
    return data;
}

// A document with the type the reader just read, holding what came before it.
QDomDocument withDocumentType(const QDomDocument &before, const QXmlStreamReader &reader)
{
    QDomDocument typed(QDomImplementation().createDocumentType(
            reader.dtdName().toString(), reader.dtdPublicId().toString(), reader.dtdSystemId().toString()));
    for (QDomNode n = before.firstChild(); !n.isNull(); n = n.nextSibling())
        typed.appendChild(typed.importNode(n, true));
    return typed;
}

void appendCharacters(QDomDocument &doc, QDomNode &current, const QXmlStreamReader &reader)
{
    // Text outside the root element is white space that a document does not keep.
    if (current == doc)
        return;
    const QString text = reader.text().toString();
    QDomNode last = current.lastChild();
    if (!reader.isCDATA() && last.isText() && !last.isCDATASection())
        last.toText().appendData(text);
    else if (reader.isCDATA())
        current.appendChild(doc.createCDATASection(text));
    else
        current.appendChild(doc.createTextNode(text));
}

QDomElement elementOf(QDomDocument &doc, const QXmlStreamReader &reader)
{
    QDomElement element = doc.createElement(reader.qualifiedName().toString());
    for (const QXmlStreamAttribute &attribute : reader.attributes()) {
        // A default from the document type is not in the file, and is not written into it.
        if (!attribute.isDefault())
            element.setAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
    }
    return element;
}

} // namespace

Result parse(const QByteArray &content, QDomDocument *out)
{
    *out = QDomDocument();
    QXmlStreamReader reader(content);
    reader.setNamespaceProcessing(false);
    QDomDocument doc{QDomDocumentType()}; // not null: nodes can be appended
    QDomNode current = doc;
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            if (!reader.documentVersion().isEmpty())
                doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"), declarationData(reader)));
            break;
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                return Result::failure(QStringLiteral("the document type declares entities"));
            doc = withDocumentType(doc, reader);
            current = doc;
            break;
        case QXmlStreamReader::StartElement:
            if (++depth > maxDepth)
                return Result::failure(QStringLiteral("elements nested more than %1 levels deep").arg(maxDepth));
            current = current.appendChild(elementOf(doc, reader));
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            current = current.parentNode();
            break;
        case QXmlStreamReader::Characters:
            appendCharacters(doc, current, reader);
            break;
        case QXmlStreamReader::Comment:
            current.appendChild(doc.createComment(reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            current.appendChild(doc.createProcessingInstruction(reader.processingInstructionTarget().toString(),
                                                                reader.processingInstructionData().toString()));
            break;
        case QXmlStreamReader::EntityReference:
            // Only an entity of an external document type, which is not read.
            current.appendChild(doc.createEntityReference(reader.name().toString()));
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return readerResult(reader);
    *out = doc;
    return Result::success();
}

Result readerResult(const QXmlStreamReader &reader)
{
    if (!reader.hasError())
        return Result::success();
    return Result::failure(QStringLiteral("line %1, column %2: %3")
                               .arg(reader.lineNumber()).arg(reader.columnNumber()).arg(reader.errorString()));
}

Result encodeChecked(const QDomDocument &doc, const Values &expected, QByteArray *bytes)
{
    bytes->clear();
    for (const auto &value : expected) {
        if (const Result writable = checkXmlText(value.second); !writable)
            return Result::failure(QStringLiteral("%1: %2").arg(value.first, writable.reason()));
    }
    QByteArray encoded;
    if (const Result r = encodeDocument(doc, &encoded); !r)
        return r;
    QDomDocument reread;
    if (const Result r = parse(encoded, &reread); !r)
        return Result::failure(QStringLiteral("the written document would not read back (%1)").arg(r.reason()));
    for (const auto &value : expected) {
        const QDomElement element = firstElement(reread, value.first);
        if (element.isNull())
            return Result::failure(QStringLiteral("the written document has no <%1> element").arg(value.first));
        if (elementText(element) != value.second)
            return Result::failure(QStringLiteral("%1 would read back as \"%2\", not \"%3\"")
                                           .arg(value.first, elementText(element), value.second));
    }
    QByteArray again;
    if (!encodeDocument(reread, &again) || again != encoded)
        return Result::failure(QStringLiteral("the document would not read back as written"));
    *bytes = encoded;
    return Result::success();
}

QDomElement firstElement(const QDomNode &root, const QString &tag)
{
    // Without recursion, in document order.
    QDomNode n = root.firstChild();
    while (!n.isNull()) {
        if (n.isElement() && n.nodeName() == tag)
            return n.toElement();
        if (n.hasChildNodes()) {
            n = n.firstChild();
            continue;
        }
        while (!n.isNull() && n != root && n.nextSibling().isNull())
            n = n.parentNode();
        if (n.isNull() || n == root)
            break;
        n = n.nextSibling();
    }
    return QDomElement();
}

QString elementText(const QDomElement &element)
{
    for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isText()) // CDATA sections are text too
            return n.toText().data();
    }
    return QString();
}

QString firstElementText(const QDomDocument &doc, const QString &tag)
{
    return elementText(firstElement(doc, tag));
}

void setText(QDomElement element, const QString &value)
{
    for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isText()) {
            n.toText().setData(value);
            return;
        }
    }
    element.appendChild(element.ownerDocument().createTextNode(value));
}

bool setElementText(QDomDocument &doc, const QString &tag, const QString &value)
{
    QDomElement element = firstElement(doc, tag);
    if (element.isNull())
        return false;
    setText(element, value);
    return true;
}

int firstInvalidCharacter(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed)
            return i;
    }
    return -1;
}

Result checkXmlText(const QString &text)
{
    const int at = firstInvalidCharacter(text);
    if (at < 0)
        return Result::success();
    const QString code = QString::number(text.at(at).unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return Result::failure(QStringLiteral("U+%1 at position %2 is not allowed in XML").arg(code).arg(at + 1));
}

} // namespace Xml
