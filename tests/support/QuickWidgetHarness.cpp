#include "QuickWidgetHarness.h"

#include <QGuiApplication>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWidget>
#include <QStyleHints>
#include <QTest>

QuickWidgetHarness::QuickWidgetHarness(QQuickWidget *window, const char *screenProperty)
    : window(window)
    , screenProperty(screenProperty)
{
    // By the change signal, so that no screen passes unseen between two looks.
    const QQmlProperty layer(window->rootObject(), QLatin1String(screenProperty));
    if (layer.isValid())
        layer.connectNotifySignal(this, SLOT(recordLayer()));
}

void QuickWidgetHarness::recordLayer()
{
    layerLog << rootProperty(screenProperty).toString();
}

QQuickItem *QuickWidgetHarness::item(const QString &objectName) const
{
    QList<QQuickItem *> pending { window->rootObject() };
    while (!pending.isEmpty()) {
        QQuickItem *candidate = pending.takeFirst();
        if (!candidate)
            continue;
        if (candidate->objectName() == objectName)
            return candidate;
        pending += candidate->childItems();
    }
    return nullptr;
}

QVariant QuickWidgetHarness::rootProperty(const char *name) const
{
    return window->rootObject() ? window->rootObject()->property(name) : QVariant();
}

bool QuickWidgetHarness::click(const QString &objectName)
{
    QQuickItem *target = item(objectName);
    if (!target || !QTest::qWaitFor([target] { return target->isVisible() && target->isEnabled(); }, 5000)) {
        qWarning().noquote() << objectName << "is not there to click";
        return false;
    }
    pauseBetweenClicks(lastClick);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

bool QuickWidgetHarness::typeInto(const QString &objectName, const QString &text)
{
    QList<QQuickItem *> pending { item(objectName) };
    QQuickItem *input = nullptr;
    while (!input && !pending.isEmpty()) {
        QQuickItem *candidate = pending.takeFirst();
        if (candidate && candidate->inherits("QQuickTextInput"))
            input = candidate;
        else if (candidate)
            pending += candidate->childItems();
    }
    if (!input || !QTest::qWaitFor([input] { return input->isVisible() && input->isEnabled(); }, 5000)) {
        qWarning().noquote() << objectName << "has no input to type into";
        return false;
    }
    pauseBetweenClicks(lastClick);
    const QPointF centre = input->mapToScene(QPointF(input->width() / 2, input->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    if (!input->hasActiveFocus()) {
        qWarning().noquote() << objectName << "did not take the focus";
        return false;
    }
    QTest::keySequence(window, QKeySequence::SelectAll);
    if (text.isEmpty())
        QTest::keyClick(window, Qt::Key_Delete);
    else
        QTest::keyClicks(window, text);
    return true;
}

bool QuickWidgetHarness::choose(const QString &listName, const QString &text)
{
    QQuickItem *list = item(listName);
    auto *popup = list ? list->property("popup").value<QObject *>() : nullptr;
    if (!popup) {
        qWarning().noquote() << listName << "is no drop-down list";
        return false;
    }
    if (!popup->property("visible").toBool() && !click(listName))
        return false;
    auto *view = popup->property("contentItem").value<QQuickItem *>();
    int index = -1;
    QMetaObject::invokeMethod(list, "find", Q_RETURN_ARG(int, index), Q_ARG(QString, text));
    if (!view || index < 0
        || !QTest::qWaitFor([popup] { return popup->property("opened").toBool(); }, 5000)) {
        qWarning().noquote() << listName << "offers no" << text;
        return false;
    }
    // A long list shows only part of its entries; scroll the wanted one into sight as a user would.
    QMetaObject::invokeMethod(
        view, "positionViewAtIndex", Q_ARG(int, index), Q_ARG(int, 4 /* ListView.Contain */));
    QTest::qWait(50);
    QList<QQuickItem *> pending { view };
    QQuickItem *entry = nullptr;
    while (!entry && !pending.isEmpty()) {
        QQuickItem *candidate = pending.takeFirst();
        if (candidate->inherits("QQuickAbstractButton") && candidate->isVisible()
            && candidate->property("text").toString() == text)
            entry = candidate;
        else
            pending += candidate->childItems();
    }
    if (!entry) {
        qWarning().noquote() << listName << "shows no" << text;
        return false;
    }
    pauseBetweenClicks(lastClick);
    const QPointF centre = entry->mapToScene(QPointF(entry->width() / 2, entry->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return list->property("currentText").toString() == text;
}

void QuickWidgetHarness::pauseBetweenClicks(QElapsedTimer &lastClick)
{
    const int pause = QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50;
    if (lastClick.isValid() && lastClick.elapsed() < pause)
        QTest::qWait(int(pause - lastClick.elapsed()));
    lastClick.start();
}
