#include "testutil.h"
#include "testfiles.h"
#include "tmpfsmount.h"
#include "xmlio.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {


} // namespace

class TestXmlIo : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    // Documents that QDom reads but cannot write back as they were: saveXml
    // refuses them and the file keeps its bytes, so that a store never turns
    // a readable file into one that loses its settings on the next load.
    void refusesWhatWouldNotReadBack_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("quote inside the version") << QByteArray("<?xml version=\"1'0\" encoding=\"ISO-8859-1\"?>\n"
                                                                "<project><name>B\xfchne</name></project>\n");
        QTest::newRow("encoding in a look-alike declaration")
            << QByteArray("<?xmljips version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<project><name>x</name></project>\n");
    }

    void refusesWhatWouldNotReadBack()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath("project.xml");
        QVERIFY(writeFile(path, content));
        const Xml::XmlFile file = Xml::readXml(path);
        QVERIFY(file.wellFormed);
        QDomDocument doc = file.document;
        Xml::setFirstElementText(doc, "name", QStringLiteral("B\u00fchne \u20ac"));

        LogCapture log("tando.workspace");
        QVERIFY(!Xml::saveXml(doc, path));
        QCOMPARE(readFile(path), content);
        QVERIFY2(log.all().contains("Failed to write " + path + ": the document would not read back"), qPrintable(log.all()));
    }

    void writesWhatReadsBack_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expectedBytes");
        QTest::newRow("UTF-8") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><project><name>x</name></project>")
                               << QByteArray("B\xc3\xbchne \xe2\x82\xac");
        QTest::newRow("Latin-1, reference for the rest")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><project><name>x</name></project>")
            << QByteArray("B\xfchne &#x20ac;");
        QTest::newRow("no declaration") << QByteArray("<project><name>x</name></project>") << QByteArray("B\xc3\xbchne \xe2\x82\xac");
    }

    void writesWhatReadsBack()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expectedBytes);
        const QString path = m_dir.filePath("good.xml");
        QVERIFY(writeFile(path, content));
        QDomDocument doc = Xml::readXml(path).document;
        Xml::setFirstElementText(doc, "name", QStringLiteral("B\u00fchne \u20ac"));
        QVERIFY(Xml::saveXml(doc, path));
        QVERIFY2(readFile(path).contains(expectedBytes), readFile(path).constData());
        QCOMPARE(Xml::firstElementText(Xml::readXml(path).document, "name"), QStringLiteral("B\u00fchne \u20ac"));
    }

    // The first child decides: a text, CDATA or comment takes the value; an
    // element does not, in memory as in the file.
    void setFirstElementText_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("written");
        QTest::newRow("text") << QByteArray("<p><name>old</name></p>") << "new" << "<name>new</name>";
        QTest::newRow("CDATA") << QByteArray("<p><name><![CDATA[old]]></name></p>") << "new" << "<name><![CDATA[new]]></name>";
        QTest::newRow("comment first") << QByteArray("<p><name><!--c-->old</name></p>") << "new" << "<!--new-->old</name>";
        QTest::newRow("element first") << QByteArray("<p><name><b>old</b></name></p>") << "" << "<b>old</b>";
        QTest::newRow("empty element") << QByteArray("<p><name/></p>") << "" << "<name/>";
    }

    void setFirstElementText()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        QFETCH(QString, written);
        QDomDocument doc;
        QVERIFY(doc.setContent(content));
        Xml::setFirstElementText(doc, "name", "new");
        QCOMPARE(Xml::firstElementText(doc, "name"), read);
        const QString path = m_dir.filePath("set.xml");
        QVERIFY(Xml::saveXml(doc, path));
        QVERIFY2(QString::fromUtf8(readFile(path)).contains(written), readFile(path).constData());
        QCOMPARE(Xml::firstElementText(Xml::readXml(path).document, "name"), read);
    }

    // A write that fails for lack of space answers false and keeps the old
    // file: on a full tmpfs where one can be mounted, and under a file-size
    // limit anywhere. (QSaveFile alone, buffered, put an empty file in place.)
    void fullDiskKeepsTheFile_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::newRow("full tmpfs") << true;
        QTest::newRow("file-size limit") << false;
    }

    void fullDiskKeepsTheFile()
    {
        QFETCH(bool, tmpfs);
        const QByteArray old = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project><name>old</name></project>\n";
        std::unique_ptr<TmpfsMount> mount;
        QString dir = m_dir.filePath("limited");
        if (tmpfs) {
            mount = std::make_unique<TmpfsMount>(m_dir.filePath("small"), 64 << 10);
            if (!mount->isMounted())
                QSKIP(qPrintable("no tmpfs: " + mount->reason() + "; the file-size limit row stands in"));
            dir = mount->path();
        }
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + "/project.xml";
        QVERIFY(writeFile(path, old));
        if (tmpfs) {
            QFile filler(dir + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size()) {
            }
        }
        QDomDocument doc = Xml::readXml(path).document;
        Xml::setFirstElementText(doc, "name", QString(200, QLatin1Char('n')));

        LogCapture log("tando.workspace");
        bool saved = true;
        if (tmpfs) {
            saved = Xml::saveXml(doc, path);
        } else {
            rlimit previous {};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
            auto *handler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit lowered = previous;
            lowered.rlim_cur = 100;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &lowered), 0);
            saved = Xml::saveXml(doc, path);
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, handler);
        }
        QVERIFY(!saved);
        QCOMPARE(readFile(path), old);
        QVERIFY2(log.all().contains("Failed to write " + path), qPrintable(log.all()));
        // Nothing of the attempt is left beside the file.
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 tmpfs ? QStringList({"filler", "project.xml"}) : QStringList{"project.xml"});
        if (tmpfs)
            QFile::remove(dir + "/filler");
    }
};

QTEST_GUILESS_MAIN(TestXmlIo)
#include "tst_xmlio.moc"
