// Runs the real program as a user at its main window, printing what the user sees, then quits.
// ZELK_E2E is "journey:FILE:NAME:EMAIL:PASSWORD:NEW NAME"; ZELK_E2E_SHOTS names a folder for a picture
// of every screen of the processing run.
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
#include <QFile>
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

// While the sign-in layer covers the window, no button under it may answer.
QString cover(const MainWindowHarness &main)
{
    QStringList usable;
    for (const char *button :
        { "myAccountButton", "helpButton", "selectFileButton", "settingsButton", "archiveButton" })
        if (main.item(QLatin1String(button))->isEnabled())
            usable << QLatin1String(button);
    return QStringLiteral("layer %1, usable '%2', size %3x%4")
        .arg(main.item(QStringLiteral("authLayer"))->isVisible() ? "shown" : "hidden", usable.join(' '))
        .arg(main.window()->width())
        .arg(main.window()->height());
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
    if (!QTest::qWaitForWindowExposed(main.window(), 10000))
        say(QStringLiteral("main window: not back"));
}

// Drops the file on the main window, picks the instrument and the format, and follows the run,
// noting each remaining time the countdown shows. True when it ended on the success screen and
// both results were opened.
bool process(
    const MainWindowHarness &main, const QString &file, const QString &instrument, const QString &format)
{
    main.drop({ QUrl::fromLocalFile(file) });
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
    const bool ended = QTest::qWaitFor(
        [&] {
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
                window->grab().save(
                    QStringLiteral("%1/%2-%3.png").arg(shots).arg(screen.layers().size()).arg(layer));
                pictured = layer;
            }
            return layer == QLatin1String("success") || layer == QLatin1String("select_instrument");
        },
        60000);
    say(QStringLiteral("screens: %1\ncountdown: %2").arg(screen.layers().join(' '), countdown.join(' ')));
    if (!ended || layer != QLatin1String("success"))
        return false;
    say(QStringLiteral("title: ") + textOf(screen.item(QStringLiteral("successTitle"))));
    screen.click(QStringLiteral("openMainButton"));
    screen.click(QStringLiteral("openMixButton"));
    say(QStringLiteral("results: %1 | %2").arg(window->mainResultPath(), window->mixResultPath()));
    window->close();
    waitForMainWindow(main);
    return true;
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
            [&list] {
                return !list.rootProperty("isProcessing").toBool() && list.item(QStringLiteral("title_0"));
            },
            10000))
        return say(QStringLiteral("archive: empty"));
    // The list lays its rows out at the next frame.
    QTest::qWait(50);
    say(QStringLiteral("archive: ") + textOf(list.item(QStringLiteral("title_0"))));
    list.choose(QStringLiteral("format_0"), format);
    list.click(QStringLiteral("mixButton_0"));
    // The download window closes once the mix is fetched and converted.
    const ArchiveHandler *handler = archive->handlerWindow();
    if (!handler || !QTest::qWaitFor([handler] { return !handler->isVisible(); }, 30000))
        return say(QStringLiteral("download window: still open"));
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

    main.drop({ QUrl::fromLocalFile(file) });
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
        const bool answered
            = QTest::qWaitFor([&form] { return !form.rootProperty("isProcessing").toBool(); }, 10000);
        say(QStringLiteral("renamed: ")
            + (!answered                                    ? "no answer"
                    : form.rootProperty("editing").toBool() ? "no, still editing"
                                                            : "saved"));
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

    say(QStringLiteral("first start: ") + cover(main));
    main.click(main.item(QStringLiteral("cornerLink")));
    QQuickItem *passwordField = main.item(QStringLiteral("password"));
    main.click(passwordField->findChild<QQuickItem *>(QStringLiteral("eye")));
    say(QStringLiteral("eye: ") + (passwordField->property("passwordVisible").toBool() ? "open" : "closed"));
    main.typeInto(QStringLiteral("name"), script.at(2));
    main.typeInto(QStringLiteral("email"), email);
    main.typeInto(QStringLiteral("password"), password);
    main.typeInto(QStringLiteral("password2"), password);
    main.click(main.item(QStringLiteral("submit")));
    say(QStringLiteral("registered: ") + signInState(main));
    if (process(main, file, QStringLiteral("vocals"), QStringLiteral("MP4"))) {
        fetchFromArchive(main, QStringLiteral("FLAC"));
        changeDefaultVideoFormat(main, file, QStringLiteral("MKV"));
        myAccount(main, script.at(5));

        if (!main.openHelpMenu())
            say(QStringLiteral("help menu: not opened"));
        main.click(main.item(QStringLiteral("logoutItem")));
        QQuickItem *layer = main.item(QStringLiteral("authLayer"));
        if (!QTest::qWaitFor([layer] { return layer->isVisible(); }, 5000))
            say(QStringLiteral("logout: no layer"));
        // The login form comes back with the address alone, and a password typed now must not show in clear.
        QStringList kept;
        for (const char *name : { "name", "password", "password2" }) {
            const QQuickItem *field = main.item(QLatin1String(name));
            if (!field->property("value").toString().isEmpty() || field->property("passwordVisible").toBool())
                kept << QLatin1String(name);
        }
        say(QStringLiteral("logged out: %1, form %2, address %3, kept '%4', sign-in %5")
                .arg(cover(main), layer->property("mode").toString(),
                    main.item(QStringLiteral("email"))->property("value").toString(), kept.join(' '),
                    QFile::exists(GlobalsInfo::getInstance()->authFilePath()) ? "kept" : "deleted"));

        main.typeInto(QStringLiteral("password"), password);
        main.click(main.item(QStringLiteral("submit")));
        say(QStringLiteral("signed in: ") + signInState(main));
        myAccount(main);
    }
    say(QStringLiteral("boxes: ") + boxes.seen().join(QStringLiteral(" | ")));
}

// Waits, from the program's start, for the window and for the start-up check to finish before the
// user acts.
void waitForTheWindow()
{
    QQuickWindow *window = nullptr;
    for (QWindow *top : QGuiApplication::topLevelWindows())
        if (top->findChild<QObject *>(QStringLiteral("authLayer")))
            window = qobject_cast<QQuickWindow *>(top);
    QObject *loading = window ? window->findChild<QObject *>(QStringLiteral("initialLoader")) : nullptr;
    if (!loading || loading->property("visible").toBool()) {
        QTimer::singleShot(50, qApp, &waitForTheWindow);
        return;
    }
    const MainWindowHarness main(window);
    const QStringList script = qEnvironmentVariable("ZELK_E2E").split(QLatin1Char(':'));
    if (script.value(0) == QLatin1String("journey") && script.size() == 6)
        journey(main, script);
    say(QStringLiteral("end: %1, account %2").arg(cover(main), GlobalsInfo::getInstance()->getUserEmail()));
    QCoreApplication::quit();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(waitForTheWindow)

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
