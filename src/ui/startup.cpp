#include "startup.h"

#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "interruption.h"
#include "leftovers.h"
#include "processfacts.h"
#include "projectentity.h"

#include <QApplication>
#include <QFont>
#include <QQmlApplicationEngine>
#include <QSocketNotifier>
#include <QUrl>
#include <QtQml>

#include <csignal>
#include <unistd.h>

namespace Startup {

namespace {

// SIGINT and SIGTERM end the event loop like closing the window does, so
// that the project's trees are removed on the way out; a store that is
// running is cancelled and does not replace its target.
void quitOnSignals(QCoreApplication &app)
{
    const int wakeUp = Interruption::install({SIGINT, SIGTERM}, true);
    Interruption::ignoreWriteSignals();
    if (wakeUp < 0)
        return;
    auto *notifier = new QSocketNotifier(wakeUp, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [wakeUp] {
        char drained[16];
        while (::read(wakeUp, drained, sizeof drained) > 0) {
        }
        QCoreApplication::exit(128 + Interruption::received());
    });
}

} // namespace

void registerTypes()
{
    qmlRegisterType<AppState>("Norvel", 1, 0, "AppState");
    qmlRegisterType<ProjectEntity>("Norvel", 1, 0, "ProjectEntity");
    qmlRegisterType<DeviceEntity>("Norvel", 1, 0, "DeviceEntity");
    qmlRegisterType<DataObjectModel>("Norvel", 1, 0, "DataObjectModel");
}

int runEditor(int &argc, char **argv, const QString &mainUrl)
{
    Archive::captureProcessFacts();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    // QApplication rather than QGuiApplication: the save dialog is a widget.
    QApplication app(argc, argv);

    const QString appName = QStringLiteral("Tando Project Editor");
    QCoreApplication::setOrganizationName(QStringLiteral("Norvel"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("norvel.example"));
    QCoreApplication::setApplicationName(appName);
    QGuiApplication::setApplicationDisplayName(appName);
    QGuiApplication::setDesktopFileName(appName);
    QCoreApplication::setApplicationVersion(appName);

    quitOnSignals(app);
    // Trees of editors and tools that were killed are removed; those of running ones stay.
    Archive::removeStaleLeftovers();

    QFont font(QStringLiteral("Arial"), 10);
    QGuiApplication::setFont(font);

    QQmlApplicationEngine engine;
    registerTypes();

    const QUrl url(mainUrl, QUrl::TolerantMode);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    return app.exec();
}

} // namespace Startup
