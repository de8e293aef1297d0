// SPDX-License-Identifier: GPL-3.0-or-later
// parse() on arbitrary bytes, and the store's rewrite of what it read.

#include "fuzzsupport.h"
#include "xmlio.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    return 0;
}

namespace {
// The values a user may set: cleared, blank, and text beyond Latin-1 and the BMP.
const QStringList values = {QString(), QStringLiteral("  "), QStringLiteral("Renamed \u00e9\u20ac\U0001F600 ]]> <&>")};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    QDomDocument document;
    const Result parsed = Xml::parse(input, &document);
    if (parsed.isFailure() == parsed.reason().isEmpty())
        FuzzSupport::fail("a refusal without a reason, or a reason without a refusal");
    if (!parsed)
        return 0;

    // The store rewrites only well-formed files. What it writes parses again
    // with the value that was set, the same bytes every time; what it refuses
    // gives no bytes.
    for (const QString &value : values) {
        QDomDocument doc = document.cloneNode(true).toDocument();
        const bool placed = Xml::setElementText(doc, QStringLiteral("name"), value);
        const Xml::Values expected = placed ? Xml::Values{{QStringLiteral("name"), value}} : Xml::Values{};
        QByteArray bytes;
        if (!Xml::encodeChecked(doc, expected, &bytes)) {
            if (!bytes.isEmpty())
                FuzzSupport::fail("a refused rewrite gave bytes");
            continue;
        }
        QDomDocument back;
        if (!Xml::parse(bytes, &back))
            FuzzSupport::fail("a rewritten file is not well-formed:", bytes.toStdString());
        if (placed && Xml::firstElementText(back, QStringLiteral("name")) != value)
            FuzzSupport::fail("a rewritten file lost its name:", bytes.toStdString());
        QByteArray again;
        if (!Xml::encodeChecked(doc, expected, &again) || again != bytes)
            FuzzSupport::fail("the same document gave other bytes:", bytes.toStdString());
    }
    return 0;
}
