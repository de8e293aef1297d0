#include "savepathdialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QWindow>

QString askSavePath(QWindow *owner, const QString &startFolder)
{
    const QStringList filters{QStringLiteral("Tando Project Files (*.tgz)"),
                              QStringLiteral("All Files (*.*)")};

    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    // Only the dialog instance appends a default suffix; the static helper does not.
    dialog.setDefaultSuffix(QStringLiteral("tgz"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
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
