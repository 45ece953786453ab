// Runs the real program and plays a user at its main window: the script in ZELK_E2E either
// registers through the sign-in form ("register:NAME:EMAIL:PASSWORD"), only looks ("report"),
// walks through every screen saving a picture of each into a folder ("tour:FOLDER:EMAIL"), or
// drops a file on the window and takes it to its two opened results ("process:FILE:INSTRUMENT",
// with ZELK_E2E_SHOTS naming a folder for a picture of every screen it passes), or pictures the
// archive's list into a folder ("archive:FOLDER"), or lives one user's whole story
// ("journey:FILE:NAME:EMAIL:PASSWORD:NEW NAME", see journey() below).
// It prints what a user would see, then quits the program.
#include "Archive/Archive.h"
#include "Archive/ArchiveHandler.h"
#include "FileProcessing/FileProcessing.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MainWindowHarness.h"
#include "ModalBoxCloser.h"
#include "MyAccount/MyAccount.h"
#include "QuickWidgetHarness.h"
#include "Settings/Settings.h"
#include "main/Startup.h"

#include <QApplication>
#include <QDir>
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

template <class Window> Window *shownWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<Window *>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

template <class Window> Window *waitForWindow()
{
    Window *window = nullptr;
    return QTest::qWaitFor([&window] { return (window = shownWindow<Window>()) != nullptr; }, 10000)
        ? window
        : nullptr;
}

// Waits for the run to end on the success or the choice screen, noting each remaining time the
// countdown shows; meanwhile keeps a picture of each screen as it shows, when asked to.
void followRun(
    FileProcessing *window, const QuickWidgetHarness &screen, const QString &shots, QStringList &countdown)
{
    QElapsedTimer time;
    time.start();
    QString pictured;
    for (;;) {
        const QString layer = screen.rootProperty("currentLayer").toString();
        if (layer == QLatin1String("success") || layer == QLatin1String("select_instrument")
            || time.elapsed() > 60000)
            return;
        if (layer == QLatin1String("processing")) {
            QString remaining = screen.item(QStringLiteral("remainingText"))->property("text").toString();
            remaining.remove(QStringLiteral("Approximate Time Remaining: "));
            if (countdown.isEmpty() || countdown.constLast() != remaining)
                countdown << remaining;
        }
        if (!shots.isEmpty() && layer != pictured) {
            pictured = layer;
            // The countdown needs a tick or two before there is anything to see.
            QTest::qWait(layer == QLatin1String("processing") ? 2500 : 100);
            window->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(screen.layers().size() + 3).arg(layer));
        }
        QTest::qWait(20);
    }
}

// Drops the file on the main window, picks the instrument and, when given, the output format from
// its list, and follows the run. True when it ended on the success screen with both results opened.
bool process(
    const MainWindowHarness &main, const QString &file, const QString &instrument, const QString &format = {})
{
    const QString shots = qEnvironmentVariable("ZELK_E2E_SHOTS");
    const auto picture = [&shots](QWidget *window, const QString &name) {
        if (shots.isEmpty())
            return;
        QTest::qWait(300);
        window->grab().save(QStringLiteral("%1/%2.png").arg(shots, name));
    };
    dropOn(main.window(), file);
    auto *window = waitForWindow<FileProcessing>();
    if (!window) {
        std::printf("no processing window\n");
        return false;
    }
    QuickWidgetHarness screen(window);
    std::printf("file: %s\n", qPrintable(screen.rootProperty("fileName").toString()));
    picture(window, QStringLiteral("1-select_instrument"));
    screen.click(QStringLiteral("instrumentButton"));
    picture(window, QStringLiteral("2-instrument_list"));
    screen.click(QStringLiteral("instrument_") + instrument);
    screen.click(QStringLiteral("formatButton"));
    picture(window, QStringLiteral("3-format_list"));
    if (format.isEmpty())
        QTest::keyClick(window, Qt::Key_Escape);
    else
        screen.choose(QStringLiteral("formatList"), format);
    std::printf("chosen: %s %s\n", qPrintable(screen.rootProperty("selectedInstrument").toString()),
        qPrintable(screen.rootProperty("selectedOutputFormat").toString()));
    screen.clearLayers();
    screen.click(QStringLiteral("processButton"));
    QStringList countdown;
    followRun(window, screen, shots, countdown);
    const QStringList layers = screen.layers();
    std::printf("screens: %s\ncountdown: %s\n", qPrintable(layers.join(QLatin1Char(' '))),
        qPrintable(countdown.join(QLatin1Char(' '))));
    if (layers.isEmpty() || layers.constLast() != QLatin1String("success"))
        return false;
    picture(window, QStringLiteral("%1-success").arg(layers.size() + 3));
    std::printf("title: %s\n", qPrintable(screen.item(QStringLiteral("successTitle"))->property("text").toString()));
    screen.click(QStringLiteral("openMainButton"));
    screen.click(QStringLiteral("openMixButton"));
    std::printf("results: %s | %s\n", qPrintable(window->mainResultPath()), qPrintable(window->mixResultPath()));
    std::fflush(stdout);
    window->close();
    return true;
}

void pictureArchive(const MainWindowHarness &main, const QString &folder)
{
    main.click(main.item(QStringLiteral("archiveButton")));
    auto *archive = waitForWindow<Archive>();
    if (!archive)
        return;
    QTest::qWait(1500);
    archive->grab().save(folder + QStringLiteral("/archive.png"));
    std::printf("archive: pictured\n");
    archive->close();
}

// The main window comes back whenever the window that hid it closes.
bool waitForMainWindow(const MainWindowHarness &main)
{
    return QTest::qWaitFor([&main] { return main.window()->isVisible(); }, 10000)
        && QTest::qWaitForWindowExposed(main.window());
}

void registerThroughTheForm(
    const MainWindowHarness &main, const QString &name, const QString &email, const QString &password)
{
    main.click(main.item(QStringLiteral("cornerLink")));
    main.typeInto(QStringLiteral("name"), name);
    main.typeInto(QStringLiteral("email"), email);
    main.typeInto(QStringLiteral("password"), password);
    main.typeInto(QStringLiteral("password2"), password);
    main.click(main.item(QStringLiteral("submit")));
}

// Once the form has had its answer: the layer gone or an error shown.
QString signInState(const MainWindowHarness &main)
{
    QQuickItem *layer = main.item(QStringLiteral("authLayer"));
    if (!QTest::qWaitFor(
            [layer] { return !layer->isVisible() || !layer->property("error").toString().isEmpty(); }, 10000))
        return QStringLiteral("no answer");
    return QStringLiteral("error '%1', layer %2, account %3")
        .arg(layer->property("error").toString(),
            layer->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden"),
            GlobalsInfo::getInstance()->getUserEmail());
}

// Fetches the newest row's mix in another format through the download window.
void fetchFromArchive(const MainWindowHarness &main, const QString &format)
{
    main.click(main.item(QStringLiteral("archiveButton")));
    auto *archive = waitForWindow<Archive>();
    if (!archive) {
        std::printf("archive: not shown\n");
        return;
    }
    QuickWidgetHarness list(archive);
    if (!QTest::qWaitFor(
            [&list] {
                return !list.rootProperty("isProcessing").toBool() && list.item(QStringLiteral("title_0"));
            },
            10000)) {
        std::printf("archive: empty\n");
        return;
    }
    // The list lays its rows out at the next frame.
    QTest::qWait(50);
    std::printf(
        "archive: %s\n", qPrintable(list.item(QStringLiteral("title_0"))->property("text").toString()));
    list.choose(QStringLiteral("format_0"), format);
    list.click(QStringLiteral("mixButton_0"));
    ArchiveHandler *handler = archive->handlerWindow();
    if (!handler || !handler->isVisible()) {
        std::printf("download window: not shown\n");
        return;
    }
    QuickWidgetHarness busy(handler, "mode");
    const QString first = busy.rootProperty("mode").toString();
    if (!QTest::qWaitFor([handler] { return !handler->isVisible(); }, 30000)) {
        std::printf("download window: still open\n");
        return;
    }
    std::printf(
        "download window: %s\n", qPrintable((QStringList { first } + busy.layers()).join(QLatin1Char(' '))));
    const QDir saved(GlobalsInfo::getInstance()->getSavePath());
    const QString wanted = QStringLiteral("*.") + format.toLower();
    std::printf(
        "fetched: %s\n", qPrintable(saved.entryList({ wanted }, QDir::Files).join(QStringLiteral(" | "))));
    list.click(QStringLiteral("closeButton"));
    waitForMainWindow(main);
}

// Sets the default output format for videos in the Settings window, then drops the video again to
// see it chosen already; the run is not started.
void changeDefaultVideoFormat(const MainWindowHarness &main, const QString &file, const QString &format)
{
    main.click(main.item(QStringLiteral("settingsButton")));
    auto *settings = waitForWindow<Settings>();
    if (!settings) {
        std::printf("settings: not shown\n");
        return;
    }
    QuickWidgetHarness form(settings);
    form.choose(QStringLiteral("videoFormat"), format);
    form.click(QStringLiteral("okButton"));
    std::printf("settings: %s\n", settings->isVisible() ? "still open" : "saved");
    waitForMainWindow(main);

    dropOn(main.window(), file);
    auto *window = waitForWindow<FileProcessing>();
    if (!window) {
        std::printf("no processing window\n");
        return;
    }
    QuickWidgetHarness screen(window);
    const auto *label = screen.item(QStringLiteral("formatButton"))->property("label").value<QObject *>();
    std::printf("preselected: %s\n", qPrintable(label->property("text").toString()));
    window->close();
    waitForMainWindow(main);
}

// Opens My Account and, given a name, edits it and saves; prints the name the window shows.
void myAccount(const MainWindowHarness &main, const QString &newName = {})
{
    main.click(main.item(QStringLiteral("myAccountButton")));
    auto *account = waitForWindow<MyAccount>();
    if (!account) {
        std::printf("my account: not shown\n");
        return;
    }
    QuickWidgetHarness form(account);
    if (!newName.isEmpty()) {
        form.click(QStringLiteral("editButton"));
        form.typeInto(QStringLiteral("nameField"), newName);
        form.click(QStringLiteral("saveButton"));
        const bool answered
            = QTest::qWaitFor([&form] { return !form.rootProperty("isProcessing").toBool(); }, 10000);
        std::printf("renamed: %s\n",
            !answered                                   ? "no answer"
                : form.rootProperty("editing").toBool() ? "no, still editing"
                                                        : "saved");
    }
    std::printf("my account: %s\n", qPrintable(form.rootProperty("name").toString()));
    form.click(QStringLiteral("cancelButton"));
    waitForMainWindow(main);
}

// One user's story from the first start: registers, takes a video to its results, fetches the mix
// again from the archive, changes a default and the account's name, logs out and signs in again.
void journey(const MainWindowHarness &main, const QStringList &script)
{
    const QString &file = script.at(1);
    const QString &email = script.at(3);
    const QString &password = script.at(4);
    // A box would stop the story unattended; each one is closed and told.
    ModalBoxCloser boxes(nullptr, ModalBoxCloser::Scope::MessageBoxesOnly);

    registerThroughTheForm(main, script.at(2), email, password);
    std::printf("registered: %s\n", qPrintable(signInState(main)));
    if (process(main, file, QStringLiteral("vocals"), QStringLiteral("MP4"))) {
        waitForMainWindow(main);
        fetchFromArchive(main, QStringLiteral("FLAC"));
        changeDefaultVideoFormat(main, file, QStringLiteral("MKV"));
        myAccount(main, script.at(5));

        main.click(main.item(QStringLiteral("helpButton")));
        auto *menu = main.window()->findChild<QObject *>(QStringLiteral("helpMenu"));
        if (!QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }, 5000))
            std::printf("help menu: not opened\n");
        main.click(main.item(QStringLiteral("logoutItem")));
        QQuickItem *layer = main.item(QStringLiteral("authLayer"));
        const bool shown = QTest::qWaitFor([layer] { return layer->isVisible(); }, 5000);
        std::printf("logged out: layer %s\n", shown ? "shown" : "hidden");

        if (layer->property("mode").toString() != QLatin1String("login"))
            main.click(main.item(QStringLiteral("cornerLink")));
        main.typeInto(QStringLiteral("email"), email);
        main.typeInto(QStringLiteral("password"), password);
        main.click(main.item(QStringLiteral("submit")));
        std::printf("signed in: %s\n", qPrintable(signInState(main)));
        myAccount(main);
    }
    std::printf("boxes: %s\n", qPrintable(boxes.seen().join(QStringLiteral(" | "))));
}

void play(const QStringList &script)
{
    MainWindowHarness main(mainWindow());
    if (script.value(0) == QLatin1String("tour") && script.size() == 3)
        tour(main, script.at(1), script.at(2));
    if (script.value(0) == QLatin1String("register") && script.size() == 4) {
        registerThroughTheForm(main, script.at(1), script.at(2), script.at(3));
        std::printf("error: %s\n", qPrintable(main.item(QStringLiteral("authLayer"))->property("error").toString()));
    }
    if (script.value(0) == QLatin1String("archive") && script.size() == 2)
        pictureArchive(main, script.at(1));
    if (script.value(0) == QLatin1String("process") && script.size() == 3)
        process(main, script.at(1), script.at(2));
    if (script.value(0) == QLatin1String("journey") && script.size() == 6)
        journey(main, script);
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
