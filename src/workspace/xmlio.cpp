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
    // Entity declarations are the road to exponential expansion ("billion
    // laughs"); the project's files never need them, so the parser never sees one.
    if (content.contains("<!ENTITY")) {
        qCDebug(lcWorkspace).noquote() << "Entity declarations refused in " + path;
        return result;
    }
    result.wellFormed = result.document.setContent(content);
    return result;
}

QDomDocument loadXml(const QString &path)
{
    return readXml(path).document;
}

bool saveXml(const QDomDocument &doc, const QString &path)
{
    // QSaveFile: a failed write (full disk) never leaves a truncated file behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qCDebug(lcWorkspace) << "Failed to open file for writing.";
        return false;
    }
    QTextStream stream(&file);
    stream.setCodec(declaredCodec(doc));
    // Saving with the stream's codec turns what it cannot encode into character references.
    doc.save(stream, 1, QDomNode::EncodingFromDocument);
    stream.flush();
    if (stream.status() != QTextStream::Ok || !file.commit()) {
        qCDebug(lcWorkspace).noquote() << "Failed to write " + path + ": " + file.errorString();
        return false;
    }
    return true;
}

QByteArray toBytes(const QDomDocument &doc)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    QTextStream stream(&buffer);
    stream.setCodec(declaredCodec(doc));
    doc.save(stream, 1, QDomNode::EncodingFromDocument);
    stream.flush();
    return buffer.data();
}

bool parseBytes(const QByteArray &content, QDomDocument *doc)
{
    *doc = QDomDocument();
    if (content.contains("<!ENTITY"))
        return false;
    return doc->setContent(content);
}

QString firstElementText(const QDomDocument &doc, const QString &tag)
{
    return doc.elementsByTagName(tag).item(0).firstChild().nodeValue();
}

void setFirstElementText(QDomDocument &doc, const QString &tag, const QString &value)
{
    QDomNode child = doc.elementsByTagName(tag).item(0).firstChild();
    if (!child.isNull())
        child.setNodeValue(value);
}

} // namespace Xml
