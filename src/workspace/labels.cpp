// SPDX-License-Identifier: GPL-3.0-or-later
#include "labels.h"

#include "logging.h"
#include "xmlio.h"

#include <QTextCodec>

namespace Labels {

QString readKsb12Label(const QByteArray &prefs)
{
    QByteArray bytes = prefs.left(ksb12LabelSize);
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    // The store writes ISO 8859-1 (ksb12LabelBytes); bytes that are valid
    // UTF-8 come from elsewhere and are read as such.
    QTextCodec::ConverterState state;
    const QString utf8 = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return utf8;
    return QString::fromLatin1(bytes);
}

QString readTandoLabel(const QByteArray &prefs)
{
    QDomDocument doc;
    if (const Result parsed = Xml::parse(prefs, &doc); !parsed)
        qCDebug(lcWorkspace).noquote() << "Not readable as XML: " + parsed.reason();
    const QDomElement unitName = Xml::firstElement(doc, QStringLiteral("UnitName"));
    if (!unitName.isNull())
        return Xml::elementText(unitName);
    // Without a UnitName the label is the value of the root's first element.
    return Xml::elementText(doc.documentElement().firstChildElement());
}

QByteArray ksb12LabelBytes(const QString &label)
{
    QByteArray bytes = QTextCodec::codecForName("ISO-8859-1")->fromUnicode(label);
    bytes = bytes.left(ksb12LabelSize);
    bytes.append(ksb12LabelSize - bytes.size(), '\0');
    return bytes;
}

} // namespace Labels
