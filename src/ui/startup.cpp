// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup.h"

#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "devicefiltermodel.h"
#include "deviceinput.h"
#include "processsetup.h"
#include "projectentity.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QSocketNotifier>
#include <QUrl>
#include <QtQml>

#include <unistd.h>

namespace Startup {

namespace {

// SIGINT and SIGTERM end the event loop like closing the window does; a
// store that is running is cancelled and does not replace its target.
void quitOnSignals(QCoreApplication &app, int wakeUp)
{
    if (wakeUp < 0)
        return;
    auto *notifier = new QSocketNotifier(wakeUp, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [wakeUp] {
        char drained[16];
        while (::read(wakeUp, drained, sizeof drained) > 0) {
        }
        QCoreApplication::exit(128 + Workspace::stopSignal());
    });
}

// Loads the archive named on the command line once the event loop runs, so
// the window is shown first and a failure appears in it like any other.
void openFileArgument(QQmlApplicationEngine &engine, const QString &argument)
{
    if (argument.isEmpty() || engine.rootObjects().isEmpty())
        return;
    auto *appState = engine.rootObjects().first()->findChild<AppState *>();
    if (!appState)
        return;
    const QString path = QFileInfo(Workspace::localPath(argument)).absoluteFilePath();
    QMetaObject::invokeMethod(appState, [appState, path] { appState->loadProject(path); }, Qt::QueuedConnection);
}

} // namespace

void registerTypes()
{
    qmlRegisterType<AppState>("Norvel", 1, 0, "AppState");
    qmlRegisterType<ProjectEntity>("Norvel", 1, 0, "ProjectEntity");
    qmlRegisterType<DeviceEntity>("Norvel", 1, 0, "DeviceEntity");
    qmlRegisterType<DataObjectModel>("Norvel", 1, 0, "DataObjectModel");
    qmlRegisterType<DeviceFilterModel>("Norvel", 1, 0, "DeviceFilterModel");
    qmlRegisterType<DeviceInput>("Norvel", 1, 0, "DeviceInput");
    qmlRegisterUncreatableType<EditHistory>("Norvel", 1, 0, "EditHistory", QStringLiteral("AppState has the history"));
    // A module type rather than a qmldir entry: it resolves alike for the
    // documents in the resources and for documents loaded from files.
    qmlRegisterSingletonType(QUrl(QStringLiteral("qrc:/Theme.qml")), "Norvel", 1, 0, "Theme");
}

int runEditor(int &argc, char **argv, const QString &mainUrl)
{
    const int wakeUp = Workspace::prepareProcess(Workspace::Host::Window);
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

    quitOnSignals(app, wakeUp);

    QFont font(QStringLiteral("Arial"), 10);
    QGuiApplication::setFont(font);
    // The installed icon theme first; the copy in the resources where the editor is not installed.
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.norvel.TandoProjectEditor"), QIcon(QStringLiteral(":/icon.svg"))));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Edits Tando project archives."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A project archive (.tgz) to open."),
                                 QStringLiteral("[file]"));
    parser.process(app);

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
    openFileArgument(engine, parser.positionalArguments().value(0));

    return app.exec();
}

} // namespace Startup
