#include "startup.h"

#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "projectentity.h"

#include <QApplication>
#include <QFont>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QtQml>

namespace Startup {

void registerTypes()
{
    qmlRegisterType<AppState>("Norvel", 1, 0, "AppState");
    qmlRegisterType<ProjectEntity>("Norvel", 1, 0, "ProjectEntity");
    qmlRegisterType<DeviceEntity>("Norvel", 1, 0, "DeviceEntity");
    qmlRegisterType<DataObjectModel>("Norvel", 1, 0, "DataObjectModel");
}

int runEditor(int &argc, char **argv, const QString &mainUrl)
{
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
