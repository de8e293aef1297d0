// SPDX-License-Identifier: GPL-3.0-or-later
#include "mac.h"

#include <QRegularExpression>
#include <QStringList>

namespace Mac {

QString normalizeMac(const QString &text, const QString &separator)
{
    // Every ':', ' ', '_' and '-' ends a piece; empty pieces count.
    int starts[6] = {};
    int ends[6] = {};
    int pieces = 0;
    int start = 0;
    const int length = text.size();
    for (int i = 0; i <= length; ++i) {
        if (i < length) {
            const QChar c = text.at(i);
            if (c != QLatin1Char(':') && c != QLatin1Char(' ') && c != QLatin1Char('_') && c != QLatin1Char('-'))
                continue;
        }
        if (pieces == 6)
            return text;
        starts[pieces] = start;
        ends[pieces] = i;
        ++pieces;
        start = i + 1;
    }
    if (pieces != 6)
        return text;
    // Each part is lower-cased on its own: text with a lone surrogate must
    // not pair it with a separator.
    const QString lowerSeparator = separator.toLower();
    QString joined;
    joined.reserve(length + 6 + 5 * separator.size());
    for (int k = 0; k < 6; ++k) {
        if (k > 0)
            joined += lowerSeparator;
        if (ends[k] - starts[k] == 1)
            joined += QLatin1Char('0');
        joined += QStringView(text).mid(starts[k], ends[k] - starts[k]).toString().toLower();
    }
    return joined;
}

bool isValidMacSyntax(const QString &text)
{
    static const QRegularExpression syntax(
        QStringLiteral("\\A[0-9A-Fa-f]{2}(?:[:.-][0-9A-Fa-f]{2}){5}\\z"));
    return syntax.match(text).hasMatch();
}

} // namespace Mac
