#include "deviceedits.h"

#include "mac.h"

#include <QRegularExpression>

namespace Workspace {

namespace {

const QString colon = QStringLiteral(":");

// Colon form of a whole MAC in any written form, or empty. Dots separate
// bytes too, as a MAC cell accepts them.
QString wholeMac(const QString &text)
{
    const QString normalized = Mac::normalizeMac(QString(text).replace(QLatin1Char('.'), QLatin1Char(':')), colon);
    return Mac::isValidMacSyntax(normalized) ? normalized : QString();
}

// The last three bytes as given, in a form wholeMac() takes after a prefix.
QString suffixPieces(const QString &text)
{
    static const QRegularExpression sixDigits(QStringLiteral("\\A[0-9A-Fa-f]{6}\\z"));
    if (sixDigits.match(text).hasMatch())
        return text.left(2) + colon + text.mid(2, 2) + colon + text.mid(4);
    return text;
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
        whole = wholeMac(withMacSuffix(oldColonForm, suffixPieces(text)));
    QString why;
    if (text.isEmpty())
        why = QStringLiteral("the new MAC is empty");
    else if (whole.isEmpty())
        why = QStringLiteral("%1: not a MAC, nor the last three bytes of one").arg(input);
    else if (!whole.startsWith(macPrefix(oldColonForm)))
        why = QStringLiteral("%1: only the last three bytes of a MAC can change").arg(input);
    if (!why.isEmpty())
        return Result::failure(why);
    *mac = whole;
    return Result::success();
}

bool isWholeMac(const QString &text)
{
    return !wholeMac(text.trimmed()).isEmpty();
}

} // namespace Workspace
