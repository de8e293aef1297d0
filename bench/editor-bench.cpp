// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the editor's real window (offscreen unless a platform is set) as a
// user would: open a project, scroll to its last row, store it. Prints one
// line of measurements for tando-bench's editor run:
//   tando-editor-bench ARCHIVE OUT.tgz
// table S        seconds from the call to load until the table is drawn
// store S        seconds of the store
// gap-load MS    longest time the GUI thread went without processing events
// gap-store MS   during the load and during the store
// start-kib N    resident memory on the start screen
// peak-kib N     peak resident memory of the whole run
// rows N, last-row-shown 0|1

#include "appstate.h"
#include "dataobjectmodel.h"
#include "projectentity.h"
#include "startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace {

long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The longest wait between two turns of the GUI thread's event loop while
// armed: a timer that should fire every 5 ms measures the gaps.
class GapMeter : public QObject
{
public:
    GapMeter()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
    }
    void start()
    {
        m_longest = 0;
        m_last = m_clock.elapsed();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return qMax(m_longest, m_clock.elapsed() - m_last);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Lets the event loop run until the window has drawn a frame after now.
void waitForFrame(QQuickWindow *window)
{
    bool swapped = false;
    const auto connection = QObject::connect(window, &QQuickWindow::frameSwapped, [&] { swapped = true; });
    window->update();
    QElapsedTimer limit;
    limit.start();
    while (!swapped && limit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QObject::disconnect(connection);
}

QQuickItem *findByName(QQuickItem *item, const QString &name)
{
    if (item->objectName() == name)
        return item;
    for (QQuickItem *child : item->childItems()) {
        if (QQuickItem *found = findByName(child, name))
            return found;
    }
    return nullptr;
}

void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

constexpr int ReloadCount = 6;

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tando-editor-bench ARCHIVE OUT.tgz\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_QUICK_BACKEND", "software");
    }
    QApplication app(argc, argv);
    QGuiApplication::setFont(QFont(QStringLiteral("Arial"), 10));
    Startup::registerTypes();
    QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/main.qml")));
    auto *window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    auto *appState = window ? window->findChild<AppState *>() : nullptr;
    if (!appState)
        return 1;
    settle(500);
    waitForFrame(window);
    const long startKiB = statusKiB("VmRSS:");

    GapMeter gaps;
    QElapsedTimer clock;
    clock.start();
    gaps.start();
    const bool loaded = appState->loadProject(QString::fromLocal8Bit(argv[1]));
    waitForFrame(window);
    const double tableSeconds = clock.elapsed() / 1000.0;
    const qint64 gapLoad = gaps.stop();
    if (!loaded) {
        std::fprintf(stderr, "cannot load: %s\n", qPrintable(appState->lastError()));
        return 1;
    }

    // Scroll to the last row, as a user drags the scroll bar down.
    QQuickItem *list = findByName(window->contentItem(), QStringLiteral("deviceTable"));
    if (list)
        QMetaObject::invokeMethod(list, "positionViewAtEnd");
    settle(200);
    waitForFrame(window);
    const bool lastRowShown = list && list->property("atYEnd").toBool();

    appState->project()->setName(QStringLiteral("Stored by the editor benchmark"));
    clock.restart();
    gaps.start();
    const bool stored = appState->storeCurrentProject(QString::fromLocal8Bit(argv[2]));
    const double storeSeconds = clock.elapsed() / 1000.0;
    const qint64 gapStore = gaps.stop();
    if (!stored) {
        std::fprintf(stderr, "cannot store: %s\n", qPrintable(appState->lastError()));
        return 1;
    }
    const int rows = appState->project()->devices()->count();
    appState->unloadProject();
    const long peakKiB = statusKiB("VmHWM:");
    // Opening the project again and again, as a user does: what an unload
    // leaves behind shows as growth from the first reload to the last.
    long reloadKiB[2] = {};
    for (int reload = 0; reload < ReloadCount; ++reload) {
        if (!appState->loadProject(QString::fromLocal8Bit(argv[1])))
            return 1;
        waitForFrame(window);
        appState->unloadProject();
        settle(100);
        if (reload == 0 || reload == ReloadCount - 1)
            reloadKiB[reload == 0 ? 0 : 1] = statusKiB("VmRSS:");
    }
    std::printf("table %.3f store %.3f gap-load %lld gap-store %lld start-kib %ld peak-kib %ld rows %d last-row-shown %d "
                "reload-kib %ld %ld\n",
                tableSeconds, storeSeconds, static_cast<long long>(gapLoad), static_cast<long long>(gapStore), startKiB,
                peakKiB, rows, lastRowShown ? 1 : 0, reloadKiB[0], reloadKiB[1]);
    return 0;
}
