// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

#include <functional>


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

inline DialogAnswerer::Answer typeAndAccept(const QString &directory, const QString &name)
{
    return [directory, name](QFileDialog *dialog, QLineEdit *nameEdit) {
        dialog->setDirectory(directory);
        if (nameEdit)
            nameEdit->setText(name);
        // QFileDialog::accept() is protected; through QDialog it still dispatches to it.
        static_cast<QDialog *>(dialog)->accept();
    };
}

inline void cancel(QFileDialog *dialog, QLineEdit *)
{
    dialog->reject();
}

