#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <memory>

// Loads the real main window document, as the program does, and works it as a user would: finds
// items by object name, clicks them and types into them.
class MainWindowHarness
{
public:
    // Loads main.qml into an engine of its own; the program's QML types must be registered already.
    MainWindowHarness();
    // Works a main window that the program itself has loaded.
    explicit MainWindowHarness(QQuickWindow *existing);
    Q_DISABLE_COPY(MainWindowHarness)

    QQuickWindow *window() const { return mainWindow; }
    QQuickItem *item(const QString &objectName) const;

    // True once the start-up check has decided, with the loading cover gone.
    bool waitUntilDecided() const;

    void click(QQuickItem *target) const;
    // Clicks into the input of the named sign-in field and types the text at its end.
    void typeInto(const QString &fieldName, const QString &text) const;
    // Drags the files onto the window's centre and drops them there.
    void drop(const QList<QUrl> &files) const;
    // Clicks the help button; true once its menu is open.
    bool openHelpMenu() const;

private:
    std::unique_ptr<QQmlApplicationEngine> engine;
    mutable QElapsedTimer lastClick;
    QPointer<QQuickWindow> mainWindow;
};
