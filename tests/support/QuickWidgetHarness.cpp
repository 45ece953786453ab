#include "QuickWidgetHarness.h"

#include <QGuiApplication>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWidget>
#include <QStyleHints>
#include <QTest>

#include <functional>

namespace {

// Breadth first, so the nearest match wins.
QQuickItem *findItem(QQuickItem *root, const std::function<bool(QQuickItem *)> &wanted)
{
    QList<QQuickItem *> pending { root };
    while (!pending.isEmpty()) {
        QQuickItem *candidate = pending.takeFirst();
        if (candidate && wanted(candidate))
            return candidate;
        if (candidate)
            pending += candidate->childItems();
    }
    return nullptr;
}

// Waits until the item is shown and enabled; warns, naming what it is, when it never is.
bool usable(QQuickItem *item, const QString &what)
{
    if (item && QTest::qWaitFor([item] { return item->isVisible() && item->isEnabled(); }, 5000))
        return true;
    qWarning().noquote() << what << "is not there to use";
    return false;
}

} // namespace

QuickWidgetHarness::QuickWidgetHarness(QQuickWidget *window)
    : window(window)
{
    // By the change signal, so that no screen passes unseen between two looks.
    const QQmlProperty layer(window->rootObject(), QStringLiteral("currentLayer"));
    if (layer.isValid())
        layer.connectNotifySignal(this, SLOT(recordLayer()));
}

void QuickWidgetHarness::recordLayer()
{
    layerLog << rootProperty("currentLayer").toString();
}

QQuickItem *QuickWidgetHarness::item(const QString &objectName) const
{
    return findItem(
        window->rootObject(), [&objectName](QQuickItem *i) { return i->objectName() == objectName; });
}

QVariant QuickWidgetHarness::rootProperty(const char *name) const
{
    return window->rootObject() ? window->rootObject()->property(name) : QVariant();
}

void QuickWidgetHarness::clickCentre(QQuickItem *target)
{
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, clickPoint(target, lastClick));
}

bool QuickWidgetHarness::click(const QString &objectName)
{
    QQuickItem *target = item(objectName);
    if (!usable(target, objectName))
        return false;
    clickCentre(target);
    return true;
}

bool QuickWidgetHarness::typeInto(const QString &objectName, const QString &text)
{
    QQuickItem *input
        = findItem(item(objectName), [](QQuickItem *i) { return i->inherits("QQuickTextInput"); });
    if (!usable(input, objectName + QStringLiteral("'s input")))
        return false;
    clickCentre(input);
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
    if (!popup || (!popup->property("visible").toBool() && !click(listName)))
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
    QQuickItem *entry = findItem(view, [&text](QQuickItem *i) {
        return i->inherits("QQuickAbstractButton") && i->isVisible()
            && i->property("text").toString() == text;
    });
    if (!usable(entry, listName + QStringLiteral("'s ") + text))
        return false;
    clickCentre(entry);
    return list->property("currentText").toString() == text;
}

QPoint QuickWidgetHarness::clickPoint(QQuickItem *target, QElapsedTimer &lastClick)
{
    const int pause = QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50;
    if (lastClick.isValid() && lastClick.elapsed() < pause)
        QTest::qWait(int(pause - lastClick.elapsed()));
    lastClick.start();
    // A form that has just changed may not be laid out yet: click where the target will be drawn.
    for (QQuickItem *up = target->parentItem(); up; up = up->parentItem())
        up->ensurePolished();
    return target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
}
