#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>

class QQuickItem;
class QQuickWidget;

// Works a hosted window's document as a user would: finds items by object name and clicks them,
// and writes down every screen the document shows (the values of its `currentLayer`).
class QuickWidgetHarness : public QObject
{
    Q_OBJECT

public:
    explicit QuickWidgetHarness(QQuickWidget *window);
    Q_DISABLE_COPY(QuickWidgetHarness)

    // Every value the root's `currentLayer` took since the last clear, in order.
    QStringList layers() const { return layerLog; }
    void clearLayers() { layerLog.clear(); }

    // Searches the visual tree: items that a Repeater makes have no QObject parent to be found by.
    QQuickItem *item(const QString &objectName) const;
    QVariant rootProperty(const char *name) const;
    // Waits until the item can be clicked, then clicks its centre; false when it never could be.
    bool click(const QString &objectName);
    // Clicks the text input in the named item and types text in place of what it held, as a user
    // who selects all and types does; false when there is no input to type into.
    bool typeInto(const QString &objectName, const QString &text);
    // Opens the named drop-down list unless it is open already, and clicks its entry with that text;
    // false when there was no such entry to click.
    bool choose(const QString &listName, const QString &text);

    // The target's centre in the scene, once any click within the double-click time is past: two
    // clicks in quick succession arrive as a double click, which buttons do not answer.
    static QPoint clickPoint(QQuickItem *target, QElapsedTimer &lastClick);

private slots:
    void recordLayer();

private:
    void clickCentre(QQuickItem *target);

    QQuickWidget *window;
    QElapsedTimer lastClick;
    QStringList layerLog;
};
