#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// What the device table's New MAC field makes of pasted, dropped or typed
// text, by the same rule the command-line tool applies, and the clipboard
// text it pastes.
class MacInput : public QObject
{
    Q_OBJECT

public:
    explicit MacInput(QObject *parent = nullptr);

    // For `input` given to the device whose old MAC is `oldMac`:
    // "mac": the new MAC in colon form, or empty when refused;
    // "problem": why it was refused;
    // "wholeMac": whether `input` is a whole MAC rather than a part of one.
    Q_INVOKABLE QVariantMap complete(const QString &oldMac, const QString &input) const;
    // The clipboard's text, or with `selection` that of the X11 selection.
    Q_INVOKABLE QString clipboardText(bool selection = false) const;
};
