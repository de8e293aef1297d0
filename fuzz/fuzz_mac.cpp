// SPDX-License-Identifier: GPL-3.0-or-later
// normalizeMac and the MAC syntax check on arbitrary text.

#include "fuzzsupport.h"
#include "mac.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// normalizeMac as first written: a regular expression split, kept to hold
// the fast one to the same results.
QString referenceNormalizeMac(const QString &text, const QString &separator)
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

QString separatorFrom(uint8_t byte)
{
    static const char *const separators[] = {":", "_", "-", ".", " ", "", "::"};
    return QString::fromLatin1(separators[byte % (sizeof separators / sizeof *separators)]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString separator = separatorFrom(data[0]);
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const int length = int(size - 1);
    // The same bytes as UTF-8 (what names on the disk give) and as UTF-16
    // (any QString at all, lone surrogates included).
    const QString texts[] = {QString::fromUtf8(bytes, length),
                             QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes), length / 2)};

    static const QRegularExpression colonForm(QStringLiteral("\\A[0-9a-f]{2}(?::[0-9a-f]{2}){5}\\z"));
    for (const QString &text : texts) {
        const QString normal = Mac::normalizeMac(text, separator);
        // The regular expression matches nothing in text with a lone surrogate.
        if (QStringView(text).isValidUtf16() && normal != referenceNormalizeMac(text, separator))
            FuzzSupport::fail("normalizeMac differs from the regular expression split");
        const QString colon = Mac::normalizeMac(text, QStringLiteral(":"));
        const QString underscore = Mac::normalizeMac(text, QStringLiteral("_"));

        // The normal form is a fixed point: loading and storing normalise
        // names that are already normal.
        if (Mac::normalizeMac(normal, separator) != normal)
            FuzzSupport::fail("normalizeMac is not idempotent");
        // Storing renames the underscore form of a directory into the colon
        // form inside the tar in place, which needs equal lengths.
        if (colon.size() != underscore.size())
            FuzzSupport::fail("colon and underscore forms differ in length");
        if (QString(underscore).replace(QLatin1Char('_'), QLatin1Char(':'))
            != QString(colon).replace(QLatin1Char('_'), QLatin1Char(':')))
            FuzzSupport::fail("colon and underscore forms name different addresses");

        // A MAC that passes the syntax check and has no "." (which is no split
        // character) normalises to the colon form, which passes the check too.
        if (Mac::isValidMacSyntax(text)) {
            if (text.size() != 17)
                FuzzSupport::fail("a valid MAC that is not 17 characters long");
            if (!text.contains(QLatin1Char('.'))) {
                if (!colonForm.match(colon).hasMatch() || !Mac::isValidMacSyntax(colon))
                    FuzzSupport::fail("a valid MAC whose colon form is not valid");
            }
        }
    }
    return 0;
}
