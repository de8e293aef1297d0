// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"
#include "windowdriver.h"

#include <QClipboard>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QQuickItem *named(QQuickItem *root, const QString &objectName)
{
    return findItem(root, [&](QQuickItem *item) { return item->objectName() == objectName; });
}

// Each device as a user reads it in a listing: MAC and label.
QStringList listing(ProjectEntity &project)
{
    QStringList lines;
    for (DeviceEntity *device : project.devices()->objectsOfType<DeviceEntity>())
        lines << device->oldMac() + QLatin1Char(' ') + device->oldLabel();
    lines.sort();
    return lines;
}

} // namespace

// The device table in the real window: paste a MAC, find, sort, edit, store, revert.
class TestDeviceTable : public QObject, private WindowDriver
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ProjectFixture m_fixture;

    QQuickItem *table() const { return named(root(), "deviceTable"); }
    QObject *refusal() const
    {
        QQuickItem *list = findItem(root(), [](QQuickItem *item) { return item->property("refusal").isValid(); });
        return list ? list->property("refusal").value<QObject *>() : nullptr;
    }

    // The view row's field ("labelField" or "macField"), scrolled into view.
    QQuickItem *field(int row, const char *which)
    {
        QMetaObject::invokeMethod(table(), "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 3 /* Contain */));
        QQuickItem *rowItem = nullptr;
        QMetaObject::invokeMethod(table(), "itemAtIndex", Q_RETURN_ARG(QQuickItem *, rowItem), Q_ARG(int, row));
        return rowItem ? rowItem->property(which).value<QQuickItem *>() : nullptr;
    }

    DeviceEntity *device(int listRow) const
    {
        return m_appState->project()->devices()->objectsOfType<DeviceEntity>().value(listRow);
    }

    void typeText(const QString &text)
    {
        QTest::keyClick(m_window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m_window, Qt::Key_Backspace);
        for (const QChar c : text)
            QTest::keyClick(m_window, c.toLatin1());
    }

    // Puts text on the clipboard and pastes it into a row's MAC suffix with that key.
    void pasteMac(int row, const QString &text, int key, Qt::KeyboardModifier modifier)
    {
        QGuiApplication::clipboard()->setText(text);
        QQuickItem *mac = field(row, "macField");
        QVERIFY(mac);
        mac->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(m_window, Qt::Key(key), modifier);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        openWindow();
        if (QTest::currentTestFailed())
            return;
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

    void pasteFindSortEditStoreRevert()
    {
        m_fixture.addProjectXml("Main Hall", "Ann", "Spring");
        m_fixture.addTando("00:1a:2b:3c:4d:5e", "Stage Left");
        m_fixture.addTando("00:1a:2b:00:00:01", "Door");
        m_fixture.addTando("0a:0b:0c:0d:0e:0f", "Bar");
        m_fixture.addTando("00:1a:2b:3c:4d:60", "Attic");
        QVERIFY(m_appState->loadProject(m_fixture.makeTgz("hall.tgz")));
        const QStringList loaded = listing(*m_appState->project());
        const QList<DeviceEntity *> devices = m_appState->project()->devices()->objectsOfType<DeviceEntity>();
        const int door = devices.indexOf(deviceByMac(*m_appState->project(), "TANDO/QL3", "00:1a:2b:00:00:01"));
        DeviceEntity *attic = deviceByMac(*m_appState->project(), "TANDO/QL3", "00:1a:2b:3c:4d:60");
        QVERIFY(door >= 0 && attic);

        // A whole MAC with the device's vendor prefix becomes its new MAC.
        pasteMac(door, "00:1A:2B:77:88:99", Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(device(door)->newMac(), QStringLiteral("00:1a:2b:77:88:99"));
        QCOMPARE(field(door, "macField")->property("text").toString(), QStringLiteral("77:88:99"));

        // Another vendor's MAC is refused, says why, and changes nothing.
        pasteMac(door, "11-22-33-44-55-66", Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(device(door)->newMac(), QStringLiteral("00:1a:2b:77:88:99"));
        QCOMPARE(field(door, "macField")->property("text").toString(), QStringLiteral("77:88:99"));
        QVERIFY(refusal()->property("visible").toBool());
        QVERIFY2(refusal()->property("text").toString().contains("only the last three bytes"),
                 qPrintable(refusal()->property("text").toString()));

        // Find by a MAC written without separators, then sort by label.
        QTest::keyClick(m_window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(named(root(), "deviceSearch")->hasActiveFocus());
        typeText("3c4d");
        QTRY_COMPARE(table()->property("count").toInt(), 2);
        QVERIFY(findItem(root(), [](QQuickItem *i) { return i->isVisible() && i->property("text") == "2 of 4 devices"; }));
        table()->setProperty("contentX", 0); // the window may be narrower than the table
        click(findItem(table(), [](QQuickItem *i) { return i->property("text") == "Label"; }));
        QTRY_VERIFY(findItem(table(), [](QQuickItem *i) { return i->property("text") == QString::fromUtf8("Label \u25B2"); }));

        // The first row shown is Attic: edit it and store.
        QQuickItem *atticLabel = field(0, "labelField");
        QCOMPARE(atticLabel->property("text").toString(), QStringLiteral("Attic"));
        atticLabel->forceActiveFocus(Qt::TabFocusReason);
        typeText("Loft");
        QCOMPARE(attic->newLabel(), QStringLiteral("Loft"));
        const QString stored = m_dir.filePath("stored.tgz");
        QVERIFY2(m_appState->storeCurrentProject(stored), qPrintable(m_appState->lastError()));

        ProjectEntity reloaded;
        QVERIFY(Workspace::loadProject(reloaded, stored));
        QStringList expected = loaded;
        expected.replaceInStrings("00:1a:2b:3c:4d:60 Attic", "00:1a:2b:3c:4d:60 Loft");
        expected.replaceInStrings("00:1a:2b:00:00:01 Door", "00:1a:2b:77:88:99 Door");
        expected.sort();
        QCOMPARE(listing(reloaded), expected);

        // The row's revert control gives back the label as loaded.
        QQuickItem *rowItem = atticLabel->parentItem();
        table()->setProperty("contentX", table()->property("contentWidth").toReal() - table()->width());
        QQuickItem *revert = findItem(rowItem, [](QQuickItem *i) { return i->property("text") == QString::fromUtf8("\u21BA"); });
        click(revert);
        QCOMPARE(attic->newLabel(), QStringLiteral("Attic"));
        QVERIFY(!revert->isVisible());
        QCOMPARE(device(door)->newMac(), QStringLiteral("00:1a:2b:77:88:99"));

        // A search that finds nothing says so; Escape or the field's × clears it.
        QQuickItem *search = named(root(), "deviceSearch");
        QQuickItem *clear = named(root(), "clearSearch");
        for (const bool byEscape : {true, false}) {
            QTest::keyClick(m_window, Qt::Key_F, Qt::ControlModifier);
            typeText("xyz");
            QTRY_COMPARE(table()->property("count").toInt(), 0);
            QVERIFY(shownWithText(root(), QStringLiteral("No device matches \u201cxyz\u201d")));
            if (byEscape)
                QTest::keyClick(m_window, Qt::Key_Escape);
            else
                click(clear);
            QCOMPARE(search->property("text").toString(), QString());
            QTRY_COMPARE(table()->property("count").toInt(), 4);
            QVERIFY(!clear->isVisible());
            QVERIFY(!named(root(), "noMatch")->isVisible());
        }

        // "Edited only" shows the re-addressed Door alone, also with a search.
        const auto summaryShown = [this](const QString &text) { return shownWithText(root(), text) != nullptr; };
        click(named(root(), "editedOnly"));
        QTRY_COMPARE(table()->property("count").toInt(), 1);
        QCOMPARE(field(0, "macField")->property("text").toString(), QStringLiteral("77:88:99"));
        QVERIFY(summaryShown("1 of 4 devices, 1 edited"));
        QTest::keyClick(m_window, Qt::Key_F, Qt::ControlModifier);
        typeText("attic");
        QTRY_VERIFY(shownWithText(root(), QStringLiteral("No edited device matches \u201cattic\u201d")));
        QVERIFY(summaryShown("0 of 4 devices, 1 edited"));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTest::keyClick(m_window, Qt::Key_E, Qt::ControlModifier);
        QTRY_COMPARE(table()->property("count").toInt(), 4);
        QVERIFY(summaryShown("4 devices"));
    }

    // Tab and Shift+Tab select a field's value, so that typing replaces it,
    // also in a row the table scrolls to; a click places the cursor.
    void tabThenTypeReplaces()
    {
        ProjectFixture fixture;
        fixture.addProjectXml("Long Hall", "Ann", "Spring");
        for (int i = 1; i <= 30; ++i)
            fixture.addTando(QString::asprintf("00:1a:2b:00:00:%02x", i), QString::asprintf("Unit %02d", i));
        QVERIFY(m_appState->loadProject(fixture.makeTgz("long.tgz")));
        ProjectEntity &project = *m_appState->project();
        auto typed = [this](const QString &text) {
            for (const QChar c : text)
                QTest::keyClick(m_window, c.toLatin1());
        };
        QTest::keyClick(m_window, Qt::Key_F, Qt::ControlModifier);
        typeText(QString()); // the search of an earlier journey shows every row again
        QTRY_COMPARE(table()->property("count").toInt(), 30);

        QTest::keyClick(m_window, Qt::Key_Backtab);
        typed("Winter");
        QCOMPARE(project.description(), QStringLiteral("Winter"));
        QTest::keyClick(m_window, Qt::Key_Tab); // the search field
        QTest::keyClick(m_window, Qt::Key_Tab);
        typed("Alpha");
        QTest::keyClick(m_window, Qt::Key_Tab);
        typed("abcdef");
        QCOMPARE(deviceByMac(project, "TANDO/QL3", "00:1a:2b:00:00:01")->newLabel(), QStringLiteral("Alpha"));
        QCOMPARE(deviceByMac(project, "TANDO/QL3", "00:1a:2b:00:00:01")->newMac(), QStringLiteral("00:1a:2b:ab:cd:ef"));
        QVERIFY(!refusal()->property("visible").toBool());

        // On to row 20, out of view until the table scrolls to it.
        const qreal top = table()->property("contentY").toReal();
        for (int i = 0; i < 2 * 19 - 1; ++i)
            QTest::keyClick(m_window, Qt::Key_Tab);
        QVERIFY(table()->property("contentY").toReal() > top);
        typed("Omega");
        QTest::keyClick(m_window, Qt::Key_Tab);
        typed("012345");
        QTest::keyClick(m_window, Qt::Key_Backtab);
        typed("Psi");
        DeviceEntity *twentieth = deviceByMac(project, "TANDO/QL3", "00:1a:2b:00:00:14");
        QCOMPARE(twentieth->newLabel(), QStringLiteral("Psi"));
        QCOMPARE(twentieth->newMac(), QStringLiteral("00:1a:2b:01:23:45"));
        QCOMPARE(field(19, "macField")->property("text").toString(), QStringLiteral("01:23:45"));

        QQuickItem *label = field(19, "labelField");
        QCOMPARE(label->property("text").toString(), QStringLiteral("Psi"));
        QTest::keyClick(m_window, Qt::Key_Tab);
        click(label);
        QVERIFY(label->hasActiveFocus());
        QCOMPARE(label->property("selectedText").toString(), QString());
        typed("x");
        QCOMPARE(twentieth->newLabel(), QStringLiteral("Psix"));
    }

    // The Menu key and Shift+F10 open a field's revert entries below it, the
    // first one that can be chosen highlighted; the field has the keyboard
    // again afterwards.
    void revertByKeyboard()
    {
        ProjectFixture fixture;
        fixture.addProjectXml("Main Hall", "Ann", "Spring");
        fixture.addTando("00:1a:2b:3c:4d:5e", "Stage Left");
        fixture.addTando("00:1a:2b:3c:4d:5f", "Door");
        QVERIFY(m_appState->loadProject(fixture.makeTgz("menu.tgz")));
        QQuickItem *label = field(0, "labelField");
        QVERIFY(label);
        DeviceEntity *first = label->parentItem()->property("device").value<DeviceEntity *>();
        QVERIFY(first);
        auto typed = [this](const QString &text) {
            for (const QChar c : text)
                QTest::keyClick(m_window, c.toLatin1());
        };
        auto menuEntry = [this](const QString &text) {
            return findItem(root(), [&](QQuickItem *item) {
                return item->isVisible() && item->property("text").toString() == text
                       && item->property("highlighted").isValid();
            });
        };

        label->forceActiveFocus(Qt::TabFocusReason);
        typed("Pit");
        QTest::keyClick(m_window, Qt::Key_Menu);
        QQuickItem *entry = nullptr;
        QTRY_VERIFY(entry = menuEntry("Revert label"));
        QVERIFY(entry->property("highlighted").toBool());
        QVERIFY(entry->mapToScene(QPointF(0, 0)).y() >= label->mapToScene(QPointF(0, label->height())).y() - 1);
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE(first->newLabel(), first->oldLabel());
        QTRY_COMPARE(m_window->activeFocusItem(), label);

        QTest::keyClick(m_window, Qt::Key_Tab);
        typed("abcdef");
        QTest::keyClick(m_window, Qt::Key_Backtab);
        typed("Pit");
        QTest::keyClick(m_window, Qt::Key_Tab);
        QTest::keyClick(m_window, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(menuEntry("Revert MAC"));
        QTest::keyClick(m_window, Qt::Key_Down);
        QTRY_VERIFY(menuEntry("Revert row")->property("highlighted").toBool());
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE(first->newMac(), first->oldMac());
        QCOMPARE(first->newLabel(), first->oldLabel());
        QTRY_COMPARE(m_window->activeFocusItem(), field(0, "macField"));

        // A setting: its value as loaded; with nothing to revert, Escape.
        QQuickItem *name = settingField("Name");
        typeInto(name, "Renamed");
        QTest::keyClick(m_window, Qt::Key_Menu);
        QTRY_VERIFY(entry = menuEntry("Revert name"));
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE(m_appState->project()->name(), QStringLiteral("Main Hall"));
        QCOMPARE(name->property("text").toString(), QStringLiteral("Main Hall"));
        QTRY_COMPARE(m_window->activeFocusItem(), name);
        QTest::keyClick(m_window, Qt::Key_Menu);
        QTRY_VERIFY(entry = menuEntry("Revert name"));
        QVERIFY(!entry->isEnabled());
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!menuEntry("Revert name"));
        QTRY_COMPARE(m_window->activeFocusItem(), name);
        QVERIFY(!m_appState->modified());
    }

    void cleanupTestCase()
    {
        m_appState->unloadProject();
        m_engine.reset();
    }
};

QTEST_MAIN(TestDeviceTable)
#include "tst_devicetable.moc"
