// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceedits.h"

#include "mac.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// `digits` hex digits without separators as pairs joined by colons; any
// other text as it is. People copy MACs from labels and tools that way.
QString hexPairs(const QString &text, int digits)
{
    if (text.size() != digits || !std::all_of(text.begin(), text.end(), isHexDigit))
        return text;
    QStringList pairs;
    for (int i = 0; i < digits; i += 2)
        pairs << text.mid(i, 2);
    return pairs.join(colon);
}

// Colon form of a whole MAC in any written form, or empty. Dots separate
// bytes too, as a MAC cell accepts them.
QString wholeMac(const QString &text)
{
    const QString pieces = hexPairs(text, 12).replace(QLatin1Char('.'), QLatin1Char(':'));
    const QString normalized = Mac::normalizeMac(pieces, colon);
    return Mac::isValidMacSyntax(normalized) ? normalized : QString();
}

QString onlySuffixChanges(const QString &input)
{
    return QStringLiteral("%1: only the last three bytes of a MAC can change").arg(input);
}

} // namespace

Result checkLabel(const QString &label)
{
    static const QRegularExpression labelSyntax(QStringLiteral("\\A[0-9A-Za-z ]{0,%1}\\z").arg(maxLabelLength));
    if (labelSyntax.match(label).hasMatch())
        return Result::success();
    return Result::failure(QStringLiteral("label \"%1\": at most %2 of A-Z, a-z, 0-9 and space")
                               .arg(label, QString::number(maxLabelLength)));
}

QString macPrefix(const QString &mac)
{
    return mac.left(9);
}

QString macSuffix(const QString &mac)
{
    return mac.mid(macPrefix(mac).size());
}

QString withMacSuffix(const QString &mac, const QString &suffix)
{
    return macPrefix(mac) + suffix;
}

Result completeNewMac(const QString &oldMac, const QString &input, QString *mac)
{
    mac->clear();
    const QString text = input.trimmed();
    const QString oldColonForm = Mac::normalizeMac(oldMac, colon);
    QString whole = wholeMac(text);
    if (whole.isEmpty() && !text.isEmpty())
        whole = wholeMac(withMacSuffix(oldColonForm, hexPairs(text, 6)));
    QString why;
    if (text.isEmpty())
        why = QStringLiteral("the new MAC is empty");
    else if (whole.isEmpty())
        why = QStringLiteral("%1: not a MAC, nor the last three bytes of one").arg(input);
    else if (!whole.startsWith(macPrefix(oldColonForm)))
        why = onlySuffixChanges(input);
    if (!why.isEmpty())
        return Result::failure(why);
    *mac = whole;
    return Result::success();
}

QString normalizeTypedMac(const QString &text)
{
    return Mac::normalizeMac(hexPairs(text, 12), colon);
}

Result checkMacStart(const QString &oldMac, const QString &typed)
{
    if (typed.left(9).compare(macPrefix(Mac::normalizeMac(oldMac, colon)), Qt::CaseInsensitive) == 0)
        return Result::success();
    return Result::failure(onlySuffixChanges(typed + QStringLiteral("\u2026")));
}

bool isWholeMac(const QString &text)
{
    return !wholeMac(text.trimmed()).isEmpty();
}

} // namespace Workspace
