#include "savepathdialog.h"

#include <QFileDialog>
#include <QStringList>
#include <QWindow>

QString askSavePath(QWindow *owner)
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
    dialog.selectFile(QString());

    // The native window exists only after winId(); it must exist to be given an owner.
    dialog.winId();
    if (owner)
        dialog.windowHandle()->setTransientParent(owner);

    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}
