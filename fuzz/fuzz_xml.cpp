// loadXml on arbitrary bytes, and the store's rewrite of what it read.

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::sandbox().workPath("project.xml");
    if (!FuzzSupport::writeFile(path, data, size))
        FuzzSupport::fail("cannot write the input");

    const QDomDocument loaded = Xml::loadXml(path);
    const Xml::XmlFile file = Xml::readXml(path);
    if (!file.readable)
        FuzzSupport::fail("an existing file reads as unreadable");
    const QString name = Xml::firstElementText(file.document, QStringLiteral("name"));
    if (Xml::firstElementText(loaded, QStringLiteral("name")) != name)
        FuzzSupport::fail("loadXml and readXml disagree");

    // The store rewrites only well-formed files. What saveXml writes reads
    // back well-formed, with the value that was set; what it refuses to
    // write leaves the file as it was.
    if (file.wellFormed) {
        QDomDocument doc = file.document;
        Xml::setFirstElementText(doc, QStringLiteral("name"), QStringLiteral("Renamed \u00e9\u20ac"));
        const QString expected = Xml::firstElementText(doc, QStringLiteral("name"));
        const QString rewritten = FuzzSupport::sandbox().workPath("rewritten.xml");
        if (!FuzzSupport::writeFile(rewritten, data, size))
            FuzzSupport::fail("cannot write the file to rewrite");
        if (Xml::saveXml(doc, rewritten)) {
            const Xml::XmlFile back = Xml::readXml(rewritten);
            if (!back.wellFormed)
                FuzzSupport::fail("a rewritten file is not well-formed:", readAll(rewritten).toStdString());
            if (Xml::firstElementText(back.document, QStringLiteral("name")) != expected)
                FuzzSupport::fail("a rewritten file lost its name:", readAll(rewritten).toStdString());
        } else if (readAll(rewritten) != QByteArray(reinterpret_cast<const char *>(data), int(size))) {
            FuzzSupport::fail("a refused rewrite changed the file");
        }
        QFile::remove(rewritten);
    }
    FuzzSupport::sandbox().check({"project.xml"});
    return 0;
}
