// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"
#include "dataobjectmodel.h"
#include "projectentity.h"
#include "startup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cstdio>

namespace {

// With TANDO_PROBE_REPORT set: once a project is shown (or after 20 s), prints
// the window's title and the number of devices, then quits (with "stay", it
// goes on running).
void reportWhenLoaded()
{
    if (qEnvironmentVariableIsEmpty("TANDO_PROBE_REPORT"))
        return;
    auto *poll = new QTimer(qApp);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock] {
        const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
        AppState *appState = windows.isEmpty() ? nullptr : windows.first()->findChild<AppState *>();
        const bool loaded = appState && appState->project()->loaded();
        if (!loaded && clock.elapsed() < 20000)
            return;
        std::printf("title=%s\ndevices=%d\n", qPrintable(windows.value(0) ? windows.first()->title() : QString()),
                    appState ? appState->project()->devices()->count() : -1);
        std::fflush(stdout);
        if (qgetenv("TANDO_PROBE_REPORT") == "stay")
            poll->stop();
        else
            QCoreApplication::exit(0);
    });
    poll->start(50);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(reportWhenLoaded)

// Runs the editor's start-up with the document given as the first argument
// (a file, or a qrc: URL of the editor's own); the rest reach the editor.
int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    const QString document = QString::fromLocal8Bit(argv[1]);
    const QString url = document.startsWith(QLatin1String("qrc:")) ? document : QUrl::fromLocalFile(document).toString();
    argv[1] = argv[0];
    int editorArgc = argc - 1;
    return Startup::runEditor(editorArgc, argv + 1, url);
}
