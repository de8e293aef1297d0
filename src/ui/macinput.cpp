#include "macinput.h"

#include "deviceedits.h"

#include <QClipboard>
#include <QGuiApplication>

MacInput::MacInput(QObject *parent)
    : QObject(parent)
{
}

QVariantMap MacInput::complete(const QString &oldMac, const QString &input) const
{
    QString problem;
    const QString mac = Workspace::completeNewMac(oldMac, input, &problem);
    return {{QStringLiteral("mac"), mac},
            {QStringLiteral("problem"), problem},
            {QStringLiteral("wholeMac"), Workspace::isWholeMac(input)}};
}

QString MacInput::clipboardText(bool selection) const
{
    return QGuiApplication::clipboard()->text(selection ? QClipboard::Selection : QClipboard::Clipboard);
}
