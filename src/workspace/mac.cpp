#include "mac.h"

#include <QRegularExpression>
#include <QStringList>

namespace Mac {

QString normalizeMac(const QString &text, const QString &separator)
{
    static const QRegularExpression splitAt(QStringLiteral("[: _-]"));
    QStringList pieces = text.split(splitAt);
    if (pieces.size() != 6)
        return text;
    for (QString &piece : pieces) {
        if (piece.size() == 1)
            piece.prepend(QLatin1Char('0'));
    }
    return pieces.join(separator).toLower();
}

bool isValidMacSyntax(const QString &text)
{
    static const QRegularExpression syntax(
        QStringLiteral("\\A[0-9A-Fa-f]{2}(?:[:.-][0-9A-Fa-f]{2}){5}\\z"));
    return syntax.match(text).hasMatch();
}

} // namespace Mac
