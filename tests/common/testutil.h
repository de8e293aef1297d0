// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModelTester>
#include <QIdentityProxyModel>
#include <QObject>
#include <QtGlobal>
#include <QStringList>
#include <QTest>

// Records, in order, which of an object's signals fired, so a test can assert
// the exact sequence of notifications with one comparison.
class SignalLog : public QObject
{
public:
    template<typename Sender, typename Func>
    void watch(Sender *sender, Func signal, const QString &name)
    {
        QObject::connect(sender, signal, this, [this, name]() { events.append(name); });
    }

    QStringList events;
};

// Compares the number of emissions and the first argument of each.
template<typename Spy>
bool spyCarries(const Spy &spy, const QVariantList &expected)
{
    if (spy.count() != expected.size())
        return false;
    for (int i = 0; i < spy.count(); ++i) {
        if (spy.at(i).value(0) != expected.at(i))
            return false;
    }
    return true;
}

// Attaches QAbstractItemModelTester to a model whose data() hands out the row's
// object for every role. The tester would reject a QObject* under the display
// role as a widget-view type error, so it sees the model through a proxy that
// hides the view roles below Qt::UserRole; rows, indexes and every change
// signal still reach it unchanged.
class ModelChecker
{
public:
    explicit ModelChecker(QAbstractItemModel *model)
    {
        m_proxy.setSourceModel(model);
        m_tester = new QAbstractItemModelTester(&m_proxy, QAbstractItemModelTester::FailureReportingMode::QtTest, &m_proxy);
    }

private:
    class ObjectRoleProxy : public QIdentityProxyModel
    {
    public:
        QVariant data(const QModelIndex &index, int role) const override
        {
            return role < Qt::UserRole ? QVariant() : QIdentityProxyModel::data(index, role);
        }
    };
    ObjectRoleProxy m_proxy;
    QAbstractItemModelTester *m_tester = nullptr;
};

// Collects, while it lives, the lines of the logging categories whose names
// start with `prefix`; every other message goes on to the previous handler.
class LogCapture
{
public:
    explicit LogCapture(const char *prefix = "tando.")
    {
        s_prefix = prefix;
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(s_previous);
        s_lines.clear();
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const { return s_lines; }
    QString all() const { return s_lines.join(QLatin1Char('\n')); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (context.category && QByteArray(context.category).startsWith(s_prefix))
            s_lines.append(text);
        else if (s_previous)
            s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_lines;
    static inline QByteArray s_prefix;
};
