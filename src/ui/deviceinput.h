// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QValidator>
#include <QVariantMap>

// What the device table's fields make of pasted, dropped or typed text, by
// the rules the command-line tool applies, and the clipboard text they paste.
class DeviceInput : public QObject
{
    Q_OBJECT
    // The characters a label may hold, for the label fields' validator.
    Q_PROPERTY(QValidator *labelValidator READ labelValidator CONSTANT)
    Q_PROPERTY(int maxLabelLength READ maxLabelLength CONSTANT)

public:
    explicit DeviceInput(QObject *parent = nullptr);

    QValidator *labelValidator() const { return m_labelValidator; }
    int maxLabelLength() const;
    // Whether `label` may be a device's label.
    Q_INVOKABLE bool isLabel(const QString &label) const;

    // For `input` given to the device whose old MAC is `oldMac`:
    // "mac": the new MAC in colon form, or empty when refused;
    // "problem": why it was refused;
    // "wholeMac": whether `input` is a whole MAC rather than a part of one.
    Q_INVOKABLE QVariantMap complete(const QString &oldMac, const QString &input) const;
    // Why `typed`, the suffix shown and a digit typed past it, cannot begin a
    // whole MAC of the device's vendor; empty when it can.
    Q_INVOKABLE QString macStartProblem(const QString &oldMac, const QString &typed) const;
    // The last three bytes of `mac`, and `mac` with them replaced by a typed suffix.
    Q_INVOKABLE QString macSuffix(const QString &mac) const;
    Q_INVOKABLE QString withMacSuffix(const QString &mac, const QString &suffix) const;
    // The clipboard's text, or with `selection` that of the X11 selection.
    Q_INVOKABLE QString clipboardText(bool selection = false) const;

private:
    QValidator *m_labelValidator = nullptr;
};
