#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "dialoganswerer.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "startup.h"

#include <QMimeData>
#include <QSemaphore>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

namespace {

QQuickItem *findItem(QQuickItem *root, const std::function<bool(QQuickItem *)> &match)
{
    if (match(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, match))
            return found;
    }
    return nullptr;
}

QQuickItem *itemWithText(QQuickItem *root, const QString &text)
{
    return findItem(root, [&](QQuickItem *item) { return item->property("text").toString() == text; });
}

// The first visible item showing text: hidden screens keep their items.
QQuickItem *shownWithText(QQuickItem *root, const QString &text)
{
    return findItem(root, [&](QQuickItem *item) { return item->isVisible() && item->property("text").toString() == text; });
}

QString sampleProject(const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    QProcess script;
    script.start(QStringLiteral(SAMPLE_SCRIPT), {path});
    script.waitForFinished(60000);
    return script.exitCode() == 0 ? path : QString();
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    AppState *m_appState = nullptr;
    QTemporaryDir m_dir;
    QString m_sample;

    QQuickItem *root() const { return m_window->contentItem(); }

    QQuickItem *overlay() const
    {
        return findItem(root(), [](QQuickItem *item) { return item->property("droppable").isValid(); });
    }

    QString overlayText() const
    {
        return overlay()->childItems().value(0)->property("text").toString();
    }

    bool startScreenShown() const { return itemWithText(root(), "Choose file")->isVisible(); }
    bool projectScreenShown() const { return itemWithText(root(), "Store Project")->isVisible(); }

    void enter(QMimeData *mime)
    {
        const QPoint pos(400, 240);
        QDragEnterEvent event(pos, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &event);
    }

    void drop(QMimeData *mime)
    {
        enter(mime);
        QDropEvent event(QPointF(400, 240), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &event);
    }

    void leave()
    {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(m_window, &event);
    }

    static std::unique_ptr<QMimeData> urls(const QStringList &paths)
    {
        auto mime = std::make_unique<QMimeData>();
        QList<QUrl> list;
        for (const QString &p : paths)
            list << QUrl::fromLocalFile(p);
        mime->setUrls(list);
        return mime;
    }

    void clickStore()
    {
        QQuickItem *button = itemWithText(root(), "Store Project");
        QVERIFY(button);
        // Emitting the button's signal runs its handler, as a click does.
        QVERIFY(QMetaObject::invokeMethod(button, "clicked"));
    }

    DeviceEntity *firstDevice() const
    {
        return m_appState->project()->devices()->objectsOfType<DeviceEntity>().value(0);
    }

    // A mouse click in the middle of an item, as a user gives it.
    void click(QQuickItem *item)
    {
        QVERIFY(item && item->isVisible());
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // The field of the project setting captioned label.
    QQuickItem *settingField(const QString &label) const
    {
        QQuickItem *row = findItem(root(), [&](QQuickItem *item) {
            return item->property("label").toString() == label && item->property("value").isValid();
        });
        return row ? findItem(row, [](QQuickItem *item) { return item->property("maximumLength").isValid(); }) : nullptr;
    }

    // Selects all of a field's text and types text over it.
    void typeInto(QQuickItem *field, const QString &text)
    {
        field->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(m_window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m_window, Qt::Key_Backspace);
        for (const QChar c : text)
            QTest::keyClick(m_window, c.toLatin1());
    }

    QQuickItem *unsavedQuestion() const
    {
        return shownWithText(root(), "The project has changes that are not stored yet.");
    }

    // A project of its own: one Tando device, other settings than the sample.
    QString otherProject()
    {
        m_other.addProjectXml("Side Stage", "Bo", "Autumn");
        m_other.addTando("00:1a:2b:77:77:77", "Side");
        return m_other.makeTgz("other.tgz");
    }

    ProjectFixture m_other;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        m_sample = sampleProject(m_dir.path(), "sample.tgz");
        QVERIFY(!m_sample.isEmpty());

        Startup::registerTypes();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(m_window);
        QCOMPARE(m_window->title(), QStringLiteral("Tando Project Editor"));
        QCOMPARE(m_window->size(), QSize(1200, 640));
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_appState = m_window->findChild<AppState *>();
        if (!m_appState)
            m_appState = root()->findChild<AppState *>();
        QVERIFY(m_appState);
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

        QTest::newRow("one .tgz") << QStringList{"/data/show.tgz"} << false << "#064bc0" << "Drop to load show.tgz";
        QTest::newRow("upper-case .TGZ") << QStringList{"/data/show.TGZ"} << false << "#ff0000"
                                         << "Please drop a single .tgz file";
        QTest::newRow("two archives") << QStringList{"/data/a.tgz", "/data/b.tgz"} << false << "#ff0000"
                                      << "Please drop a single .tgz file";
        QTest::newRow("plain text") << QStringList() << true << "#ff0000" << "Please drop a single .tgz file";
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
        QVERIFY(overlay()->isVisible());
        QCOMPARE(overlay()->property("color").value<QColor>().name(), color);
        QCOMPARE(overlayText(), caption);
        leave();
        QVERIFY(!overlay()->isVisible());
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

    void storeThroughTheDialog()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        firstDevice()->setNewMac("00:1a:2b:00:00:99");
        DialogAnswerer answerer(typeAndAccept(m_dir.path(), "stored"));
        clickStore();
        QVERIFY(answerer.answered);
        QVERIFY(QFileInfo(m_dir.filePath("stored.tgz")).isFile());
        QVERIFY(!itemWithText(root(), "Invalid settings detected!")); // cleared by a valid attempt

        QQuickItem *outcome = itemWithText(root(), "Successfully saved");
        QVERIFY(outcome);
        QVERIFY(outcome->isVisible());
        QCOMPARE(outcome->property("color").value<QColor>().name(), QStringLiteral("#008000"));
        QTRY_VERIFY_WITH_TIMEOUT(!outcome->isVisible(), 10000);
    }

    void cancelledDialogReportsFailure()
    {
        QVERIFY(m_appState->loadProject(m_sample));
        DialogAnswerer answerer(cancel);
        clickStore();
        QVERIFY(answerer.answered);
        QQuickItem *outcome = itemWithText(root(), "Saving failed");
        QVERIFY(outcome);
        QVERIFY(outcome->isVisible());
        QCOMPARE(outcome->property("color").value<QColor>().name(), QStringLiteral("#ba2d25"));
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
        QCOMPARE(m_window->title(), QStringLiteral("sample.tgz \u2014 Tando Project Editor"));

        QVERIFY(m_appState->loadProject(m_dir.filePath("cleared.tgz")));
        QCOMPARE(settingField("Description")->property("text").toString(), QString());
        QCOMPARE(settingField("Name")->property("text").toString(), QStringLiteral("Main Hall"));
    }

    // A file that is no archive: the start screen says why.
    void failedLoadShowsItsReason()
    {
        const QString broken = m_dir.filePath("broken.tgz");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an archive");
        file.close();
        const auto one = urls({broken});
        drop(one.get());
        QVERIFY(!m_appState->project()->loaded());
        QVERIFY(!m_appState->lastError().isEmpty());
        QVERIFY(startScreenShown());
        QVERIFY(shownWithText(root(), m_appState->lastError()));
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
        QFile::remove(target);
        if (journey == "cancel store") {
            QVERIFY(m_appState->loadProject(m_sample));
            typeInto(settingField("Name"), "Renamed");
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old archive");
        }
        TemporaryDirWatch tmp(m_dir.filePath("tmp"));

        QSemaphore reached, release;
        std::atomic<bool> hold{true};
        m_appState->setJobObserver([&](JobControl::Phase, qint64, qint64) {
            if (hold.exchange(false)) {
                reached.release();
                release.tryAcquire(1, 30000);
            }
        });
        double furthest = 0;
        connect(m_appState, &AppState::jobProgressChanged, this, [&] {
            if (m_appState->busy())
                furthest = qMax(furthest, m_appState->jobProgress());
        });
        bool overlayShown = false;
        QTimer::singleShot(0, this, [&] {
            while (!reached.tryAcquire(1, 10))
                QCoreApplication::processEvents();
            QTRY_VERIFY_WITH_TIMEOUT(overlayShown = shownWithText(root(), "Cancel") != nullptr, 5000);
            if (journey == "close") {
                m_window->close();
                QMetaObject::invokeMethod(shownWithText(root(), "Cancel and close"), "clicked");
            } else if (journey != "load") {
                QMetaObject::invokeMethod(shownWithText(root(), "Cancel"), "clicked");
            }
            release.release();
        });
        QGuiApplication::setQuitOnLastWindowClosed(false);
        const bool done = journey == "cancel store" ? m_appState->storeCurrentProject(target)
                                                    : m_appState->loadProject(m_sample);
        m_appState->setJobObserver(nullptr);
        disconnect(m_appState, &AppState::jobProgressChanged, this, nullptr);
        QVERIFY(overlayShown);
        QTRY_VERIFY(!shownWithText(root(), "Cancel"));
        QCOMPARE(tmp.entries(), QStringList());

        if (journey == "load") {
            QVERIFY(done && m_appState->project()->loaded());
            QCOMPARE(furthest, 1.0);
            return;
        }
        QVERIFY(!done);
        QVERIFY2(m_appState->lastError().contains("cancelled"), qPrintable(m_appState->lastError()));
        if (journey == "cancel store") {
            QVERIFY(m_appState->project()->loaded());
            QCOMPARE(ProjectFixture::readFile(target), QByteArray("old archive"));
            QCOMPARE(QDir(m_dir.path()).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY(!m_appState->project()->loaded());
        if (journey == "close") {
            QTRY_VERIFY(!m_window->isVisible());
            m_window->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_window));
        }
    }

    void cleanupTestCase()
    {
        m_appState->unloadProject();
        m_engine.reset();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
