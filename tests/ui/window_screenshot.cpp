// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the editor's window with a project loaded into a PNG, headless:
//   window_screenshot PROJECT.tgz OUT.png
#include "appstate.h"
#include "startup.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QTimer>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "usage: window_screenshot PROJECT.tgz OUT.png\n");
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    QGuiApplication::setFont(QFont(QStringLiteral("Arial"), 10));
    Startup::registerTypes();
    QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/main.qml")));
    auto *window = engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    auto *appState = window ? window->findChild<AppState *>() : nullptr;
    if (!appState || !appState->loadProject(QString::fromLocal8Bit(argv[1]))) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    // The window's own default size: what a user sees first.
    const QString out = QString::fromLocal8Bit(argv[2]);
    int result = 1;
    // Grab once the loaded project has been laid out and rendered. A real
    // window (xcb, e.g. under Xvfb) grabs with its background; the offscreen
    // software backend only grabs items, without the window's white.
    QTimer::singleShot(1500, [&] {
        QImage image = window->grabWindow();
        if (image.isNull() || image.size().isEmpty()) {
            QSharedPointer<QQuickItemGrabResult> grab = window->contentItem()->grabToImage();
            QObject::connect(grab.data(), &QQuickItemGrabResult::ready, [&, grab] {
                result = grab->image().save(out) ? 0 : 1;
                appState->unloadProject();
                QCoreApplication::quit();
            });
            return;
        }
        result = image.save(out) ? 0 : 1;
        appState->unloadProject();
        QCoreApplication::quit();
    });
    app.exec();
    return result;
}
