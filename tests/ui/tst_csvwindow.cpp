// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialoganswerer.h"
#include "deviceedits.h"
#include "projectworkspace.h"
#include "startup.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The device list out of the window and changes from a spreadsheet back in,
// through the file dialogs, as a user does it.
class TestCsvWindow : public QObject, private WindowDriver
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ProjectFixture m_fixture;
    QString m_archive;

    // The devices of an archive as stored, "label mac" each, in list order.
    static QStringList storedDevices(const QString &archive)
    {
        ProjectEntity project;
        if (!Workspace::loadProject(project, archive))
            return {"<not loaded>"};
        QStringList devices;
        for (const DeviceEntity *device : project.devices()->objectsOfType<DeviceEntity>())
            devices << device->oldLabel() + ' ' + device->shownOldMac();
        return devices;
    }

    // The table's fields tinted as edited.
    int markedFields() const
    {
        int marked = 0;
        findItem(root(), [&](QQuickItem *item) {
            marked += item->isVisible() && item->property("changed").toBool();
            return false;
        });
        return marked;
    }

    // The rows of a CSV file as Python's csv module reads them.
    static QJsonArray pythonCsvRows(const QString &path)
    {
        const QByteArray rows = outputOf(
            "python3", {"-c", "import csv, json, sys; print(json.dumps(list(csv.reader(open(sys.argv[1], newline='', "
                              "encoding='utf-8')))))",
                        path});
        return QJsonDocument::fromJson(rows).array();
    }

    void clickButton(const QString &caption)
    {
        QQuickItem *button = shownWithText(root(), caption);
        QVERIFY2(button, qPrintable(caption));
        QVERIFY(QMetaObject::invokeMethod(button, "clicked"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        m_fixture.addProjectXml("Bühne Süd", "Ann", "Spring");
        m_fixture.addKsb12("00:1a:2b:00:00:01", QByteArray("Stage Left").leftJustified(16, '\0') + "KSB12-SETTINGS-V1");
        m_fixture.addTando("00:1a:2b:3c:4d:5e", "Front");
        m_fixture.addTando("00:1a:2b:3c:4d:5f", "Foyer");
        m_archive = m_fixture.makeTgz("venue.tgz");

        openWindow();
    }

    void init()
    {
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QVERIFY(m_appState->loadProject(m_archive));
        QCOMPARE(m_window->title(), QStringLiteral("venue.tgz \u2014 Tando Project Editor"));
    }

    // A spreadsheet's file goes in whole as edits, stored like typed ones; a
    // file with a bad row is refused with the tool's lines, and nothing of it
    // goes in.
    void applyChanges_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem");

        QTest::newRow("semicolons, BOM, CRLF")
            << QByteArray("\xEF\xBB\xBFtype;label;mac;new_label;new_mac\r\n"
                          "TANDO/QL3;Front;00:1a:2b:3c:4d:5e;;3C-4D-99\r\n"
                          "KSB12;\"Stage; Left\";00-1A-2B-00-00-01;Pit Left;\r\n"
                          "TANDO/QL3;Bühne;00:1a:2b:3c:4d:5f;;\r\n")
            << QString();
        QTest::newRow("a bad row")
            << QByteArray("mac,new_label\n00:1a:2b:3c:4d:5e,Fine\n00:1a:2b:3c:4d:5f,Not_a_label\n")
            << QStringLiteral("changes.csv:3: ");
    }

    void applyChanges()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        QVERIFY(writeFile(m_dir.filePath("changes.csv"), file));

        QString openedIn;
        DialogAnswerer answerer([&](QFileDialog *dialog, QLineEdit *name) {
            openedIn = dialog->directory().absolutePath();
            typeAndAccept(m_dir.path(), "changes.csv")(dialog, name);
        });
        clickButton("Apply changes\u2026");
        QVERIFY(answerer.answered && !answerer.forcedClose);
        QCOMPARE(answerer.seen.acceptMode, QFileDialog::AcceptOpen);
        QCOMPARE(answerer.seen.nameFilters, QStringList({"CSV files (*.csv)", "All files (*)"}));
        QCOMPARE(answerer.seen.transientParent, m_window);
        QCOMPARE(openedIn, QFileInfo(m_archive).absolutePath());

        if (!problem.isEmpty()) {
            QQuickItem *list = findItem(root(), [](QQuickItem *item) { return item->objectName() == "problemList"; });
            QTRY_VERIFY(list && list->isVisible());
            const QString shown = list->property("text").toString();
            QVERIFY2(shown.startsWith(problem), qPrintable(shown));
            QCOMPARE(markedFields(), 0);
            QCOMPARE(deviceByMac(*m_appState->project(), "TANDO/QL3", "00:1a:2b:3c:4d:5e")->newLabel(), "Front");
            QCOMPARE(m_window->title(), QStringLiteral("venue.tgz \u2014 Tando Project Editor"));
            clickButton("Close");
            QTRY_VERIFY(!list->isVisible());
            return;
        }
        QVERIFY(shownWithText(root(), "Changes applied"));
        QVERIFY(shownWithText(root(), "changes.csv: 2 devices"));
        QCOMPARE(markedFields(), 2);
        QVERIFY(shownWithText(root(), "Revert all edits"));
        QCOMPARE(m_window->title(), QStringLiteral("venue.tgz* \u2014 Tando Project Editor"));

        const QString stored = m_dir.filePath("stored.tgz");
        QVERIFY2(m_appState->storeCurrentProject(stored), qPrintable(m_appState->lastError()));
        QCOMPARE(m_window->title(), QStringLiteral("venue.tgz \u2014 stored as stored.tgz \u2014 Tando Project Editor"));
        QStringList expected{"Pit Left 00:1a:2b:00:00:01", "Front 00:1a:2b:3c:4d:99", "Foyer 00:1a:2b:3c:4d:5f"};
        QStringList devices = storedDevices(stored);
        expected.sort();
        devices.sort();
        QCOMPARE(devices, expected);
    }

    // A file that cannot be read is named with why.
    void unreadableChangesFile()
    {
        const QString missing = m_dir.filePath("gone.csv");
        const QStringList problems = m_appState->applyChangesFile(missing);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith("Cannot read " + missing + ": "), qPrintable(problems.first()));
    }

    // The list with the edits, read back by Python's csv module; a file that
    // cannot be written says why and stays until dismissed.
    void exportList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("written");
        QTest::newRow("written") << "list" << "list.csv";
        QTest::newRow("into a file") << "blocker/list.csv" << QString();
    }

    void exportList()
    {
        QFETCH(QString, name);
        QFETCH(QString, written);
        QVERIFY(writeFile(m_dir.filePath("blocker"), "a file, no folder"));
        firstDevice()->setNewLabel("Pit Left");

        DialogAnswerer answerer(typeAndAccept(m_dir.path(), name));
        clickButton("Export list\u2026");
        QVERIFY(answerer.answered && !answerer.forcedClose);
        QCOMPARE(answerer.seen.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(answerer.seen.selectedNameFilter, QStringLiteral("CSV files (*.csv)"));

        if (written.isEmpty()) {
            QVERIFY(shownWithText(root(), "Exporting failed"));
            const QString reason = "Cannot write " + m_dir.filePath(name) + ": ";
            // Laid out at spaces on up to three lines.
            QVERIFY(findItem(root(), [&](QQuickItem *item) {
                return item->isVisible() && item->property("text").toString().replace('\n', ' ').startsWith(reason);
            }));
            QObject *hideTimer = m_window->findChild<QObject *>("outcomeHideTimer");
            QVERIFY(!hideTimer->property("running").toBool());
            return;
        }
        QVERIFY(shownWithText(root(), "Successfully exported"));
        QVERIFY(shownWithText(root(), written));
        const QJsonArray rows = pythonCsvRows(m_dir.filePath(written));
        const QJsonArray expected = QJsonDocument::fromJson(R"([
            ["type", "label", "mac", "new_label", "new_mac"],
            ["KSB12", "Stage Left", "00:1a:2b:00:00:01", "Pit Left", ""],
            ["TANDO/QL3", "Front", "00:1a:2b:3c:4d:5e", "", ""],
            ["TANDO/QL3", "Foyer", "00:1a:2b:3c:4d:5f", "", ""]])")
                                        .array();
        QCOMPARE(rows, expected);
    }

    void cleanupTestCase()
    {
        if (m_appState)
            m_appState->unloadProject();
        m_engine.reset();
    }
};

QTEST_MAIN(TestCsvWindow)
#include "tst_csvwindow.moc"
