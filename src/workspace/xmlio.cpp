#include "xmlio.h"

#include "logging.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <algorithm>

namespace Xml {

namespace {

QTextCodec *declaredCodec(const QDomDocument &doc)
{
    const QDomNode first = doc.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
        static const QRegularExpression encoding(QStringLiteral("encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
        const QRegularExpressionMatch m = encoding.match(first.toProcessingInstruction().data());
        if (m.hasMatch()) {
            if (QTextCodec *codec = QTextCodec::codecForName(m.captured(1).toLatin1()))
                return codec;
        }
    }
    return QTextCodec::codecForName("UTF-8");
}

// ------------------------------------------------------------------ reading

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

// ------------------------------------------------------------------ writing

bool isUnicode(const QTextCodec *codec)
{
    return codec->name().startsWith("UTF-");
}

QString reference(uint ucs4)
{
    return QStringLiteral("&#x%1;").arg(ucs4, 0, 16);
}

// Visits each code point of a text (a surrogate pair as one).
template<typename Visit>
void forEachCodePoint(const QString &text, Visit visit)
{
    for (int i = 0; i < text.size(); ++i) {
        uint c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        visit(c);
    }
}

// The text form of a document, node by node, checked for what the file could
// not hold.
class Writer
{
public:
    explicit Writer(QTextCodec *codec) : m_codec(codec), m_unicode(isUnicode(codec)) {}

    Result document(const QDomDocument &doc)
    {
        // The document type is no child of the document in QDom: it follows the XML declaration.
        bool typeWritten = doc.doctype().name().isEmpty();
        for (QDomNode n = doc.firstChild(); !n.isNull(); n = n.nextSibling()) {
            if (n.isDocumentType())
                continue;
            const bool declaration = n.isProcessingInstruction() && n.nodeName() == QLatin1String("xml");
            if (!typeWritten && !declaration) {
                if (const Result r = documentType(doc.doctype()); !r)
                    return r;
                out += QLatin1Char('\n');
                typeWritten = true;
            }
            if (const Result r = node(n, 0); !r)
                return r;
            out += QLatin1Char('\n');
        }
        return Result::success();
    }

    QString out;

private:
    bool canEncode(uint c)
    {
        if (c < 0x80 || m_unicode)
            return true;
        auto known = m_encodable.constFind(c);
        if (known == m_encodable.cend())
            known = m_encodable.insert(c, m_codec->canEncode(QString::fromUcs4(&c, 1)));
        return *known;
    }

    Result checked(const QString &text, const QString &what)
    {
        const QString invalid = invalidCharacterReason(text);
        if (!invalid.isEmpty())
            return Result::failure(QStringLiteral("%1: %2").arg(what, invalid));
        return Result::success();
    }

    // Markup (names, comments, processing instructions) takes no character
    // references: what the encoding cannot hold cannot be written there.
    Result markup(const QString &text, const QString &what)
    {
        if (const Result r = checked(text, what); !r)
            return r;
        bool encodable = true;
        forEachCodePoint(text, [&](uint c) { encodable = encodable && canEncode(c); });
        if (!encodable)
            return Result::failure(QStringLiteral("%1: \"%2\" cannot be written in %3")
                                           .arg(what, text, QString::fromLatin1(m_codec->name())));
        out += text;
        return Result::success();
    }

    Result escaped(const QString &text, const QString &what, bool attribute)
    {
        if (const Result r = checked(text, what); !r)
            return r;
        forEachCodePoint(text, [&](uint c) {
            switch (c) {
            case '&': out += QLatin1String("&amp;"); return;
            case '<': out += QLatin1String("&lt;"); return;
            case '>': out += QLatin1String("&gt;"); return;
            // A literal CR reads back as LF; in attributes tab and LF read back as spaces.
            case '\r': out += QLatin1String("&#xd;"); return;
            }
            if (attribute && (c == '"' || c == '\t' || c == '\n'))
                out += c == '"' ? QStringLiteral("&quot;") : reference(c);
            else if (canEncode(c))
                out += QString::fromUcs4(&c, 1);
            else
                out += reference(c);
        });
        return Result::success();
    }

    Result characterData(const QDomCharacterData &data, const QString &what)
    {
        const QString text = data.data();
        bool asCData = data.isCDATASection() && !text.contains(QLatin1String("]]>"));
        forEachCodePoint(text, [&](uint c) { asCData = asCData && canEncode(c); });
        if (!asCData)
            return escaped(text, what, false);
        out += QLatin1String("<![CDATA[");
        if (const Result r = markup(text, what); !r)
            return r;
        out += QLatin1String("]]>");
        return Result::success();
    }

    Result element(const QDomElement &e, int depth)
    {
        if (depth > maxDepth)
            return Result::failure(QStringLiteral("nested more than %1 levels deep").arg(maxDepth));
        out += QLatin1Char('<');
        if (const Result r = markup(e.tagName(), QStringLiteral("element name")); !r)
            return r;
        const QDomNamedNodeMap map = e.attributes();
        QList<QDomAttr> attributes;
        for (int i = 0; i < map.count(); ++i)
            attributes.append(map.item(i).toAttr());
        // Sorted: QDom keeps them in a hash, whose order changes from one run to the next.
        std::sort(attributes.begin(), attributes.end(),
                  [](const QDomAttr &a, const QDomAttr &b) { return a.name() < b.name(); });
        for (const QDomAttr &a : attributes) {
            out += QLatin1Char(' ');
            if (const Result r = markup(a.name(), QStringLiteral("attribute name")); !r)
                return r;
            out += QLatin1String("=\"");
            if (const Result r = escaped(a.value(), QStringLiteral("attribute %1").arg(a.name()), true); !r)
                return r;
            out += QLatin1Char('"');
        }
        const int start = out.size();
        out += QLatin1Char('>');
        for (QDomNode n = e.firstChild(); !n.isNull(); n = n.nextSibling()) {
            if (const Result r = node(n, depth + 1); !r)
                return r;
        }
        if (out.size() == start + 1) {
            out.replace(start, 1, QStringLiteral("/>"));
            return Result::success();
        }
        out += QLatin1String("</") + e.tagName() + QLatin1Char('>');
        return Result::success();
    }

    static QString textOf(const QDomNode &n) { return QStringLiteral("text of <%1>").arg(n.parentNode().nodeName()); }

    Result node(const QDomNode &n, int depth)
    {
        switch (n.nodeType()) {
        case QDomNode::ElementNode:
            return element(n.toElement(), depth);
        case QDomNode::TextNode:
            return escaped(n.toText().data(), textOf(n), false);
        case QDomNode::CDATASectionNode:
            return characterData(n.toCDATASection(), textOf(n));
        case QDomNode::CommentNode:
            if (n.nodeValue().contains(QLatin1String("--")) || n.nodeValue().endsWith(QLatin1Char('-')))
                return Result::failure(QStringLiteral("a comment holds \"--\" or ends with \"-\""));
            out += QLatin1String("<!--");
            if (const Result r = markup(n.nodeValue(), QStringLiteral("comment")); !r)
                return r;
            out += QLatin1String("-->");
            return Result::success();
        case QDomNode::ProcessingInstructionNode:
            return instruction(n.toProcessingInstruction());
        case QDomNode::EntityReferenceNode:
            out += QLatin1Char('&') + n.nodeName() + QLatin1Char(';');
            return Result::success();
        default:
            return Result::failure(QStringLiteral("a node of type %1 cannot be written").arg(int(n.nodeType())));
        }
    }

    Result instruction(const QDomProcessingInstruction &pi)
    {
        if (pi.data().contains(QLatin1String("?>")))
            return Result::failure(QStringLiteral("processing instruction %1 holds \"?>\"").arg(pi.target()));
        out += QLatin1String("<?");
        if (const Result r = markup(pi.target(), QStringLiteral("processing instruction")); !r)
            return r;
        if (!pi.data().isEmpty()) {
            out += QLatin1Char(' ');
            if (const Result r = markup(pi.data(), QStringLiteral("processing instruction")); !r)
                return r;
        }
        out += QLatin1String("?>");
        return Result::success();
    }

    Result documentType(const QDomDocumentType &type)
    {
        auto quoted = [](const QString &id) {
            return id.contains(QLatin1Char('"')) ? QLatin1Char('\'') + id + QLatin1Char('\'')
                                                 : QLatin1Char('"') + id + QLatin1Char('"');
        };
        QString text = QStringLiteral("<!DOCTYPE ") + type.name();
        if (!type.publicId().isEmpty())
            text += QStringLiteral(" PUBLIC ") + quoted(type.publicId()) + QLatin1Char(' ') + quoted(type.systemId());
        else if (!type.systemId().isEmpty())
            text += QStringLiteral(" SYSTEM ") + quoted(type.systemId());
        if (!type.internalSubset().isEmpty())
            text += QStringLiteral(" [") + type.internalSubset() + QLatin1Char(']');
        if (const Result r = markup(text + QLatin1Char('>'), QStringLiteral("document type")); !r)
            return r;
        return Result::success();
    }

    QTextCodec *m_codec;
    bool m_unicode;
    QHash<uint, bool> m_encodable;
};

Result encode(const QDomDocument &doc, QByteArray *bytes)
{
    QTextCodec *codec = declaredCodec(doc);
    Writer writer(codec);
    if (const Result r = writer.document(doc); !r)
        return r;
    *bytes = codec->fromUnicode(writer.out);
    return Result::success();
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
        return Result::failure(QStringLiteral("line %1, column %2: %3")
                                       .arg(reader.lineNumber()).arg(reader.columnNumber()).arg(reader.errorString()));
    *out = doc;
    return Result::success();
}

bool parseBytes(const QByteArray &content, QDomDocument *doc)
{
    return parse(content, doc).ok();
}

XmlFile readXml(const QString &path)
{
    XmlFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcWorkspace).noquote() << "Error while loading file " + path;
        result.problem = file.errorString();
        return result;
    }
    result.readable = true;
    const Result parsed = parse(file.readAll(), &result.document);
    result.wellFormed = parsed.ok();
    if (!parsed) {
        result.problem = parsed.reason();
        qCDebug(lcWorkspace).noquote() << "Not readable as XML, " + path + ": " + parsed.reason();
    }
    return result;
}

QDomDocument loadXml(const QString &path)
{
    return readXml(path).document;
}

Result encodeChecked(const QDomDocument &doc, const Values &expected, QByteArray *bytes)
{
    bytes->clear();
    for (const auto &value : expected) {
        const QString invalid = invalidCharacterReason(value.second);
        if (!invalid.isEmpty())
            return Result::failure(QStringLiteral("%1: %2").arg(value.first, invalid));
    }
    QByteArray encoded;
    if (const Result r = encode(doc, &encoded); !r)
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
    if (!encode(reread, &again) || again != encoded)
        return Result::failure(QStringLiteral("the document would not read back as written"));
    *bytes = encoded;
    return Result::success();
}

bool toBytes(const QDomDocument &doc, QByteArray *bytes)
{
    return encodeChecked(doc, {}, bytes).ok();
}

Result saveChecked(const QDomDocument &doc, const QString &path, const Values &expected)
{
    QByteArray bytes;
    if (const Result r = encodeChecked(doc, expected, &bytes); !r)
        return Result::failure(QStringLiteral("Failed to write %1: %2").arg(path, r.reason()));
    // QSaveFile: a failed write (full disk) never leaves a truncated file behind.
    // Unbuffered: QSaveFile misses a write error that happens only when its
    // buffer is flushed at commit, and then puts an empty file in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Result::failure(QStringLiteral("Failed to open %1 for writing: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        return Result::failure(QStringLiteral("Failed to write %1: %2").arg(path, file.errorString()));
    return Result::success();
}

bool saveXml(const QDomDocument &doc, const QString &path, const Values &expected)
{
    const Result saved = saveChecked(doc, path, expected);
    if (!saved)
        qCDebug(lcWorkspace).noquote() << saved.reason();
    return saved.ok();
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

Values setElementTexts(QDomDocument &doc, const Values &values)
{
    Values placed;
    for (const auto &value : values) {
        if (setElementText(doc, value.first, value.second))
            placed.append(value);
    }
    return placed;
}

void setFirstElementText(QDomDocument &doc, const QString &tag, const QString &value)
{
    setElementText(doc, tag, value);
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

QString invalidCharacterReason(const QString &text)
{
    const int at = firstInvalidCharacter(text);
    if (at < 0)
        return QString();
    const QString code = QString::number(text.at(at).unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return QStringLiteral("U+%1 at position %2 is not allowed in XML").arg(code).arg(at + 1);
}

} // namespace Xml
