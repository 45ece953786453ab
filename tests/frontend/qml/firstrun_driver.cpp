// Runs the real program and plays a user at its main window: the script in ZELK_E2E either
// registers through the sign-in form ("register:NAME:EMAIL:PASSWORD"), only looks ("report"),
// walks through every screen saving a picture of each into a folder ("tour:FOLDER:EMAIL"), or
// drops a file on the window and takes it to its two opened results ("process:FILE:INSTRUMENT",
// with ZELK_E2E_SHOTS naming a folder for a picture of every screen it passes), or pictures the
// archive's list into a folder ("archive:FOLDER").
// It prints what a user would see, then quits the program.
#include "Archive/Archive.h"
#include "FileProcessing/FileProcessing.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MainWindowHarness.h"
#include "QuickWidgetHarness.h"
#include "main/Startup.h"

#include <QApplication>
#include <QMimeData>
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
    std::printf("layer: %s\nsize: %dx%d\naccount: %s\n", layerShown ? "shown" : "hidden", main.window()->width(),
                main.window()->height(), qPrintable(GlobalsInfo::getInstance()->getUserEmail()));
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
    // A refused new password, then the register form as it was.
    const QVariant typed = main.item(QStringLiteral("password"))->property("value");
    main.typeInto(QStringLiteral("password2"), QStringLiteral("-other"));
    main.click(main.item(QStringLiteral("submit")));
    save(main, folder, QStringLiteral("new-password-error"));
    main.item(QStringLiteral("password"))->setProperty("value", typed);

    layer->setProperty("mode", QStringLiteral("register"));
    main.item(QStringLiteral("password2"))->setProperty("value", QString());
    main.typeInto(QStringLiteral("password2"), QStringLiteral("engine1843"));
    main.click(main.item(QStringLiteral("submit")));
    save(main, folder, QStringLiteral("signed-in"));
    main.click(main.item(QStringLiteral("helpButton")));
    save(main, folder, QStringLiteral("help-menu"));
}

void dropOn(QQuickWindow *window, const QString &file)
{
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(file) });
    const QPoint centre(window->width() / 2, window->height() / 2);
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
}

FileProcessing *processingWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<FileProcessing *>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

// Waits for the run to end on the success or the choice screen; meanwhile keeps a picture of each
// screen as it shows, when asked to.
void followRun(FileProcessing *window, const QuickWidgetHarness &screen, const QString &shots)
{
    QElapsedTimer time;
    time.start();
    QString pictured;
    for (;;) {
        const QString layer = screen.rootProperty("currentLayer").toString();
        if (layer == QLatin1String("success") || layer == QLatin1String("select_instrument")
            || time.elapsed() > 60000)
            return;
        if (!shots.isEmpty() && layer != pictured) {
            pictured = layer;
            // The countdown needs a tick or two before there is anything to see.
            QTest::qWait(layer == QLatin1String("processing") ? 2500 : 100);
            window->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(screen.layers().size() + 3).arg(layer));
        }
        QTest::qWait(20);
    }
}

void process(const MainWindowHarness &main, const QString &file, const QString &instrument)
{
    const QString shots = qEnvironmentVariable("ZELK_E2E_SHOTS");
    const auto picture = [&shots](QWidget *window, const QString &name) {
        if (shots.isEmpty())
            return;
        QTest::qWait(300);
        window->grab().save(QStringLiteral("%1/%2.png").arg(shots, name));
    };
    dropOn(main.window(), file);
    FileProcessing *window = nullptr;
    if (!QTest::qWaitFor([&window] { return (window = processingWindow()) != nullptr; }, 10000)) {
        std::printf("no processing window\n");
        return;
    }
    QuickWidgetHarness screen(window);
    picture(window, QStringLiteral("1-select_instrument"));
    screen.click(QStringLiteral("instrumentButton"));
    picture(window, QStringLiteral("2-instrument_list"));
    screen.click(QStringLiteral("instrument_") + instrument);
    screen.click(QStringLiteral("formatButton"));
    picture(window, QStringLiteral("3-format_list"));
    QTest::keyClick(window, Qt::Key_Escape);
    screen.clearLayers();
    screen.click(QStringLiteral("processButton"));
    followRun(window, screen, shots);
    const QStringList layers = screen.layers();
    std::printf("screens: %s\n", qPrintable(layers.join(QLatin1Char(' '))));
    if (layers.isEmpty() || layers.constLast() != QLatin1String("success"))
        return;
    picture(window, QStringLiteral("%1-success").arg(layers.size() + 3));
    std::printf("title: %s\n", qPrintable(screen.item(QStringLiteral("successTitle"))->property("text").toString()));
    screen.click(QStringLiteral("openMainButton"));
    screen.click(QStringLiteral("openMixButton"));
    std::printf("results: %s | %s\n", qPrintable(window->mainResultPath()), qPrintable(window->mixResultPath()));
    std::fflush(stdout);
    window->close();
}

void pictureArchive(const MainWindowHarness &main, const QString &folder)
{
    main.click(main.item(QStringLiteral("archiveButton")));
    Archive *archive = nullptr;
    const auto shown = [&archive] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if ((archive = qobject_cast<Archive *>(widget)) && archive->isVisible())
                return true;
        return false;
    };
    if (!QTest::qWaitFor(shown, 10000))
        return;
    QTest::qWait(1500);
    archive->grab().save(folder + QStringLiteral("/archive.png"));
    std::printf("archive: pictured\n");
    archive->close();
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
    if (script.value(0) == QLatin1String("archive") && script.size() == 2)
        pictureArchive(main, script.at(1));
    if (script.value(0) == QLatin1String("process") && script.size() == 3)
        process(main, script.at(1), script.at(2));
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
