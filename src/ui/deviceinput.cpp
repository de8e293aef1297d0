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
        return Workspace::labelProblem(input).isEmpty() ? Acceptable : Invalid;
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
    return Workspace::labelProblem(label).isEmpty();
}

QVariantMap DeviceInput::complete(const QString &oldMac, const QString &input) const
{
    QString problem;
    const QString mac = Workspace::completeNewMac(oldMac, input, &problem);
    return {{QStringLiteral("mac"), mac},
            {QStringLiteral("problem"), problem},
            {QStringLiteral("wholeMac"), Workspace::isWholeMac(input)}};
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
