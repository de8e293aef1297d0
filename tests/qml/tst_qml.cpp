// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup.h"

#include <QApplication>
#include <QObject>
#include <QtQuickTest>

// Runs the tst_*.qml files of this folder. They import the window's documents
// from the resources built into this program, so what ships is what is tested.
class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable() { Startup::registerTypes(); }
};

int main(int argc, char **argv)
{
    // Not the QGuiApplication of QUICK_TEST_MAIN: main.qml's FileDialog is a widget dialog.
    QApplication app(argc, argv);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "tst_qml.moc"
