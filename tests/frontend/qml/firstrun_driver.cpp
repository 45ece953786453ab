// Runs the real program and plays a user at its main window, printing what the user sees, then
// quits. The script in ZELK_E2E either only looks ("report") or lives one user's whole story
// ("journey:FILE:NAME:EMAIL:PASSWORD:NEW NAME", see journey() below). When ZELK_E2E_SHOTS names a
// folder, every screen of the processing run is pictured into it.
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

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString textOf(const QQuickItem *item)
{
    return item ? item->property("text").toString() : QString();
}

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
    say(QStringLiteral("layer: %1\nsize: %2x%3\naccount: %4")
            .arg(main.item(QStringLiteral("authLayer"))->isVisible() ? "shown" : "hidden")
            .arg(main.window()->width())
            .arg(main.window()->height())
            .arg(GlobalsInfo::getInstance()->getUserEmail()));
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

template <class Window> Window *waitForWindow()
{
    Window *shown = nullptr;
    const auto found = [&shown] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<Window *>(widget); window && window->isVisible())
                shown = window;
        return shown != nullptr;
    };
    if (!QTest::qWaitFor(found, 10000))
        say(QStringLiteral("not shown: ") + QLatin1String(Window::staticMetaObject.className()));
    return shown;
}

// The main window comes back whenever the window that hid it closes.
void waitForMainWindow(const MainWindowHarness &main)
{
    if (!QTest::qWaitFor([&main] { return main.window()->isVisible(); }, 10000)
        || !QTest::qWaitForWindowExposed(main.window()))
        say(QStringLiteral("main window: not back"));
}

// Drops the file on the main window, picks the instrument and the format, and follows the run,
// noting each remaining time the countdown shows. True when it ended on the success screen and
// both results were opened.
bool process(const MainWindowHarness &main, const QString &file, const QString &instrument, const QString &format)
{
    dropOn(main.window(), file);
    auto *window = waitForWindow<FileProcessing>();
    if (!window)
        return false;
    QuickWidgetHarness screen(window);
    say(QStringLiteral("file: ") + screen.rootProperty("fileName").toString());
    screen.click(QStringLiteral("instrumentButton"));
    screen.click(QStringLiteral("instrument_") + instrument);
    screen.choose(QStringLiteral("formatList"), format);
    say(QStringLiteral("chosen: %1 %2")
            .arg(screen.rootProperty("selectedInstrument").toString(),
                screen.rootProperty("selectedOutputFormat").toString()));
    screen.clearLayers();
    screen.click(QStringLiteral("processButton"));

    const QString shots = qEnvironmentVariable("ZELK_E2E_SHOTS");
    QStringList countdown;
    QString layer, pictured;
    QElapsedTimer time;
    time.start();
    for (;; QTest::qWait(20)) {
        layer = screen.rootProperty("currentLayer").toString();
        if (layer == QLatin1String("processing")) {
            const QString remaining = textOf(screen.item(QStringLiteral("remainingText")))
                                          .remove(QStringLiteral("Approximate Time Remaining: "));
            if (countdown.isEmpty() || countdown.constLast() != remaining)
                countdown << remaining;
        }
        if (!shots.isEmpty() && layer != pictured) {
            // The countdown needs a tick or two before there is anything to see.
            QTest::qWait(layer == QLatin1String("processing") ? 2500 : 300);
            window->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(screen.layers().size()).arg(layer));
            pictured = layer;
        }
        if (layer == QLatin1String("success") || layer == QLatin1String("select_instrument") || time.elapsed() > 60000)
            break;
    }
    say(QStringLiteral("screens: %1\ncountdown: %2").arg(screen.layers().join(' '), countdown.join(' ')));
    if (layer != QLatin1String("success"))
        return false;
    say(QStringLiteral("title: ") + textOf(screen.item(QStringLiteral("successTitle"))));
    screen.click(QStringLiteral("openMainButton"));
    screen.click(QStringLiteral("openMixButton"));
    say(QStringLiteral("results: %1 | %2").arg(window->mainResultPath(), window->mixResultPath()));
    window->close();
    waitForMainWindow(main);
    return true;
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
        .arg(layer->property("error").toString(), layer->isVisible() ? "shown" : "hidden",
            GlobalsInfo::getInstance()->getUserEmail());
}

// Fetches the newest row's mix in another format through the download window.
void fetchFromArchive(const MainWindowHarness &main, const QString &format)
{
    main.click(main.item(QStringLiteral("archiveButton")));
    auto *archive = waitForWindow<Archive>();
    if (!archive)
        return;
    QuickWidgetHarness list(archive);
    if (!QTest::qWaitFor(
            [&list] { return !list.rootProperty("isProcessing").toBool() && list.item(QStringLiteral("title_0")); },
            10000))
        return say(QStringLiteral("archive: empty"));
    // The list lays its rows out at the next frame.
    QTest::qWait(50);
    say(QStringLiteral("archive: ") + textOf(list.item(QStringLiteral("title_0"))));
    list.choose(QStringLiteral("format_0"), format);
    list.click(QStringLiteral("mixButton_0"));
    ArchiveHandler *handler = archive->handlerWindow();
    if (!handler || !handler->isVisible())
        return say(QStringLiteral("download window: not shown"));
    QuickWidgetHarness busy(handler, "mode");
    const QString first = busy.rootProperty("mode").toString();
    if (!QTest::qWaitFor([handler] { return !handler->isVisible(); }, 30000))
        return say(QStringLiteral("download window: still open"));
    say(QStringLiteral("download window: ") + (QStringList { first } + busy.layers()).join(' '));
    const QStringList fetched = QDir(GlobalsInfo::getInstance()->getSavePath())
                                    .entryList({ QStringLiteral("*.") + format.toLower() }, QDir::Files);
    say(QStringLiteral("fetched: ") + fetched.join(QStringLiteral(" | ")));
    list.click(QStringLiteral("closeButton"));
    waitForMainWindow(main);
}

// Sets the default output format for videos in the Settings window, then drops the video again to
// see it chosen already; the run is not started.
void changeDefaultVideoFormat(const MainWindowHarness &main, const QString &file, const QString &format)
{
    main.click(main.item(QStringLiteral("settingsButton")));
    auto *settings = waitForWindow<Settings>();
    if (!settings)
        return;
    QuickWidgetHarness form(settings);
    form.choose(QStringLiteral("videoFormat"), format);
    form.click(QStringLiteral("okButton"));
    say(QStringLiteral("settings: ") + (settings->isVisible() ? "still open" : "saved"));
    waitForMainWindow(main);

    dropOn(main.window(), file);
    auto *window = waitForWindow<FileProcessing>();
    if (!window)
        return;
    const QuickWidgetHarness screen(window);
    const auto *label = screen.item(QStringLiteral("formatButton"))->property("label").value<QQuickItem *>();
    say(QStringLiteral("preselected: ") + textOf(label));
    window->close();
    waitForMainWindow(main);
}

// Opens My Account and, given a name, edits it and saves; prints the name the window shows.
void myAccount(const MainWindowHarness &main, const QString &newName = {})
{
    main.click(main.item(QStringLiteral("myAccountButton")));
    auto *account = waitForWindow<MyAccount>();
    if (!account)
        return;
    QuickWidgetHarness form(account);
    if (!newName.isEmpty()) {
        form.click(QStringLiteral("editButton"));
        form.typeInto(QStringLiteral("nameField"), newName);
        form.click(QStringLiteral("saveButton"));
        const bool answered = QTest::qWaitFor([&form] { return !form.rootProperty("isProcessing").toBool(); }, 10000);
        say(QStringLiteral("renamed: ")
            + (!answered ? "no answer" : form.rootProperty("editing").toBool() ? "no, still editing" : "saved"));
    }
    say(QStringLiteral("my account: ") + form.rootProperty("name").toString());
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
    say(QStringLiteral("registered: ") + signInState(main));
    if (process(main, file, QStringLiteral("vocals"), QStringLiteral("MP4"))) {
        fetchFromArchive(main, QStringLiteral("FLAC"));
        changeDefaultVideoFormat(main, file, QStringLiteral("MKV"));
        myAccount(main, script.at(5));

        main.click(main.item(QStringLiteral("helpButton")));
        auto *menu = main.window()->findChild<QObject *>(QStringLiteral("helpMenu"));
        if (!QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }, 5000))
            say(QStringLiteral("help menu: not opened"));
        main.click(main.item(QStringLiteral("logoutItem")));
        QQuickItem *layer = main.item(QStringLiteral("authLayer"));
        const bool shown = QTest::qWaitFor([layer] { return layer->isVisible(); }, 5000);
        // Usable again would mean a button under the layer still answers.
        say(QStringLiteral("logged out: layer %1, archive button %2")
                .arg(shown ? "shown" : "hidden",
                    main.item(QStringLiteral("archiveButton"))->isEnabled() ? "enabled" : "disabled"));

        if (layer->property("mode").toString() != QLatin1String("login"))
            main.click(main.item(QStringLiteral("cornerLink")));
        main.typeInto(QStringLiteral("email"), email);
        main.typeInto(QStringLiteral("password"), password);
        main.click(main.item(QStringLiteral("submit")));
        say(QStringLiteral("signed in: ") + signInState(main));
        myAccount(main);
    }
    say(QStringLiteral("boxes: ") + boxes.seen().join(QStringLiteral(" | ")));
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
    const MainWindowHarness main(window);
    const QStringList script = qEnvironmentVariable("ZELK_E2E").split(QLatin1Char(':'));
    if (script.value(0) == QLatin1String("journey") && script.size() == 6)
        journey(main, script);
    report(main);
    QCoreApplication::quit();
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
