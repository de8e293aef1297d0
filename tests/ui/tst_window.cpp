#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "dialoganswerer.h"
#include "projectentity.h"
#include "startup.h"

#include <QMimeData>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

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
        QCOMPARE(m_window->size(), QSize(800, 480));
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_appState = m_window->findChild<AppState *>();
        if (!m_appState)
            m_appState = root()->findChild<AppState *>();
        QVERIFY(m_appState);
    }

    void init()
    {
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
        const QString work = m_appState->project()->extractedPath();
        const auto two = urls({m_sample, m_sample});
        drop(two.get());
        QVERIFY(m_appState->project()->loaded());
        QCOMPARE(m_appState->project()->extractedPath(), work);
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
        const QString firstWork = m_appState->project()->extractedPath();

        // A second drop while loaded unloads first: the list is not appended to.
        drop(one.get());
        QCOMPARE(m_appState->project()->devices()->count(), 5);
        QVERIFY(!QFileInfo::exists(firstWork));

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

    void cleanupTestCase()
    {
        m_appState->unloadProject();
        m_engine.reset();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
