// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlwriter.h"

#include "xmlio.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextCodec>

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

bool isUnicode(const QTextCodec *codec)
{
    return codec->name().startsWith("UTF-");
}

QString reference(uint ucs4)
{
    return QStringLiteral("&#x%1;").arg(ucs4, 0, 16);
}

void appendCodePoint(QString &out, uint c)
{
    if (QChar::requiresSurrogates(c)) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else {
        out += QChar(c);
    }
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

// What a writer's refusal names, put into words only for the reason.
struct Where
{
    const char *kind;
    QString name;
    QString operator()() const { return QLatin1String(kind) + (name.isEmpty() ? QString() : QLatin1Char(' ') + name); }
};

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

    static Result checked(const QString &text, const Where &where)
    {
        const Result writable = checkXmlText(text);
        return writable ? writable : Result::failure(QStringLiteral("%1: %2").arg(where(), writable.reason()));
    }

    // Markup (names, comments, processing instructions) takes no character
    // references: what the encoding cannot hold cannot be written there.
    Result markup(const QString &text, const Where &where)
    {
        if (const Result r = checked(text, where); !r)
            return r;
        bool encodable = true;
        forEachCodePoint(text, [&](uint c) { encodable = encodable && canEncode(c); });
        if (!encodable)
            return Result::failure(QStringLiteral("%1: \"%2\" cannot be written in %3")
                                           .arg(where(), text, QString::fromLatin1(m_codec->name())));
        out += text;
        return Result::success();
    }

    Result escaped(const QString &text, const Where &where, bool attribute)
    {
        if (const Result r = checked(text, where); !r)
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
                appendCodePoint(out, c);
            else
                out += reference(c);
        });
        return Result::success();
    }

    Result characterData(const QDomCharacterData &data, const Where &where)
    {
        const QString text = data.data();
        bool asCData = data.isCDATASection() && !text.contains(QLatin1String("]]>"));
        forEachCodePoint(text, [&](uint c) { asCData = asCData && canEncode(c); });
        if (!asCData)
            return escaped(text, where, false);
        out += QLatin1String("<![CDATA[");
        if (const Result r = markup(text, where); !r)
            return r;
        out += QLatin1String("]]>");
        return Result::success();
    }

    Result element(const QDomElement &e, int depth)
    {
        if (depth > maxDepth)
            return Result::failure(QStringLiteral("nested more than %1 levels deep").arg(maxDepth));
        out += QLatin1Char('<');
        if (const Result r = markup(e.tagName(), {"element name", QString()}); !r)
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
            if (const Result r = markup(a.name(), {"attribute name", QString()}); !r)
                return r;
            out += QLatin1String("=\"");
            if (const Result r = escaped(a.value(), {"attribute", a.name()}, true); !r)
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

    static Where textOf(const QDomNode &n) { return {"text of element", n.parentNode().nodeName()}; }

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
            if (const Result r = markup(n.nodeValue(), {"comment", QString()}); !r)
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
        if (const Result r = markup(pi.target(), {"processing instruction", QString()}); !r)
            return r;
        if (!pi.data().isEmpty()) {
            out += QLatin1Char(' ');
            if (const Result r = markup(pi.data(), {"processing instruction", pi.target()}); !r)
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
        if (const Result r = markup(text + QLatin1Char('>'), {"document type", QString()}); !r)
            return r;
        return Result::success();
    }

    QTextCodec *m_codec;
    bool m_unicode;
    QHash<uint, bool> m_encodable;
};

} // namespace

Result encodeDocument(const QDomDocument &doc, QByteArray *bytes)
{
    QTextCodec *codec = declaredCodec(doc);
    Writer writer(codec);
    if (const Result r = writer.document(doc); !r)
        return r;
    *bytes = codec->fromUnicode(writer.out);
    return Result::success();
}

} // namespace Xml
