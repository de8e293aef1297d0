#include "appstate.h"
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

namespace {

// How the dialog looked when it came up.
struct Seen
{
    QStringList nameFilters;
    QString selectedNameFilter;
    QString initialName;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    bool modal = false;
    QWindow *transientParent = nullptr;
};

// Runs inside the event loop of the dialog's exec(): waits for the modal file
// dialog, notes how it came up and answers it from a queued call. A dialog
// still open long after the answer (an unexpected question, a refused name) is
// rejected so that a fault fails the test instead of hanging it.
class DialogAnswerer : public QObject
{
public:
    using Answer = std::function<void(QFileDialog *, QLineEdit *)>;

    explicit DialogAnswerer(Answer answer)
        : m_answer(std::move(answer))
    {
        connect(&m_poll, &QTimer::timeout, this, &DialogAnswerer::poll);
        m_poll.start(10);
    }

    Seen seen;
    bool answered = false;
    bool forcedClose = false;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (answered) {
            if (auto *stuck = qobject_cast<QDialog *>(modal); stuck && m_sinceAnswer.elapsed() > 5000) {
                forcedClose = true;
                stuck->reject();
            }
            return;
        }
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return;
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        seen.nameFilters = dialog->nameFilters();
        seen.selectedNameFilter = dialog->selectedNameFilter();
        seen.initialName = nameEdit ? nameEdit->text() : QStringLiteral("<no fileNameEdit>");
        seen.acceptMode = dialog->acceptMode();
        seen.modal = dialog->isModal();
        seen.transientParent = dialog->windowHandle() ? dialog->windowHandle()->transientParent() : nullptr;
        answered = true;
        m_sinceAnswer.start();
        QMetaObject::invokeMethod(
            dialog, [this, dialog, nameEdit] { m_answer(dialog, nameEdit); }, Qt::QueuedConnection);
    }

    Answer m_answer;
    QTimer m_poll;
    QElapsedTimer m_sinceAnswer;
};

DialogAnswerer::Answer typeAndAccept(const QString &directory, const QString &name)
{
    return [directory, name](QFileDialog *dialog, QLineEdit *nameEdit) {
        dialog->setDirectory(directory);
        if (nameEdit)
            nameEdit->setText(name);
        // QFileDialog::accept() is protected; through QDialog it still dispatches to it.
        static_cast<QDialog *>(dialog)->accept();
    };
}

void cancel(QFileDialog *dialog, QLineEdit *)
{
    dialog->reject();
}

} // namespace

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
