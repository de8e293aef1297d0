// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlio.h"
#include "xmlscan.h"

#include <QtTest>

class TestXmlIo : public QObject
{
    Q_OBJECT

private slots:
    // What parse() refuses counts as malformed: the store leaves such a file
    // as it is. Look-alikes of what is refused read normally. The scan that
    // reads profiles for diff and check refuses and reads the same.
    void parsesStrictly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("refusal"); // empty: read, with the name "x"
        const QByteArray deep = QByteArray("<p><name>x</name>") + QByteArray("<d>").repeated(Xml::maxDepth - 1)
                                + QByteArray("</d>").repeated(Xml::maxDepth - 1) + "</p>";
        QTest::newRow("quote inside the version") << QByteArray("<?xml version=\"1'0\"?><p><name>x</name></p>")
                                                  << "Unsupported XML version";
        QTest::newRow("entity declared") << QByteArray("<!DOCTYPE p [<!ENTITY e \"x\">]><p><name>&e;</name></p>")
                                         << "declares entities";
        QTest::newRow("parameter entity declared") << QByteArray("<!DOCTYPE p [<!ENTITY % e \"x\">]><p><name>x</name></p>")
                                                   << "declares entities";
        QTest::newRow("declaration in CDATA") << QByteArray("<p><name>x</name><!-- <!ENTITY --><![CDATA[<!ENTITY e 'y'>]]></p>")
                                              << "";
        QTest::newRow("document type without entities") << QByteArray("<!DOCTYPE p [<!ELEMENT p ANY>]><p><name>x</name></p>")
                                                        << "";
        QTest::newRow("control character") << QByteArray("<p><name>x&#1;</name></p>") << "Invalid character reference";
        QTest::newRow("deepest allowed") << deep << "";
        QTest::newRow("values of every shape")
            << QByteArray("<p><name><!--c--><b>no</b>x<![CDATA[y]]></name><name>a&amp;b<c/>d</name><name/>"
                          "<name><![CDATA[c]]>t</name><q><name>in<name>most</name></name></q></p>")
            << "";
        QTest::newRow("one level deeper") << QByteArray(deep).replace("<d>", "<d><e>").replace("</d>", "</e></d>")
                                          << "nested more than 256 levels";
    }

    void parsesStrictly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, refusal);
        QDomDocument doc;
        const Result parsed = Xml::parse(content, &doc);
        QVERIFY2(parsed.ok() == refusal.isEmpty(), qPrintable(parsed.reason()));
        QVERIFY2(parsed.reason().contains(refusal), qPrintable(parsed.reason()));
        QCOMPARE(Xml::firstElementText(doc, "name"), refusal.isEmpty() ? QStringLiteral("x") : QString());

        QList<QStringList> scanned;
        QCOMPARE(Xml::scanElementTexts(content, {"name"}, &scanned).reason(), parsed.reason());
        QStringList values;
        const QDomNodeList names = doc.elementsByTagName("name");
        for (int i = 0; i < names.size(); ++i)
            values << Xml::elementText(names.item(i).toElement());
        if (parsed)
            QCOMPARE(scanned.value(0), values);
    }

    // A value set on a file in each encoding reads back as set, through a
    // character reference where the encoding cannot hold a character.
    void writesWhatReadsBack_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expectedBytes");
        const QString text = QStringLiteral("B\u00fchne \u20ac \U0001F600");
        const QByteArray latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
        QTest::newRow("UTF-8") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><project><name>x</name></project>")
                               << text << QByteArray("<name>B\xc3\xbchne \xe2\x82\xac \xf0\x9f\x98\x80</name>");
        QTest::newRow("Latin-1, references for the rest") << latin1 + "<project><name>x</name></project>" << text
                                                          << QByteArray("<name>B\xfchne &#x20ac; &#x1f600;</name>");
        QTest::newRow("Latin-1 CDATA becomes text") << latin1 + "<project><name><![CDATA[x]]></name></project>" << text
                                                    << QByteArray("<name>B\xfchne &#x20ac; &#x1f600;</name>");
        QTest::newRow("CDATA keeps what it can") << QByteArray("<project><name><![CDATA[x]]></name></project>")
                                                 << "a <b> & c" << QByteArray("<name><![CDATA[a <b> & c]]></name>");
        QTest::newRow("no declaration") << QByteArray("<project><name>x</name></project>") << text
                                        << QByteArray("<name>B\xc3\xbchne \xe2\x82\xac \xf0\x9f\x98\x80</name>");
        QTest::newRow("white space only") << QByteArray("<project><name>x</name></project>") << "  "
                                          << QByteArray("<name>  </name>");
        QTest::newRow("cleared") << QByteArray("<project>\n <name>x</name>\n</project>") << ""
                                 << QByteArray("<project>\n <name/>\n</project>\n");
        QTest::newRow("into an empty element") << QByteArray("<project><name/></project>") << "\r\nx]]>"
                                               << QByteArray("<name>&#xd;\nx]]&gt;</name>");
        QTest::newRow("after a comment") << QByteArray("<project><name><!--c-->old</name></project>") << "new"
                                         << QByteArray("<name><!--c-->new</name>");
        QTest::newRow("after an element") << QByteArray("<project><name><b>old</b></name></project>") << "new"
                                          << QByteArray("<name><b>old</b>new</name>");
    }

    void writesWhatReadsBack()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QByteArray, expectedBytes);
        QDomDocument doc;
        QVERIFY(Xml::parse(content, &doc));
        QVERIFY(Xml::setElementText(doc, "name", value));
        QByteArray bytes;
        const Result encoded = Xml::encodeChecked(doc, {{"name", value}}, &bytes);
        QVERIFY2(encoded.ok(), qPrintable(encoded.reason()));
        QVERIFY2(bytes.contains(expectedBytes), bytes.constData());
        QDomDocument back;
        QVERIFY(Xml::parse(bytes, &back));
        QCOMPARE(Xml::firstElementText(back, "name"), value);
    }

    // A value XML cannot hold is refused with a reason naming it; a tag the
    // document lacks takes no value.
    void refusesWhatCannotBeWritten()
    {
        QDomDocument doc;
        QVERIFY(Xml::parse("<project><name>x</name><author/></project>", &doc));
        QVERIFY(!Xml::setElementText(doc, "description", "d"));
        QVERIFY(Xml::setElementText(doc, "author", QStringLiteral("a\u0001b")));
        QByteArray bytes = "untouched";
        const Result encoded = Xml::encodeChecked(doc, {{"author", QStringLiteral("a\u0001b")}}, &bytes);
        QCOMPARE(encoded.reason(), QStringLiteral("author: U+0001 at position 2 is not allowed in XML"));
        QVERIFY(bytes.isEmpty());
        QCOMPARE(Xml::firstInvalidCharacter(QStringLiteral("\U0001F600\t\uFFFD")), -1);
        QCOMPARE(Xml::firstInvalidCharacter(QString(QChar(0xD83D)) + "x"), 0);
        QCOMPARE(Xml::firstInvalidCharacter(QStringLiteral("ab\uFFFE")), 2);
    }
};

QTEST_GUILESS_MAIN(TestXmlIo)
#include "tst_xmlio.moc"
