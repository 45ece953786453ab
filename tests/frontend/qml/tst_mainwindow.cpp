#include "BackendLoader/BackendLoader.h"
#include "FileBytes.h"
#include "FileProcessing/FileProcessing.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "MainWindowHarness.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "ServiceProcess.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"
#include "main/Startup.h"

#include <QApplication>
#include <QFile>
#include <QQuickStyle>
#include <QRegularExpression>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>

const QString ada = QStringLiteral("ada@example.org");

// The real main window and its sign-in layer, typed into and clicked against the local service.
class tst_MainWindow final : public QObject
{
    Q_OBJECT

    QQuickItem *item(const char *name) const { return main->item(QLatin1String(name)); }
    QString layer(const char *property) const { return item("authLayer")->property(property).toString(); }
    QString error() const { return layer("error"); }
    bool marked(const char *field) const { return item(field)->property("isError").toBool(); }
    bool shown(const char *name) const { return item(name)->isVisible(); }
    QString value(const char *field) const { return item(field)->property("value").toString(); }
    void clickItem(const char *name) const { main->click(item(name)); }
    void type(const char *field, const QString &text) const { main->typeInto(QLatin1String(field), text); }
    bool errorBoxShown(const char *name) const
    {
        return item(name)->findChild<QQuickItem *>("redBox")->isVisible();
    }
    // Opens the main window afresh, signed in or not, and waits until the start-up check has decided.
    void reopen(bool signedIn)
    {
        main.reset();
        if (signedIn)
            UserAuth().createLoginFile(ada);
        else
            QFile::remove(globals->authFilePath());
        main = std::make_unique<MainWindowHarness>();
        QVERIFY(main->waitUntilDecided());
    }
    // Keeps a picture of the main window when ZELK_SCREENSHOT_DIR names a folder.
    void picture(const QString &name) const
    {
        const QString folder = qEnvironmentVariable("ZELK_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            main->window()->grabWindow().save(QStringLiteral("%1/%2.png").arg(folder, name));
    }
    // The last code the service mailed to that address.
    QString mailedCode(const QString &email) const
    {
        const QString outbox
            = QString::fromUtf8(readFile(serviceData.filePath(QStringLiteral("outbox.txt"))));
        const qsizetype at = outbox.lastIndexOf(QLatin1Char('\t') + email + QLatin1Char('\t'));
        return at < 0 ? QString() : outbox.mid(at + email.size() + 2).section(QLatin1Char('\n'), 0, 0);
    }

    GlobalsInfo *globals = nullptr;
    QTemporaryDir serviceData;
    ServiceProcess service;
    ModalBoxCloser boxes;
    std::unique_ptr<MainWindowHarness> main;

private slots:
    void initTestCase()
    {
        // The harness waits out the double-click time between clicks; a short one keeps the runs quick.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(60);
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        registerQmlTypes();
        TempHome::createDocumentsFolder();
        globals = GlobalsInfo::getInstance();
        QVERIFY(service.start(serviceData.path(), 0));
        globals->appSettings()->setValue(SettingsKeys::serviceUrl(), service.url(QString()).toString());
        globals->appSettings()->setValue(
            SettingsKeys::probeUrl(), service.url(QStringLiteral("/generate_204")).toString());
        QCOMPARE(UserAuth().registration(
                     QStringLiteral("Ada"), ada, QStringLiteral("engine1843"), QStringLiteral("engine1843")),
            QString());
    }

    void cleanupTestCase() { QVERIFY(service.stop()); }

    void init()
    {
        boxes.clear();
        // As a new run of the program: nobody signed in before.
        globals->saveCustomerInfo({});
        reopen(false);
    }

    void cleanup()
    {
        main.reset();
        QCOMPARE(boxes.seen(), QStringList());
        globals->appSettings()->remove(SettingsKeys::guiScale());
    }

    void dropOpensTheFirstFileOnly_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("box");
        QTest::newRow("signed in") << true << "My Song.mp3"
                                   << "";
        // The sign-in layer covers the window: nothing is processed for nobody.
        QTest::newRow("signed out") << false << "My Song.mp3"
                                    << "";
        QTest::newRow("no sound") << true << "notes.txt"
                                  << "[Unreadable File] This file has no sound ZELK can read: notes.txt";
    }

    void dropOpensTheFirstFileOnly()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, first);
        QFETCH(QString, box);
        reopen(signedIn);
        const QString music = TempHome::createDocumentsFolder();
        QList<QUrl> urls;
        for (const QString &name : { first, QStringLiteral("other.wav") }) {
            QVERIFY(MediaSamples::makeAudio(
                music + QLatin1Char('/') + name, { "-c:a", "libmp3lame", "-f", "mp3" }));
            urls << QUrl::fromLocalFile(music + QLatin1Char('/') + name);
        }
        // While the file and the service are checked, the main window stays, under its cover.
        QStringList covered;
        auto *loader = main->window()->findChild<BackendLoader *>();
        QVERIFY(loader);
        connect(loader, &BackendLoader::fileCheck, this, [&](bool busy) {
            covered << QStringLiteral("%1 %2 %3")
                           .arg(busy)
                           .arg(main->window()->isVisible())
                           .arg(shown("initialLoader"));
        });
        main->drop(urls);
        const bool opens = signedIn && box.isEmpty();
        QTRY_COMPARE(main->window()->isVisible(), !opens);
        QCOMPARE(covered, signedIn ? (QStringList { "1 1 1", "0 1 0" }) : QStringList());
        QStringList opened;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<FileProcessing *>(widget); window && window->isVisible())
                opened << window->rootObject()->property("fileName").toString();
        QCOMPARE(opened, opens ? QStringList { first } : QStringList());
        QCOMPARE(boxes.seen(), box.isEmpty() ? QStringList() : QStringList { box });
        boxes.clear();
    }

    void helpMenuAtTheScaleAndItsReset()
    {
        globals->setSettingsGuiScale(1.5);
        globals->appSettings()->setValue(SettingsKeys::logFileEnabled(), true);
        reopen(true);
        globals->appSettings()->remove(SettingsKeys::logFileEnabled());
        QTRY_COMPARE(main->window()->size(), QSize(705, 315));
        QQuickItem *resetItem = item("resetScaleItem");
        QCOMPARE(resetItem->height(), 22 * 1.5);
        QCOMPARE(item("loggingItem")->property("text").toString(), QStringLiteral("Logging: ON"));

        QVERIFY(main->openHelpMenu());
        // Laid out at the current scale: the last of nine entries sits below the eight others.
        QCOMPARE(resetItem->y(), 8 * 22 * 1.5);
        const auto *indicator = item("loggingItem")->property("indicator").value<QQuickItem *>();
        QCOMPARE(
            indicator->mapRectToScene(indicator->boundingRect()).height(), indicator->implicitHeight() * 1.5);
        main->click(resetItem);

        QTRY_COMPARE(main->window()->size(), QSize(470, 210));
        QVERIFY(!globals->appSettings()->contains(SettingsKeys::guiScale()));
        // At scale 1 the entry is gone from the menu and takes no room.
        QCOMPARE(resetItem->height(), 0.0);
        QVERIFY(!resetItem->isEnabled());
    }

    void helpMenuSaysWhatCannotBeDone_data()
    {
        // clang-format off
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("box");
        // The offscreen desktop opens nothing, as a machine without a browser or file manager.
        QTest::newRow("help desk") << "helpDeskItem"
                                   << "[Cannot Open] The desktop could not open:\n\nhttps://www.orvanesoftware.com/helpdesk.html";
        QTest::newRow("logs") << "showLogsItem" << "[Cannot Open] The desktop could not open:\n\n" + globals->getLogsAppPath();
        QTest::newRow("no updater") << "updatesItem" << "[Check For Updates] Updates are not available in this build.";
        // clang-format on
    }

    void helpMenuSaysWhatCannotBeDone()
    {
        QFETCH(QString, item);
        QFETCH(QString, box);
        reopen(true);
        QVERIFY(main->openHelpMenu());
        main->click(main->item(item));
        QTRY_COMPARE(boxes.seen(), QStringList { box });
        boxes.clear();
    }

    void comesBackWhereItWas()
    {
        reopen(true);
        auto *loader = main->window()->findChild<BackendLoader *>();
        QVERIFY(loader);
        main->window()->setPosition(120, 80);
        clickItem("archiveButton");
        QTRY_VERIFY(!main->window()->isVisible());
        // Placed elsewhere while hidden, as a window manager may do.
        main->window()->setPosition(500, 400);
        loader->archiveWindow()->close();
        QTRY_VERIFY(main->window()->isVisible());
        QCOMPARE(main->window()->position(), QPoint(120, 80));
    }

    void registerFormByTabThenMismatch()
    {
        clickItem("cornerLink");
        type("name", QStringLiteral("Ada"));
        for (const char *text : { "ada@example.org", "secret12", "secret21" }) {
            QTest::keyClick(main->window(), Qt::Key_Tab);
            for (const char c : QByteArray(text))
                QTest::keyClick(main->window(), c);
        }
        QCOMPARE(value("email"), ada);
        QCOMPARE(value("password2"), QStringLiteral("secret21"));
        clickItem("submit");
        QCOMPARE(error(), QStringLiteral("The passwords don't match"));
        QVERIFY(errorBoxShown("errorBox"));
        QVERIFY(marked("password") && marked("password2"));
        QVERIFY(!marked("name") && !marked("email"));

        // Another form drops the errors and keeps the text.
        clickItem("cornerLink");
        QCOMPARE(layer("mode"), QStringLiteral("login"));
        QCOMPARE(error(), QString());
        QVERIFY(!errorBoxShown("errorBox"));
        QVERIFY(!marked("password"));
        // In "recover" the address is the only input: Tab stays there.
        clickItem("forgotLink");
        type("email", QStringLiteral("x"));
        QTest::keyClick(main->window(), Qt::Key_Tab);
        QTest::keyClick(main->window(), 'y');
        QCOMPARE(value("email"), QStringLiteral("ada@example.orgxy"));
        QCOMPARE(value("password"), QStringLiteral("secret12"));
    }

    // Ada's password changes here; no other case signs in with it.
    void recoveryWithTheMailedCode()
    {
        clickItem("forgotLink");
        QCOMPARE(layer("mode"), QStringLiteral("recover"));
        for (const char *name : { "name", "password", "password2", "forgotLink" })
            QVERIFY2(!shown(name), name);
        type("email", ada);
        clickItem("submit");
        QCOMPARE(error(), QString());
        QCOMPARE(layer("layerMode"), QStringLiteral("code_form"));
        QCOMPARE(value("email"), QString());
        const QString code = mailedCode(ada);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch());

        // A wrong code: the service's own text, and no red border on the code.
        type("code", code == QLatin1String("111111") ? QStringLiteral("222222") : QStringLiteral("111111"));
        clickItem("codeSubmit");
        QVERIFY(!error().isEmpty());
        QVERIFY(errorBoxShown("codeErrorBox"));
        QVERIFY(!marked("code"));
        clickItem("cornerLink");
        QCOMPARE(layer("layerMode"), QStringLiteral("basic"));
        QCOMPARE(layer("mode"), QStringLiteral("login"));
        QCOMPARE(error(), QString());

        // A new code, the right one this time.
        clickItem("forgotLink");
        type("email", ada);
        clickItem("submit");
        item("code")->setProperty("value", QString());
        type("code", mailedCode(ada));
        clickItem("codeSubmit");
        QCOMPARE(error(), QString());
        QCOMPARE(layer("layerMode"), QStringLiteral("basic"));
        QCOMPARE(layer("mode"), QStringLiteral("create new password"));
        QVERIFY(!shown("email"));
        QVERIFY(shown("cornerLink"));
        QCOMPARE(item("password")->property("label").toString(), QStringLiteral("New Password"));

        type("password", QStringLiteral("second-pass"));
        type("password2", QStringLiteral("second-pass"));
        clickItem("submit");
        QCOMPARE(error(), QString());
        // The login form says so, with the address filled in.
        QCOMPARE(layer("mode"), QStringLiteral("login"));
        QCOMPARE(layer("notice"),
            QStringLiteral("Your password has been changed. Please sign in with the new password."));
        QVERIFY(errorBoxShown("errorBox"));
        QVERIFY(item("errorBox")->property("good").toBool());
        QCOMPARE(value("email"), ada);
        QCOMPARE(value("password"), QString());
        picture(QStringLiteral("login-after-reset"));

        // The new password signs in.
        type("password", QStringLiteral("second-pass"));
        clickItem("submit");
        QCOMPARE(error(), QString());
        QVERIFY(!item("authLayer")->isVisible());
    }

    // A sign-out offers the login form with the address (after a registration: the journey's part).
    void logoutShowsLoginWithTheAddress()
    {
        reopen(true);
        QVERIFY(!item("authLayer")->isVisible());
        QVERIFY(main->openHelpMenu());
        main->click(item("logoutItem"));

        QTRY_VERIFY(item("authLayer")->isVisible());
        QCOMPARE(layer("mode"), QStringLiteral("login"));
        QCOMPARE(value("email"), ada);
        QCOMPARE(value("password"), QString());
        QVERIFY(!errorBoxShown("errorBox"));
        picture(QStringLiteral("login-after-logout"));
    }

    void errorKeepsTheFormInPlace_data()
    {
        // clang-format off
        QTest::addColumn<bool>("registering");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("error");
        // Enter in the field typed into last submits the form, from the main keys or the keypad.
        QTest::newRow("login, Return") << false << int(Qt::Key_Return) << "Invalid email format";
        QTest::newRow("register, keypad Enter") << true << int(Qt::Key_Enter) << "Password must be 7 characters or more";
        // clang-format on
    }

    void errorKeepsTheFormInPlace()
    {
        QFETCH(bool, registering);
        QFETCH(int, key);
        QFETCH(QString, error);
        if (registering) {
            clickItem("cornerLink");
            type("email", ada);
            type("password2", QStringLiteral("abc"));
        }
        type("password", registering ? QStringLiteral("abc") : QStringLiteral("secret12"));
        if (registering)
            type("name", QStringLiteral("Ada"));
        QQuickItem *field = item("password");
        const QPointF before = field->mapToScene(QPointF(field->width() / 2, 0));
        QTest::keyClick(
            main->window(), Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(this->error(), error);

        // The message takes the room kept for it, on one line; the inputs stay under the centred title.
        QCOMPARE(field->mapToScene(QPointF(field->width() / 2, 0)), before);
        QCOMPARE(item("errorBox")->property("lineCount").toInt(), 1);
        QQuickItem *title = item("title");
        QVERIFY(qAbs(before.x() - title->mapToScene(QPointF(title->width() / 2, 0)).x()) <= 1);
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
