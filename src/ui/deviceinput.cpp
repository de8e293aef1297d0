// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceinput.h"

#include "deviceedits.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

// Takes what the label rule takes; the field's maximum length cuts a long
// paste before it gets here.
class LabelValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return Workspace::checkLabel(input) ? Acceptable : Invalid;
    }
};

} // namespace

DeviceInput::DeviceInput(QObject *parent)
    : QObject(parent)
    , m_labelValidator(new LabelValidator(this))
{
}

int DeviceInput::maxLabelLength() const
{
    return Workspace::maxLabelLength;
}

bool DeviceInput::isLabel(const QString &label) const
{
    return bool(Workspace::checkLabel(label));
}

QVariantMap DeviceInput::complete(const QString &oldMac, const QString &input) const
{
    QString mac;
    const Result taken = Workspace::completeNewMac(oldMac, input, &mac);
    return {{QStringLiteral("mac"), mac},
            {QStringLiteral("problem"), taken.isFailure() ? taken.reason() : QString()},
            {QStringLiteral("wholeMac"), Workspace::isWholeMac(input)}};
}

QString DeviceInput::macStartProblem(const QString &oldMac, const QString &typed) const
{
    const Result start = Workspace::checkMacStart(oldMac, typed);
    return start ? QString() : start.reason();
}

QString DeviceInput::macSuffix(const QString &mac) const
{
    return Workspace::macSuffix(mac);
}

QString DeviceInput::withMacSuffix(const QString &mac, const QString &suffix) const
{
    return Workspace::withMacSuffix(mac, suffix);
}

QString DeviceInput::clipboardText(bool selection) const
{
    return QGuiApplication::clipboard()->text(selection ? QClipboard::Selection : QClipboard::Clipboard);
}
