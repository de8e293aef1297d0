// readXml on arbitrary bytes, and the store's rewrite of what it read.

#include "fuzzsupport.h"
#include "xmlio.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::startQt(argc, argv);
    return 0;
}

namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The values a user may set: cleared, blank, and text beyond Latin-1 and the BMP.
const QStringList values = {QString(), QStringLiteral("  "), QStringLiteral("Renamed \u00e9\u20ac\U0001F600 ]]> <&>")};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::sandbox().workPath("project.xml");
    if (!FuzzSupport::writeFile(path, data, size))
        FuzzSupport::fail("cannot write the input");
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));

    const Xml::XmlFile file = Xml::readXml(path);
    if (!file.readable)
        FuzzSupport::fail("an existing file reads as unreadable");
    if (file.wellFormed != file.problem.isEmpty())
        FuzzSupport::fail("a refusal without a reason, or a reason without a refusal");
    const QString name = Xml::firstElementText(file.document, QStringLiteral("name"));
    if (Xml::firstElementText(Xml::loadXml(path), QStringLiteral("name")) != name)
        FuzzSupport::fail("loadXml and readXml disagree");

    // The store rewrites only well-formed files. What it writes parses again
    // with the value that was set, the same bytes every time; what it refuses
    // to write leaves the file as it was.
    if (file.wellFormed) {
        const QString rewritten = FuzzSupport::sandbox().workPath("rewritten.xml");
        for (const QString &value : values) {
            QDomDocument doc = file.document.cloneNode(true).toDocument();
            const bool placed = Xml::setElementText(doc, QStringLiteral("name"), value);
            const Xml::Values expected = placed ? Xml::Values{{QStringLiteral("name"), value}} : Xml::Values{};
            if (!FuzzSupport::writeFile(rewritten, data, size))
                FuzzSupport::fail("cannot write the file to rewrite");
            if (Xml::saveChecked(doc, rewritten, expected)) {
                const QByteArray bytes = readAll(rewritten);
                QDomDocument back;
                if (!Xml::parse(bytes, &back))
                    FuzzSupport::fail("a rewritten file is not well-formed:", bytes.toStdString());
                if (placed && Xml::firstElementText(back, QStringLiteral("name")) != value)
                    FuzzSupport::fail("a rewritten file lost its name:", bytes.toStdString());
                QByteArray again;
                if (!Xml::encodeChecked(doc, expected, &again) || again != bytes)
                    FuzzSupport::fail("the same document gave other bytes:", bytes.toStdString());
            } else if (readAll(rewritten) != input) {
                FuzzSupport::fail("a refused rewrite changed the file");
            }
        }
        QFile::remove(rewritten);
    }
    FuzzSupport::sandbox().check({"project.xml"});
    return 0;
}
