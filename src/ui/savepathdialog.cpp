// SPDX-License-Identifier: GPL-3.0-or-later
#include "savepathdialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QWindow>

namespace {

const QStringList csvFilters{QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")};

void offerFilters(QFileDialog &dialog, const QStringList &filters)
{
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
}

QString runModal(QFileDialog &dialog, QWindow *owner, const QString &startFolder)
{
    if (!startFolder.isEmpty() && QFileInfo(startFolder).isDir())
        dialog.setDirectory(startFolder);
    dialog.selectFile(QString());

    // The native window exists only after winId(); it must exist to be given an owner.
    dialog.winId();
    if (owner)
        dialog.windowHandle()->setTransientParent(owner);

    const bool accepted = dialog.exec() == QDialog::Accepted;
    // Without a window manager nobody hands the keyboard back to the window.
    if (owner)
        owner->requestActivate();
    return accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace

QString askSavePath(QWindow *owner, const QString &startFolder)
{
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    offerFilters(dialog, {QStringLiteral("Tando Project Files (*.tgz)"), QStringLiteral("All Files (*.*)")});
    // Only the dialog instance appends a default suffix; the static helper does not.
    dialog.setDefaultSuffix(QStringLiteral("tgz"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    return runModal(dialog, owner, startFolder);
}

QString askCsvSavePath(QWindow *owner, const QString &startFolder)
{
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    offerFilters(dialog, csvFilters);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    return runModal(dialog, owner, startFolder);
}

QString askCsvOpenPath(QWindow *owner, const QString &startFolder)
{
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    offerFilters(dialog, csvFilters);
    return runModal(dialog, owner, startFolder);
}
