#include "QuickWidgetHarness.h"

#include <QGuiApplication>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWidget>
#include <QStyleHints>
#include <QTest>

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

void QuickWidgetHarness::pauseBetweenClicks(QElapsedTimer &lastClick)
{
    const int pause = QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50;
    if (lastClick.isValid() && lastClick.elapsed() < pause)
        QTest::qWait(int(pause - lastClick.elapsed()));
    lastClick.start();
}
