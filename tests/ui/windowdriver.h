// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Drives the editor's real window as a user does: finds items by what they
// show, drops files, clicks, types and answers its dialogs.

#include "appstate.h"
#include "dataobjectmodel.h"
#include "deviceentity.h"
#include "processrun.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "startup.h"

#include <QMimeData>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

// An item found by match in the tree under root, root included.
inline QQuickItem *findItem(QQuickItem *root, const std::function<bool(QQuickItem *)> &match)
{
    if (match(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, match))
            return found;
    }
    return nullptr;
}

inline QQuickItem *itemWithText(QQuickItem *root, const QString &text)
{
    return findItem(root, [&](QQuickItem *item) { return item->property("text").toString() == text; });
}

// The first visible item showing text: hidden screens keep their items.
inline QQuickItem *shownWithText(QQuickItem *root, const QString &text)
{
    return findItem(root, [&](QQuickItem *item) { return item->isVisible() && item->property("text").toString() == text; });
}

inline QString sampleProject(const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    return runProcess(QStringLiteral(SAMPLE_SCRIPT), {path}).code == 0 ? path : QString();
}

class WindowDriver
{
protected:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    AppState *m_appState = nullptr;
    ProjectFixture m_other;

    // The editor's window as the program starts it, shown, with its controller.
    void openWindow()
    {
        Startup::registerTypes();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        m_appState = m_window->findChild<AppState *>();
        if (!m_appState)
            m_appState = root()->findChild<AppState *>();
        QVERIFY(m_appState);
    }

    QQuickItem *root() const { return m_window->contentItem(); }

    QQuickItem *overlay() const
    {
        return findItem(root(), [](QQuickItem *item) { return item->property("droppable").isValid(); });
    }

    QString overlayText() const
    {
        return overlay()->childItems().value(0)->property("text").toString();
    }

    bool startScreenShown() const { return itemWithText(root(), "Choose file")->isVisible(); }
    bool projectScreenShown() const { return itemWithText(root(), "Store Project")->isVisible(); }

    // Whether some item took the drag.
    bool enter(QMimeData *mime, QPoint pos = QPoint(400, 240))
    {
        QDragEnterEvent event(pos, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &event);
        return event.isAccepted();
    }

    void drop(QMimeData *mime, QPoint pos = QPoint(400, 240))
    {
        enter(mime, pos);
        QDropEvent event(pos, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &event);
    }

    void leave()
    {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(m_window, &event);
    }

    static std::unique_ptr<QMimeData> urls(const QStringList &paths)
    {
        auto mime = std::make_unique<QMimeData>();
        QList<QUrl> list;
        for (const QString &p : paths)
            list << QUrl::fromLocalFile(p);
        mime->setUrls(list);
        return mime;
    }

    void clickStore()
    {
        QQuickItem *button = itemWithText(root(), "Store Project");
        QVERIFY(button);
        // Emitting the button's signal runs its handler, as a click does.
        QVERIFY(QMetaObject::invokeMethod(button, "clicked"));
    }

    DeviceEntity *firstDevice() const
    {
        return m_appState->project()->devices()->objectsOfType<DeviceEntity>().value(0);
    }

    // A mouse click in the middle of an item, as a user gives it.
    void click(QQuickItem *item)
    {
        QVERIFY(item && item->isVisible());
        // Rows place what became visible at the next frame, as the user sees it.
        QSignalSpy rendered(m_window, &QQuickWindow::frameSwapped);
        m_window->update();
        QVERIFY(rendered.wait());
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // The field of the project setting captioned label.
    QQuickItem *settingField(const QString &label) const
    {
        QQuickItem *row = findItem(root(), [&](QQuickItem *item) {
            return item->property("label").toString() == label && item->property("value").isValid();
        });
        return row ? findItem(row, [](QQuickItem *item) { return item->property("maximumLength").isValid(); }) : nullptr;
    }

    // Selects all of a field's text and types text over it.
    void typeInto(QQuickItem *field, const QString &text)
    {
        field->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(m_window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m_window, Qt::Key_Backspace);
        for (const QChar c : text)
            QTest::keyClick(m_window, c.toLatin1());
    }

    QQuickItem *unsavedQuestion() const
    {
        return shownWithText(root(), "The project has changes that are not stored yet.");
    }

    QString colorOf(QQuickItem *item) const { return item->property("color").value<QColor>().name(); }

    // The window's size for a screen with this much room.
    QSize fittedSize(int width, int height) const
    {
        QVariant size;
        QMetaObject::invokeMethod(m_window, "fittedSize", Q_RETURN_ARG(QVariant, size), Q_ARG(QVariant, width),
                                  Q_ARG(QVariant, height));
        return size.toSizeF().toSize();
    }

    // A project of its own: one Tando device, other settings than the sample.
    QString otherProject()
    {
        m_other.addProjectXml("Side Stage", "Bo", "Autumn");
        m_other.addTando("00:1a:2b:77:77:77", "Side");
        return m_other.makeTgz("other.tgz");
    }
};
