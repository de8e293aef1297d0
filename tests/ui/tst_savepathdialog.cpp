// SPDX-License-Identifier: GPL-3.0-or-later
#include "appstate.h"
#include "dialoganswerer.h"
#include "savepathdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>


class TestSavePathDialog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_settings;

private slots:
    void initTestCase()
    {
        // The widget dialog keeps its state in the user's settings; keep ours apart.
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }

    void dialogComesUpAsASaveDialogOverItsOwner()
    {
        QWindow owner;
        owner.create();
        DialogAnswerer answerer(cancel);
        QCOMPARE(askSavePath(&owner), QString());

        QVERIFY(answerer.answered);
        const Seen &seen = answerer.seen;
        QCOMPARE(seen.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(seen.nameFilters,
                 QStringList({"Tando Project Files (*.tgz)", "All Files (*.*)"}));
        QCOMPARE(seen.selectedNameFilter, QStringLiteral("Tando Project Files (*.tgz)"));
        QCOMPARE(seen.initialName, QString());
        QVERIFY(seen.modal);
        QCOMPARE(seen.transientParent, &owner);
    }

    void withoutOwner()
    {
        DialogAnswerer answerer(cancel);
        QCOMPARE(askSavePath(nullptr), QString());
        QVERIFY(answerer.answered);
        QCOMPARE(answerer.seen.transientParent, nullptr);
    }

    void chosenPath_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no extension gets .tgz") << "" << "proj" << "proj.tgz";
        QTest::newRow("other extension kept") << "" << "proj.bin" << "proj.bin";
        QTest::newRow("upper-case extension kept") << "" << "proj.TGZ" << "proj.TGZ";
        QTest::newRow("existing file, no question") << "old.tgz" << "old.tgz" << "old.tgz";
        QTest::newRow("existing file typed without extension") << "old.tgz" << "old" << "old.tgz";
    }

    void chosenPath()
    {
        QFETCH(QString, existing);
        QFETCH(QString, typed);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!existing.isEmpty()) {
            QFile file(dir.filePath(existing));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QWindow owner;
        owner.create();
        DialogAnswerer answerer(typeAndAccept(dir.path(), typed));
        const QString path = askSavePath(&owner);

        QVERIFY(answerer.answered);
        QVERIFY2(!answerer.forcedClose, "the dialog did not close on accept");
        QCOMPARE(path, dir.filePath(expected));
    }

    void appStateAsksOverItsWindow()
    {
        QQuickWindow window;
        AppState state;
        state.setParentItem(window.contentItem());
        window.create();

        DialogAnswerer answerer(cancel);
        QCOMPARE(state.getSavePath(), QString());
        QVERIFY(answerer.answered);
        QCOMPARE(answerer.seen.transientParent, &window);
    }
};

QTEST_MAIN(TestSavePathDialog)
#include "tst_savepathdialog.moc"
