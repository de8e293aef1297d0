// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialoganswerer.h"
#include "startup.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QQmlApplicationEngine>
#include <QScreen>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

class TestWindow : public QObject, private WindowDriver
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sample;

    // The tool tips of the badges the device table shows, sorted.
    QStringList badges() const
    {
        QStringList texts;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->isVisible() && item->property("signtext").isValid())
                texts << item->property("text").toString();
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(findItem(root(), [](QQuickItem *item) { return item->objectName() == "deviceTable"; }));
        texts.sort();
        return texts;
    }

    // The New MAC field of the row that shows this device.
    QQuickItem *macFieldOf(const DeviceEntity *device) const
    {
        QQuickItem *row = findItem(root(), [&](QQuickItem *item) {
            return item->property("macField").isValid() && item->property("device").value<QObject *>() == device;
        });
        return row ? row->property("macField").value<QQuickItem *>() : nullptr;
    }

    // The running job's first progress report waits (up to 30 s) for release.
    void holdFirstReport(std::atomic<bool> &hold, QSemaphore &reached, QSemaphore &release)
    {
        m_appState->setJobObserver([&](JobControl::Phase, qint64, qint64) {
            if (hold.exchange(false)) {
                reached.release();
                release.tryAcquire(1, 30000);
            }
        });
    }

    // Stores to target through the dialog. The store is held at its first
    // progress report while steps act as the user, then goes on.
    void storeHeld(const QString &target, const std::function<void()> &steps)
    {
        QSemaphore reached, release;
        std::atomic<bool> hold{true};
        holdFirstReport(hold, reached, release);
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (!reached.tryAcquire())
                return;
            user.stop();
            steps();
            release.release();
        });
        user.start(10);
        DialogAnswerer answerer(typeAndAccept(m_dir.path(), target));
        clickStore();
        m_appState->setJobObserver(nullptr);
        QVERIFY(answerer.answered);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        m_sample = sampleProject(m_dir.path(), "sample.tgz");
        QVERIFY(!m_sample.isEmpty());

        openWindow();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(m_window->title(), QStringLiteral("Tando Project Editor"));
        // 1040×960 where the screen has room, else 90 % of the room there is.
        const QSize room = m_window->screen()->availableSize();
        QCOMPARE(m_window->size(), QSize(qMin(1040, room.width() * 9 / 10), qMin(960, room.height() * 9 / 10)));
    }

    void init()
    {
        // Shortcuts (Ctrl+O, Ctrl+S, Escape) go to the active window only;
        // a dialog of an earlier journey took that.
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        m_appState->unloadProject();
        QVERIFY(startScreenShown());
    }

    void hoverOverlay_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<bool>("textOnly");
        QTest::addColumn<QString>("color");
        QTest::addColumn<QString>("caption");

        const QString refused = QStringLiteral("Please drop a single project archive (.tgz or .tar)");
        QTest::newRow("one .tgz, a name with escapes") << QStringList{"/data/my show#1.tgz"} << false << "#064bc0" << "Drop to load my show#1.tgz";
        QTest::newRow("upper-case .TGZ") << QStringList{"/data/SHOW.TGZ"} << false << "#064bc0" << "Drop to load SHOW.TGZ";
        QTest::newRow(".Tar.Gz") << QStringList{"/data/show.Tar.Gz"} << false << "#064bc0" << "Drop to load show.Tar.Gz";
        QTest::newRow(".tar") << QStringList{"/data/show.tar"} << false << "#064bc0" << "Drop to load show.tar";
        QTest::newRow(".zip") << QStringList{"/data/show.zip"} << false << "#ff0000" << refused;
        QTest::newRow("two archives") << QStringList{"/data/a.tgz", "/data/b.tgz"} << false << "#ff0000" << refused;
        // Text is left to the fields below; the window shows nothing for it.
        QTest::newRow("plain text") << QStringList() << true << QString() << QString();
    }

    void hoverOverlay()
    {
        QFETCH(QStringList, paths);
        QFETCH(bool, textOnly);
        QFETCH(QString, color);
        QFETCH(QString, caption);

        std::unique_ptr<QMimeData> mime = urls(paths);
        if (textOnly) {
            mime = std::make_unique<QMimeData>();
            mime->setText("just text");
        }
        QVERIFY(!overlay()->isVisible());
        enter(mime.get());
        QCOMPARE(overlay()->isVisible(), !caption.isEmpty());
        if (!caption.isEmpty()) {
            QCOMPARE(overlay()->property("color").value<QColor>().name(), color);
            QCOMPARE(overlayText(), caption);
        }
        leave();
        QVERIFY(!overlay()->isVisible());
    }

    // A MAC dropped as text on a New MAC field goes to that device.
    void textDropReachesTheMacField()
    {
        // Wide enough for the whole table, which scrolls in a narrower window.
        const QSize before = m_window->size();
        m_window->resize(1400, before.height());
        QVERIFY(m_appState->loadProject(m_sample));
        QQuickItem *macField = nullptr;
        // The table makes its rows at the next frame.
        QTRY_VERIFY(macField = findItem(root(), [](QQuickItem *item) {
                        return item->isVisible() && item->property("wholeMac").isValid();
                    }));
        QMimeData mime;
        mime.setText("00:1a:2b:00:00:99");
        drop(&mime, macField->mapToScene(QPointF(macField->width() / 2, macField->height() / 2)).toPoint());
        const QList<DeviceEntity *> devices = m_appState->project()->devices()->objectsOfType<DeviceEntity>();
        QCOMPARE(std::count_if(devices.begin(), devices.end(),
                               [](const DeviceEntity *d) { return d->newMac() == "00:1a:2b:00:00:99"; }),
                 1);
        QVERIFY(!overlay()->isVisible());
        m_window->resize(before);
    }

    void refusedDropChangesNothing()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        m_appState->project()->setName("Edited");
        const auto two = urls({m_sample, m_sample});
        drop(two.get());
        QVERIFY(m_appState->project()->loaded());
        QCOMPARE(m_appState->project()->name(), QStringLiteral("Edited")); // not loaded again
        QVERIFY(!overlay()->isVisible());
    }

    void dropLoadsAndReplaces()
    {
        const auto one = urls({m_sample});
        drop(one.get());
        QTRY_VERIFY(m_appState->project()->loaded());
        QVERIFY(projectScreenShown());
        QVERIFY(!startScreenShown());
        QVERIFY(!overlay()->isVisible());
        QCOMPARE(m_appState->project()->devices()->count(), 5);
        QVERIFY(itemWithText(root(), "Main Hall"));

        // A second drop while loaded unloads first: the list is not appended to.
        drop(one.get());
        QCOMPARE(m_appState->project()->devices()->count(), 5);

        QVERIFY(QMetaObject::invokeMethod(itemWithText(root(), "Unload Project"), "clicked"));
        QVERIFY(!m_appState->project()->loaded());
        QVERIFY(startScreenShown());
    }

    void dropOfAnAwkwardName()
    {
        const QString awkward = m_dir.filePath("my show #2 100%.tgz");
        QVERIFY(QFile::copy(m_sample, awkward));
        const auto one = urls({awkward});
        drop(one.get());
        QVERIFY(m_appState->project()->loaded());
        QCOMPARE(m_appState->project()->devices()->count(), 5);
    }

    void invalidMacBlocksTheStore()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        firstDevice()->setNewMac("00:1a:2b:zz:00:01");
        DialogAnswerer answerer(cancel);
        clickStore();
        QVERIFY(!answerer.answered); // no dialog came up
        QQuickItem *message = itemWithText(root(), "Invalid settings detected!");
        QVERIFY(message);
        QVERIFY(message->isVisible());
        QCOMPARE(message->property("color").value<QColor>().name(), QStringLiteral("#ba2d25"));
        QCOMPARE(firstDevice()->issue(), QStringLiteral("This is not a valid MAC"));
    }

    // Once a store found problems, the badges, their tool tips, "Next
    // problem" and the message follow every edit and revert.
    void badgesFollowTheValues()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        const QList<DeviceEntity *> devices = m_appState->project()->devices()->objectsOfType<DeviceEntity>();
        for (const int row : {0, 3, 4})
            devices.at(row)->setNewMac("00:1a:2b:00:00:99");
        DialogAnswerer answerer(cancel);
        QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!answerer.answered);
        const QString taken = QStringLiteral("This MAC address is already assigned \u2014 row %1 has it first");
        QTRY_COMPARE(badges(), QStringList({taken.arg(1), taken.arg(1)}));
        QVERIFY(shownWithText(root(), "Invalid settings detected!") && shownWithText(root(), "(2 devices)"));
        QVERIFY(shownWithText(root(), "Next problem"));

        devices.at(0)->revert(); // as its row's revert control does
        QTRY_COMPARE(badges(), QStringList{taken.arg(4)});
        QVERIFY(shownWithText(root(), "(1 device)"));

        typeInto(macFieldOf(devices.at(3)), "3c4d77");
        QCOMPARE(devices.at(3)->newMac(), QStringLiteral("00:1a:2b:3c:4d:77"));
        QTRY_COMPARE(badges(), QStringList());
        QVERIFY(!shownWithText(root(), "Invalid settings detected!"));
        QVERIFY(!shownWithText(root(), "Next problem"));
    }

    // The dialog opens beside the opened archive, then where the last store
    // went; the outcome names the stored file.
    void storeThroughTheDialog()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        firstDevice()->setNewMac("00:1a:2b:00:00:99");
        const QString exports = m_dir.filePath("exports");
        QVERIFY(QDir().mkpath(exports));
        QString openedIn;
        DialogAnswerer first([&](QFileDialog *dialog, QLineEdit *name) {
            openedIn = dialog->directory().absolutePath();
            typeAndAccept(exports, "stored")(dialog, name);
        });
        clickStore();
        QCOMPARE(openedIn, QFileInfo(m_sample).absolutePath());
        QVERIFY(QFileInfo(exports + "/stored.tgz").isFile());
        QVERIFY(!itemWithText(root(), "Invalid settings detected!")); // cleared by a valid attempt

        QQuickItem *outcome = itemWithText(root(), "Successfully saved");
        QVERIFY(outcome && outcome->isVisible());
        QCOMPARE(colorOf(outcome), QStringLiteral("#008000"));
        QVERIFY(shownWithText(root(), "stored.tgz"));
        QTRY_VERIFY_WITH_TIMEOUT(!outcome->isVisible(), 10000);

        DialogAnswerer second([&](QFileDialog *dialog, QLineEdit *name) {
            openedIn = dialog->directory().absolutePath();
            cancel(dialog, name);
        });
        clickStore();
        QVERIFY(second.answered);
        QCOMPARE(openedIn, exports);
    }

    // Escape in the save dialog goes back to the project and to the field in
    // use, without a word.
    void escapeInTheSaveDialogShowsNothing()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        typeInto(settingField("Author"), "Bo");
        DialogAnswerer answerer([](QFileDialog *dialog, QLineEdit *) { QTest::keyClick(dialog, Qt::Key_Escape); });
        QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(answerer.answered);
        QVERIFY(!answerer.forcedClose);
        QVERIFY(!shownWithText(root(), "Saving failed"));
        QVERIFY(!shownWithText(root(), "Cancelled"));
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz* \u2014 Tando Project Editor"));
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_window);
        QTRY_COMPARE(m_window->activeFocusItem(), settingField("Author"));
    }

    // A file that is no archive, opened over a project with edits: the
    // project stays as it was, and the reason stays until dismissed.
    void failedOpenKeepsTheProject()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        typeInto(settingField("Name"), "Kept");
        const QString broken = m_dir.filePath("BROKEN.TGZ");
        QVERIFY(writeFile(broken, "not an archive"));
        const auto one = urls({broken});
        drop(one.get());
        QTRY_VERIFY(unsavedQuestion());
        click(shownWithText(root(), "Discard"));

        QTRY_VERIFY(shownWithText(root(), "Loading failed"));
        QCOMPARE(m_appState->project()->devices()->count(), 5);
        QCOMPARE(settingField("Name")->property("text").toString(), QStringLiteral("Kept"));
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz* \u2014 Tando Project Editor"));
        QQuickItem *reason = findItem(root(), [](QQuickItem *item) { return item->objectName() == "outcomeDetail"; });
        QVERIFY(reason && reason->isVisible());
        QCOMPARE(reason->property("text").toString().replace('\n', ' '), m_appState->lastError());
        QCOMPARE(colorOf(reason), QStringLiteral("#ba2d25"));
        QVERIFY2(m_appState->lastError().count(broken) == 1 && !m_appState->lastError().contains("archive_"),
                 qPrintable(m_appState->lastError()));
        // Nothing hides it but the user.
        QObject *hideTimer = m_window->findChild<QObject *>("outcomeHideTimer");
        QVERIFY(hideTimer);
        QVERIFY(!hideTimer->property("running").toBool());
        click(shownWithText(root(), "\u2715"));
        QVERIFY(!shownWithText(root(), "Loading failed"));
    }

    // Space on the focused "Choose file" opens the dialog. When the window has
    // the focus back after the load, the hidden button neither holds it nor
    // reacts to Space.
    void keysReachOnlyTheShownScreen()
    {
        QQuickItem *choose = itemWithText(root(), "Choose file");
        choose->forceActiveFocus(Qt::TabFocusReason);
        {
            DialogAnswerer answerer(typeAndAccept(m_dir.path(), m_sample));
            QTest::keyClick(m_window, Qt::Key_Space);
            QTRY_VERIFY(m_appState->project()->loaded());
            QCOMPARE(answerer.seen.nameFilters, QStringList({"Tando Projectfiles (*.tgz)", "Project archives (*.tgz *.tar.gz *.tar)",
                                                             "All files (*)"}));
            QCOMPARE(answerer.seen.selectedNameFilter, QStringLiteral("Tando Projectfiles (*.tgz)"));
        }
        m_window->requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_window);
        QVERIFY(!choose->hasActiveFocus());
        firstDevice()->setNewLabel("Edited");
        DialogAnswerer answerer(cancel);
        QTest::keyClick(m_window, Qt::Key_Space);
        QTest::qWait(300);
        QVERIFY(!answerer.answered);
        QVERIFY(m_appState->project()->loaded());
        QCOMPARE(m_appState->project()->devices()->count(), 5);
        QCOMPARE(firstDevice()->newLabel(), QStringLiteral("Edited"));
    }

    // Ctrl+O over a loaded project: the table shows the second archive only.
    void openingReplacesTheProject()
    {
        const QString other = otherProject();
        QVERIFY(m_appState->loadProject(m_sample));
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz \u2014 Tando Project Editor"));
        DialogAnswerer answerer(typeAndAccept(m_dir.path(), other));
        QTest::keyClick(m_window, Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE(m_appState->project()->devices()->count(), 1);
        QTRY_VERIFY(shownWithText(root(), "Side"));
        QVERIFY(!shownWithText(root(), "Stage Left"));
        QCOMPARE(settingField("Name")->property("text").toString(), QStringLiteral("Side Stage"));
        QCOMPARE(m_window->title(), QStringLiteral("other.tgz \u2014 Tando Project Editor"));
    }

    // Clearing a value is an edit like any other: stored, and read back empty.
    void clearedDescriptionIsStored()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        typeInto(settingField("Description"), QString());
        QCOMPARE(m_appState->project()->description(), QString());
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz* \u2014 Tando Project Editor"));
        {
            DialogAnswerer answerer(typeAndAccept(m_dir.path(), "cleared"));
            QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
            QVERIFY(answerer.answered);
        }
        QVERIFY2(shownWithText(root(), "Successfully saved"), qPrintable(m_appState->lastError()));
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz \u2014 stored as cleared.tgz \u2014 Tando Project Editor"));
        typeInto(settingField("Description"), "Later");
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz* \u2014 stored as cleared.tgz \u2014 Tando Project Editor"));

        QVERIFY(m_appState->loadProject(m_dir.filePath("cleared.tgz")));
        QCOMPARE(settingField("Description")->property("text").toString(), QString());
        QCOMPARE(settingField("Name")->property("text").toString(), QStringLiteral("Main Hall"));
    }

    // A file that is no archive: the start screen says why.
    void failedLoadShowsItsReason()
    {
        const QString broken = m_dir.filePath("broken.tgz");
        QVERIFY(writeFile(broken, "not an archive"));
        const auto one = urls({broken});
        drop(one.get());
        QVERIFY(!m_appState->project()->loaded());
        QVERIFY(!m_appState->lastError().isEmpty());
        QVERIFY(startScreenShown());
        QVERIFY(shownWithText(root(), m_appState->lastError()));
    }

    // Every edit, including a refused MAC, goes back as loaded; the title
    // follows, and the control is offered only while there are edits.
    // Ctrl+Z takes back a typed label, a revert of everything and an applied
    // changes file, a step each; Ctrl+Shift+Z and Ctrl+Y do them again, and
    // the title's "*" follows.
    void undoAndRedo()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        const QString clean = QStringLiteral("sample.tgz \u2014 Tando Project Editor");
        const QList<DeviceEntity *> devices = m_appState->project()->deviceEntities();
        const auto labels = [&] {
            QStringList shown;
            for (const DeviceEntity *device : devices)
                shown << device->newLabel();
            return shown.join(',');
        };
        const QString loaded = labels();
        QQuickItem *field = nullptr;
        QTRY_VERIFY(field = findItem(root(), [](QQuickItem *item) {
                        return item->property("maximumLength").toInt() == 16 && item->property("text") == "Front";
                    }));
        typeInto(field, "Pit");
        const QString typed = QString(loaded).replace("Front", "Pit");
        QTRY_COMPARE(labels(), typed);
        QVERIFY(m_window->title().contains('*'));
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers, const QString &expected) {
            QTest::keyClick(m_window, k, modifiers);
            QTRY_COMPARE(labels(), expected);
        };
        key(Qt::Key_Z, Qt::ControlModifier, loaded);
        QCOMPARE(m_window->title(), clean);
        QCOMPARE(field->property("text").toString(), QStringLiteral("Front"));
        key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, typed);

        click(itemWithText(root(), "Revert all edits"));
        QTRY_COMPARE(labels(), loaded);
        key(Qt::Key_Z, Qt::ControlModifier, typed);

        const QString changes = m_dir.filePath("undo.csv");
        QVERIFY(writeFile(changes, "mac,new_label\n00:1a:2b:3c:4d:5f,Desk\n00:1a:2b:3c:4d:60,Roof\n"));
        QVERIFY(m_appState->applyChangesFile(changes).isEmpty());
        const QString applied = QString(typed).replace("Foyer", "Desk").replace("Balcony", "Roof");
        QCOMPARE(labels(), applied);
        key(Qt::Key_Z, Qt::ControlModifier, typed);
        key(Qt::Key_Y, Qt::ControlModifier, applied);
        key(Qt::Key_Z, Qt::ControlModifier, typed);
        key(Qt::Key_Z, Qt::ControlModifier, loaded);
        QCOMPARE(m_window->title(), clean);
        QVERIFY(!m_appState->history()->canUndo());
    }

    void revertAllEdits()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        QQuickItem *revert = itemWithText(root(), "Revert all edits");
        QVERIFY(!revert->isVisible());
        typeInto(settingField("Description"), "Winter");
        firstDevice()->setNewLabel("Pit");
        firstDevice()->setNewMac("00:1a:2b:zz:00:01");
        clickStore();
        QCOMPARE(firstDevice()->issue(), QStringLiteral("This is not a valid MAC"));
        QVERIFY(revert->isVisible());

        click(revert);
        QCOMPARE(m_appState->project()->description(), QStringLiteral("Spring show, stage and foyer"));
        QCOMPARE(firstDevice()->newLabel(), QStringLiteral("Stage Left"));
        QCOMPARE(firstDevice()->newMac(), QStringLiteral("00:1a:2b:00:00:01"));
        QCOMPARE(firstDevice()->issue(), QString());
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz \u2014 Tando Project Editor"));
        QVERIFY(!revert->isVisible());
        QVERIFY(!shownWithText(root(), "Invalid settings detected!"));
    }

    // On a 1024×768 screen the window fits, with every column of the table up
    // to a row's revert button and badge in view without sideways
    // scrolling; there and at the window's least size, so do the action
    // bar's buttons.
    void fitsASmallScreen()
    {
        const QSize before = m_window->size();
        QCOMPARE(fittedSize(1024, 768), QSize(921, 691));
        QCOMPARE(fittedSize(1920, 1080), QSize(1040, 960));
        QVERIFY(m_appState->loadProject(m_sample));
        typeInto(settingField("Name"), "Edited"); // all buttons shown
        firstDevice()->setNewMac("00:1a:2b:zz:00:01");
        clickStore(); // the row gets its badge
        m_window->resize(fittedSize(1024, 768));
        QQuickItem *table = findItem(root(), [](QQuickItem *item) { return item->objectName() == "deviceTable"; });
        // The view makes its rows for the project loaded here by the next frame.
        const auto firstRow = [&] {
            QQuickItem *row = nullptr;
            QMetaObject::invokeMethod(table, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0));
            return row && row->property("device").value<DeviceEntity *>() == firstDevice() ? row : nullptr;
        };
        QTRY_VERIFY(firstRow());
        QQuickItem *row = firstRow();
        const QList<QQuickItem *> cells{
            shownWithText(table, "New MAC"), row->property("macField").value<QQuickItem *>(),
            findItem(row, [](QQuickItem *i) { return i->isVisible() && i->property("text") == QString::fromUtf8("\u21BA"); }),
            findItem(row, [](QQuickItem *i) { return i->isVisible() && i->property("signtext").isValid(); })};
        QTRY_COMPARE(table->width(), m_window->width() - table->mapToScene(QPointF(0, 0)).x());
        const QRectF shown = table->mapRectToScene(table->boundingRect());
        for (QQuickItem *cell : cells) {
            QVERIFY(cell);
            QVERIFY2(shown.contains(cell->mapRectToScene(cell->boundingRect())), qPrintable(cell->objectName()));
        }
        QVERIFY(table->property("contentWidth").toReal() <= table->width());

        for (const QSize size : {fittedSize(1024, 768), m_window->minimumSize()}) {
            m_window->resize(size);
            const QRectF window(QPointF(0, 0), size);
            for (const char *caption : {"Revert all edits", "Unload Project", "Apply changes\u2026", "Export list\u2026",
                                        "Store Project", "About"}) {
                QQuickItem *button = shownWithText(root(), QString::fromUtf8(caption));
                QVERIFY2(button, caption);
                QTRY_VERIFY2(window.contains(button->mapRectToScene(button->boundingRect())), caption);
                QVERIFY2(!button->property("contentItem").value<QQuickItem *>()->property("truncated").toBool(), caption);
            }
        }
        m_window->resize(before);
    }

    // The keyboard stays where the user works: on Name after a load (all
    // values from their start), and back on the field in use after About and
    // the unsaved-edits question, which Ctrl+W and Ctrl+Q both ask.
    void keyboardJourney()
    {
        const auto one = urls({m_sample});
        drop(one.get());
        QTRY_COMPARE(m_window->activeFocusItem(), settingField("Name"));
        QCOMPARE(settingField("Description")->property("cursorPosition").toInt(), 0);

        QTest::keyClick(m_window, Qt::Key_F1);
        QTRY_VERIFY(shownWithText(root(), "Licence GPL-3.0-or-later: GNU General Public License, version 3 or later.\n"
                                          "This is free software: you are free to change and redistribute it.\n"
                                          "There is NO WARRANTY, to the extent permitted by law.\n"
                                          "The licence text is in /usr/share/common-licenses/GPL-3 on Debian; the\n"
                                          "package's copyright file is /usr/share/doc/tando-project-editor/copyright."));
        QVERIFY(shownWithText(root(), "Version " + m_appState->version()));
        QVERIFY(shownWithText(root(), "Manual page: man tando-project-editor"));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_COMPARE(m_window->activeFocusItem(), settingField("Name"));

        typeInto(settingField("Author"), "Cy");
        for (const Qt::Key key : {Qt::Key_W, Qt::Key_Q}) {
            QTest::keyClick(m_window, key, Qt::ControlModifier);
            QTRY_VERIFY(unsavedQuestion());
            QTest::keyClick(m_window, Qt::Key_Escape);
            QTRY_VERIFY(!unsavedQuestion());
            QCOMPARE(m_window->activeFocusItem(), settingField("Author"));
            QVERIFY(m_window->isVisible());
        }
        QTest::keyClick(m_window, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(unsavedQuestion());
        click(shownWithText(root(), "Discard"));
        QTRY_VERIFY(startScreenShown());
    }

    // Unload, a drop and closing ask first when there are edits, and only then;
    // the answer is kept to: cancel, discard, or store and go on.
    void unsavedEditsAreAskedFor_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::newRow("no edit") << false;
        QTest::newRow("name typed") << true;
    }

    void unsavedEditsAreAskedFor()
    {
        QFETCH(bool, edited);
        QVERIFY(m_appState->loadProject(m_sample));
        if (edited)
            typeInto(settingField("Name"), "Main Hall 2");
        click(itemWithText(root(), "Unload Project"));
        if (!edited) {
            QVERIFY(!unsavedQuestion());
            QVERIFY(startScreenShown());
            return;
        }
        QTRY_VERIFY(unsavedQuestion());
        click(shownWithText(root(), "Cancel"));
        QTRY_VERIFY(!unsavedQuestion());
        QCOMPARE(m_appState->project()->name(), QStringLiteral("Main Hall 2"));

        m_window->close();
        QTRY_VERIFY(unsavedQuestion());
        QVERIFY(m_window->isVisible());
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!unsavedQuestion());

        const auto other = urls({otherProject()});
        drop(other.get());
        QTRY_VERIFY(unsavedQuestion());
        QCOMPARE(m_appState->project()->devices()->count(), 5);
        click(shownWithText(root(), "Discard"));
        QTRY_COMPARE(m_appState->project()->devices()->count(), 1);

        typeInto(settingField("Name"), "Side Stage 2");
        click(itemWithText(root(), "Unload Project"));
        QTRY_VERIFY(unsavedQuestion());
        DialogAnswerer answerer(typeAndAccept(m_dir.path(), "kept"));
        click(shownWithText(root(), "Store\u2026"));
        QVERIFY(answerer.answered);
        QTRY_VERIFY(startScreenShown());
        QVERIFY(QFileInfo(m_dir.filePath("kept.tgz")).isFile());
        QCOMPARE(m_window->title(), QStringLiteral("Tando Project Editor"));
    }

    // Long work runs beside the window: an overlay shows its phase and
    // progress and offers Cancel; closing meanwhile cancels first. No job
    // writes to the temporary directory. Each job is held at its first
    // progress report while the test acts as the user.
    void longWorkShowsProgressAndCancels_data()
    {
        QTest::addColumn<QString>("journey");
        QTest::newRow("load to the end") << "load";
        QTest::newRow("cancelled load") << "cancel load";
        QTest::newRow("cancelled store") << "cancel store";
        QTest::newRow("closed during a load") << "close";
    }

    void longWorkShowsProgressAndCancels()
    {
        QFETCH(QString, journey);
        const QString target = m_dir.filePath("job-target.tgz");
        QVERIFY(writeFile(target, "old archive"));
        if (journey == "cancel store") {
            QVERIFY(m_appState->loadProject(m_sample));
            typeInto(settingField("Name"), "Renamed");
        } else if (journey == "cancel load") {
            QVERIFY(m_appState->loadProject(otherProject()));
        }
        TemporaryDirWatch tmp(m_dir.filePath("tmp"));

        QSemaphore reached, release;
        std::atomic<bool> hold{true};
        holdFirstReport(hold, reached, release);
        double furthest = 0;
        connect(m_appState, &AppState::jobProgressChanged, this, [&] {
            if (m_appState->busy())
                furthest = qMax(furthest, m_appState->jobProgress());
        });
        // Polled rather than waited for: the save dialog's loop may run first.
        bool overlayShown = false;
        QString phaseShown;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            if (!reached.tryAcquire())
                return;
            user.stop();
            QTRY_VERIFY_WITH_TIMEOUT(overlayShown = shownWithText(root(), "Cancel") != nullptr, 5000);
            phaseShown = findItem(root(), [](QQuickItem *i) { return i->objectName() == "jobPhase"; })->property("text").toString();
            if (journey == "close") {
                m_window->close();
                QMetaObject::invokeMethod(shownWithText(root(), "Cancel and close"), "clicked");
            } else if (journey != "load") {
                QMetaObject::invokeMethod(shownWithText(root(), "Cancel"), "clicked");
            }
            release.release();
        });
        user.start(10);
        QGuiApplication::setQuitOnLastWindowClosed(false);
        DialogAnswerer answerer(typeAndAccept(m_dir.path(), target));
        if (journey == "cancel store")
            clickStore();
        else if (journey == "cancel load")
            QMetaObject::invokeMethod(m_window, "openArchive", Q_ARG(QVariant, m_sample));
        else
            m_appState->loadProject(m_sample);
        m_appState->setJobObserver(nullptr);
        disconnect(m_appState, &AppState::jobProgressChanged, this, nullptr);
        QVERIFY(overlayShown);
        // Every job reads the archive first, a store too.
        QCOMPARE(phaseShown, QStringLiteral("Reading\u2026"));
        QTRY_VERIFY(!shownWithText(root(), "Cancel"));
        QCOMPARE(tmp.entries(), QStringList());

        if (journey == "load") {
            QCOMPARE(m_appState->lastOutcome(), AppState::Outcome::Succeeded);
            QCOMPARE(furthest, 1.0);
            return;
        }
        QCOMPARE(m_appState->lastOutcome(), AppState::Outcome::Cancelled);
        QCOMPARE(m_appState->lastError(), QString());
        if (journey == "close") {
            QVERIFY(!m_appState->project()->loaded());
            QTRY_VERIFY(!m_window->isVisible());
            m_window->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_window));
            return;
        }
        // Told neutrally, without a reason; what was there stays.
        QQuickItem *cancelled = shownWithText(root(), "Cancelled");
        QVERIFY(cancelled);
        QCOMPARE(colorOf(cancelled), QStringLiteral("#505050"));
        QVERIFY(!shownWithText(root(), "Saving failed") && !shownWithText(root(), "Loading failed"));
        QCOMPARE(readFile(target), QByteArray("old archive"));
        QCOMPARE(QDir(m_dir.path()).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
        const QString kept = journey == "cancel store" ? "sample.tgz*" : "other.tgz";
        QCOMPARE(m_window->title(), kept + QStringLiteral(" \u2014 Tando Project Editor"));
    }

    // Closing while a store runs: "Cancel and close" still asks about the
    // unsaved edits; a store that ends while the close question is open
    // shows how it ended, and the question can still be answered.
    void closingDuringAStore()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        typeInto(settingField("Name"), "Renamed");
        QGuiApplication::setQuitOnLastWindowClosed(false);
        const QString target = m_dir.filePath("closing.tgz");

        storeHeld(target, [&] {
            m_window->close();
            QTRY_VERIFY(shownWithText(root(), "Cancel and close"));
            click(shownWithText(root(), "Cancel and close"));
        });
        QTRY_VERIFY(unsavedQuestion());
        QVERIFY(m_window->isVisible());
        QVERIFY(shownWithText(root(), "Cancelled"));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!unsavedQuestion());
        QCOMPARE(m_appState->project()->name(), QStringLiteral("Renamed"));
        QVERIFY(!QFileInfo::exists(target));

        storeHeld(target, [&] {
            m_window->close();
            QTRY_VERIFY(shownWithText(root(), "Keep working"));
        });
        QTRY_VERIFY(shownWithText(root(), "Successfully saved"));
        QVERIFY(shownWithText(root(), "closing.tgz"));
        QVERIFY(m_window->isVisible());
        click(shownWithText(root(), "Close"));
        QTRY_VERIFY(!m_window->isVisible());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanupTestCase()
    {
        m_appState->unloadProject();
        m_engine.reset();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
