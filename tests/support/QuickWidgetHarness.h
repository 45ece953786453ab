#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QVariant>

class QQuickItem;
class QQuickWidget;

// Works a hosted window's document as a user would: finds items by object name and clicks them.
class QuickWidgetHarness
{
public:
    explicit QuickWidgetHarness(QQuickWidget *window);
    Q_DISABLE_COPY(QuickWidgetHarness)

    // Searches the visual tree: items that a Repeater makes have no QObject parent to be found by.
    QQuickItem *item(const QString &objectName) const;
    QVariant rootProperty(const char *name) const;
    // Waits until the item can be clicked, then clicks its centre; false when it never could be.
    bool click(const QString &objectName);

    // Two clicks in quick succession arrive as a double click, which buttons do not answer.
    static void pauseBetweenClicks(QElapsedTimer &lastClick);

private:
    QQuickWidget *window;
    QElapsedTimer lastClick;
};
