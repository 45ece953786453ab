#include "MainWindowHarness.h"

#include "QuickWidgetHarness.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QQmlContext>
#include <QTest>

MainWindowHarness::MainWindowHarness()
{
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("APP_VER"), QStringLiteral("1.004"));
    engine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    mainWindow = qobject_cast<QQuickWindow *>(engine->rootObjects().value(0));
    if (mainWindow && !QTest::qWaitForWindowExposed(mainWindow))
        qWarning("The main window was not exposed");
}

MainWindowHarness::MainWindowHarness(QQuickWindow *existing)
    : mainWindow(existing)
{ }

QQuickItem *MainWindowHarness::item(const QString &objectName) const
{
    return mainWindow ? mainWindow->findChild<QQuickItem *>(objectName) : nullptr;
}

bool MainWindowHarness::waitUntilDecided() const
{
    QQuickItem *cover = item(QStringLiteral("initialLoader"));
    return cover && QTest::qWaitFor([cover] { return !cover->isVisible(); }, 10000);
}

void MainWindowHarness::click(QQuickItem *target) const
{
    const QPoint centre = QuickWidgetHarness::clickPoint(target, lastClick);
    QTest::mouseClick(mainWindow.data(), Qt::LeftButton, Qt::NoModifier, centre);
}

void MainWindowHarness::typeInto(const QString &fieldName, const QString &text) const
{
    QQuickItem *field = item(fieldName);
    auto *input = field ? field->property("input").value<QQuickItem *>() : nullptr;
    if (!input)
        return;
    click(input);
    QTest::keyClick(mainWindow.data(), Qt::Key_End);
    for (const QChar c : text)
        QTest::keyClick(mainWindow.data(), c.toLatin1());
}

void MainWindowHarness::drop(const QList<QUrl> &files) const
{
    QMimeData data;
    data.setUrls(files);
    const QPoint centre(mainWindow->width() / 2, mainWindow->height() / 2);
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(mainWindow, &enter);
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(mainWindow, &drop);
}

bool MainWindowHarness::openHelpMenu() const
{
    click(item(QStringLiteral("helpButton")));
    const QObject *menu = mainWindow->findChild<QObject *>(QStringLiteral("helpMenu"));
    return menu && QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }, 5000);
}
