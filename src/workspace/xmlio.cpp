#include "xmlio.h"

#include "logging.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>

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

} // namespace

XmlFile readXml(const QString &path)
{
    XmlFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcWorkspace).noquote() << "Error while loading file " + path;
        return result;
    }
    result.readable = true;
    const QByteArray content = file.readAll();
    if (content.contains("<!ENTITY"))
        qCDebug(lcWorkspace).noquote() << "Entity declarations refused in " + path;
    result.wellFormed = parseBytes(content, &result.document);
    if (!result.wellFormed)
        result.document = QDomDocument(); // what precedes an error is not used
    return result;
}

QDomDocument loadXml(const QString &path)
{
    return readXml(path).document;
}

bool toBytes(const QDomDocument &doc, QByteArray *bytes)
{
    bytes->clear();
    {
        QBuffer buffer(bytes);
        buffer.open(QIODevice::WriteOnly);
        QTextStream stream(&buffer);
        stream.setCodec(declaredCodec(doc));
        // Saving with the stream's codec turns what it cannot encode into character references.
        doc.save(stream, 1, QDomNode::EncodingFromDocument);
        stream.flush();
    }
    // A document can hold what its text form cannot say again: an XML
    // declaration the parser read loosely (version="1'0" comes back as
    // version='1'0'), or one the reader honours where we do not
    // ("<?xmlfoo encoding=...?>"). Such text is not handed out.
    QDomDocument reread;
    return reread.setContent(*bytes) && reread.toString(1) == doc.toString(1);
}

bool parseBytes(const QByteArray &content, QDomDocument *doc)
{
    *doc = QDomDocument();
    // Entity declarations are the road to exponential expansion ("billion
    // laughs"); the project's files never need them, so the parser never sees one.
    if (content.contains("<!ENTITY"))
        return false;
    return doc->setContent(content);
}

bool saveXml(const QDomDocument &doc, const QString &path)
{
    QByteArray bytes;
    if (!toBytes(doc, &bytes)) {
        qCDebug(lcWorkspace).noquote() << "Failed to write " + path + ": the document would not read back";
        return false;
    }
    // QSaveFile: a failed write (full disk) never leaves a truncated file behind.
    // Unbuffered: QSaveFile misses a write error that happens only when its
    // buffer is flushed at commit, and then puts an empty file in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCDebug(lcWorkspace) << "Failed to open file for writing.";
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        qCDebug(lcWorkspace).noquote() << "Failed to write " + path + ": " + file.errorString();
        return false;
    }
    return true;
}

QString firstElementText(const QDomDocument &doc, const QString &tag)
{
    return doc.elementsByTagName(tag).item(0).firstChild().nodeValue();
}

void setFirstElementText(QDomDocument &doc, const QString &tag, const QString &value)
{
    QDomNode child = doc.elementsByTagName(tag).item(0).firstChild();
    // Only nodes that hold a value take one (text, CDATA, comment, processing
    // instruction). QDom keeps a value set on an element and hands it out
    // again, but never writes it: the document in memory would claim an edit
    // that the file does not have.
    if (child.isCharacterData() || child.isText() || child.isCDATASection() || child.isComment()
        || child.isProcessingInstruction())
        child.setNodeValue(value);
}

} // namespace Xml
