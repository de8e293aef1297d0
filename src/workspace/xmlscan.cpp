// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlscan.h"

#include "xmlio.h"

#include <QXmlStreamReader>

#include <vector>

namespace Xml {

namespace {

// An open element, and for one of the tags the value read of it so far. As
// parse() builds text nodes, plain character data that follows plain
// character data joins it; a CDATA section or any other node ends it.
struct OpenElement
{
    enum State { Before, InText, Done };
    int tag = -1; // -1: not one of the tags
    int slot = 0;
    State state = Before;
};

class Scan
{
public:
    Scan(const QStringList &tags, QList<QStringList> *values) : m_tags(tags), m_values(values)
    {
        m_values->clear();
        for (int i = 0; i < tags.size(); ++i)
            m_values->append(QStringList());
    }

    Result start(const QXmlStreamReader &reader)
    {
        if (int(m_open.size()) >= maxDepth)
            return Result::failure(QStringLiteral("elements nested more than %1 levels deep").arg(maxDepth));
        otherChild();
        OpenElement element;
        element.tag = m_tags.indexOf(reader.qualifiedName().toString());
        if (element.tag >= 0) {
            element.slot = (*m_values)[element.tag].size();
            (*m_values)[element.tag].append(QString(QLatin1String("")));
        }
        m_open.push_back(element);
        return Result::success();
    }

    void end() { m_open.pop_back(); }

    void characters(const QXmlStreamReader &reader)
    {
        if (m_open.empty() || m_open.back().tag < 0 || m_open.back().state == OpenElement::Done)
            return;
        OpenElement &element = m_open.back();
        QString &value = (*m_values)[element.tag][element.slot];
        if (element.state == OpenElement::InText && reader.isCDATA()) {
            element.state = OpenElement::Done;
            return;
        }
        value += reader.text();
        element.state = reader.isCDATA() ? OpenElement::Done : OpenElement::InText;
    }

    // A child element, comment, processing instruction or entity reference.
    void otherChild()
    {
        if (!m_open.empty() && m_open.back().state == OpenElement::InText)
            m_open.back().state = OpenElement::Done;
    }

private:
    const QStringList &m_tags;
    QList<QStringList> *m_values;
    std::vector<OpenElement> m_open;
};

} // namespace

Result scanElementTexts(const QByteArray &content, const QStringList &tags, QList<QStringList> *values)
{
    Scan scan(tags, values);
    QXmlStreamReader reader(content);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                return Result::failure(QStringLiteral("the document type declares entities"));
            break;
        case QXmlStreamReader::StartElement:
            if (const Result started = scan.start(reader); !started)
                return started;
            break;
        case QXmlStreamReader::EndElement:
            scan.end();
            break;
        case QXmlStreamReader::Characters:
            scan.characters(reader);
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::EntityReference:
            scan.otherChild();
            break;
        default:
            break;
        }
    }
    return Xml::readerResult(reader);
}

} // namespace Xml
