// Runs the real program and plays a user at its main window: the script in ZELK_E2E either
// registers through the sign-in form ("register:NAME:EMAIL:PASSWORD"), only looks ("report"), or
// walks through every screen saving a picture of each into a folder ("tour:FOLDER:EMAIL").
// It prints what a user would see, then quits the program.
#include "MainWindowHarness.h"
#include "main/Startup.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

QQuickWindow *mainWindow()
{
    for (QWindow *window : QGuiApplication::topLevelWindows())
        if (auto *quick = qobject_cast<QQuickWindow *>(window);
            quick && quick->findChild<QObject *>(QStringLiteral("authLayer")))
            return quick;
    return nullptr;
}

void report(const MainWindowHarness &main)
{
    const bool layerShown = main.item(QStringLiteral("authLayer"))->isVisible();
    std::printf("layer: %s\nsize: %dx%d\n", layerShown ? "shown" : "hidden", main.window()->width(),
                main.window()->height());
    std::fflush(stdout);
}

void save(const MainWindowHarness &main, const QString &folder, const QString &name)
{
    QTest::qWait(300);
    main.window()->grabWindow().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

void tour(const MainWindowHarness &main, const QString &folder, const QString &email)
{
    QQuickItem *layer = main.item(QStringLiteral("authLayer"));
    save(main, folder, QStringLiteral("login"));
    main.click(main.item(QStringLiteral("cornerLink")));
    save(main, folder, QStringLiteral("register"));
    main.typeInto(QStringLiteral("name"), QStringLiteral("Ada Lovelace"));
    main.typeInto(QStringLiteral("email"), email);
    main.typeInto(QStringLiteral("password"), QStringLiteral("engine1843"));
    main.typeInto(QStringLiteral("password2"), QStringLiteral("engine1834"));
    main.click(main.item(QStringLiteral("submit")));
    save(main, folder, QStringLiteral("register-error"));
    main.click(main.item(QStringLiteral("cornerLink")));
    main.click(main.item(QStringLiteral("forgotLink")));
    save(main, folder, QStringLiteral("recover"));
    layer->setProperty("layerMode", QStringLiteral("code_form"));
    save(main, folder, QStringLiteral("code"));
    layer->setProperty("layerMode", QStringLiteral("basic"));
    layer->setProperty("mode", QStringLiteral("create new password"));
    save(main, folder, QStringLiteral("new-password"));

    layer->setProperty("mode", QStringLiteral("register"));
    main.item(QStringLiteral("password2"))->setProperty("value", QString());
    main.typeInto(QStringLiteral("password2"), QStringLiteral("engine1843"));
    main.click(main.item(QStringLiteral("submit")));
    save(main, folder, QStringLiteral("signed-in"));
    main.click(main.item(QStringLiteral("helpButton")));
    save(main, folder, QStringLiteral("help-menu"));
}

void play(const QStringList &script)
{
    MainWindowHarness main(mainWindow());
    if (script.value(0) == QLatin1String("tour") && script.size() == 3)
        tour(main, script.at(1), script.at(2));
    if (script.value(0) == QLatin1String("register") && script.size() == 4) {
        main.click(main.item(QStringLiteral("cornerLink")));
        main.typeInto(QStringLiteral("name"), script.at(1));
        main.typeInto(QStringLiteral("email"), script.at(2));
        main.typeInto(QStringLiteral("password"), script.at(3));
        main.typeInto(QStringLiteral("password2"), script.at(3));
        main.click(main.item(QStringLiteral("submit")));
        std::printf("error: %s\n", qPrintable(main.item(QStringLiteral("authLayer"))->property("error").toString()));
    }
    report(main);
    QCoreApplication::quit();
}

// Waits for the window and for the start-up check to finish before the user acts.
void waitForTheWindow()
{
    QQuickWindow *window = mainWindow();
    QObject *cover = window ? window->findChild<QObject *>(QStringLiteral("initialLoader")) : nullptr;
    if (!cover || cover->property("visible").toBool()) {
        QTimer::singleShot(50, qApp, &waitForTheWindow);
        return;
    }
    play(qEnvironmentVariable("ZELK_E2E").split(QLatin1Char(':')));
}

void startScript()
{
    QTimer::singleShot(50, qApp, &waitForTheWindow);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScript)

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
