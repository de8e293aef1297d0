#include "labels.h"

#include "logging.h"
#include "xmlio.h"

#include <QFile>
#include <QTextCodec>

namespace Labels {

QString readKsb12Label(const QString &prefsPath)
{
    QFile prefs(prefsPath);
    if (!prefs.open(QIODevice::ReadOnly)) {
        qCDebug(lcWorkspace) << "Error while loading file";
        return QString();
    }
    QByteArray bytes = prefs.read(ksb12LabelSize);
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromUtf8(bytes);
}

QString readTandoLabel(const QString &prefsPath)
{
    const QDomDocument doc = Xml::loadXml(prefsPath);
    return doc.documentElement().firstChild().firstChild().nodeValue();
}

QByteArray ksb12LabelBytes(const QString &label)
{
    QByteArray bytes = QTextCodec::codecForName("ISO-8859-1")->fromUnicode(label);
    bytes = bytes.left(ksb12LabelSize);
    bytes.append(ksb12LabelSize - bytes.size(), '\0');
    return bytes;
}

} // namespace Labels
