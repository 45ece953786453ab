#include "FileBytes.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "ModalBoxCloser.h"
#include "MyAccount/MyAccount.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"
#include "UserAuth/UserAuth.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>

namespace {

const QString startName = QStringLiteral("Ada Lovelace");
const QString startPassword = QStringLiteral("engine1843");
const QString takenAddress = QStringLiteral("taken@example.org");
const QString fresh = QStringLiteral("analytical");

} // namespace

// The My Account window, worked through its real document as a user would, against the local
// service. Every case starts signed in to an account of its own, in viewing mode.
class tst_MyAccount final : public QObject
{
    Q_OBJECT

    void editAndSave(const QString &name, const QString &email, const QString &password)
    {
        QVERIFY(screen->click(QStringLiteral("editButton")));
        QVERIFY(screen->typeInto(QStringLiteral("nameField"), name));
        QVERIFY(screen->typeInto(QStringLiteral("emailField"), email));
        QVERIFY(screen->typeInto(QStringLiteral("passwordField"), password));
        QVERIFY(screen->click(QStringLiteral("saveButton")));
    }
    // A later EDIT and SAVE that types no password: the panel must not come back with an old one.
    void saveAgainWithoutPassword()
    {
        QVERIFY(screen->click(QStringLiteral("editButton")));
        QCOMPARE(screen->item(QStringLiteral("passwordField"))->property("value").toString(), QString());
        QVERIFY(screen->click(QStringLiteral("saveButton")));
        QVERIFY(!flag("editing"));
        QVERIFY(!flag("updatingPassword"));
    }
    QString shown(const char *property) const { return screen->rootProperty(property).toString(); }
    bool flag(const char *property) const { return screen->rootProperty(property).toBool(); }
    QStringList marks() const
    {
        QStringList marked;
        for (const char *field : { "currentPassword", "newPassword", "confirmPassword" })
            if (screen->item(QLatin1String(field))->property("isError").toBool())
                marked << QLatin1String(field);
        return marked;
    }
    // Items of the view on show that reach outside the window.
    QStringList outside(const QStringList &names) const
    {
        const QRectF windowArea(QPointF(0, 0), QSizeF(window->size()));
        QStringList reaching;
        for (const QString &name : names) {
            const QQuickItem *item = screen->item(name);
            if (!item || !item->isVisible()
                || !windowArea.contains(item->mapRectToScene(QRectF(0, 0, item->width(), item->height()))))
                reaching << name;
        }
        return reaching;
    }
    // Keeps a picture of the window when ZELK_SCREENSHOT_DIR names a folder.
    void picture(const QString &name) const
    {
        const QString folder = qEnvironmentVariable("ZELK_SCREENSHOT_DIR");
        if (folder.isEmpty())
            return;
        // Typing shows once the next frame is drawn.
        QTest::qWait(100);
        window->grab().save(
            QStringLiteral("%1/account-%2-%3.png").arg(folder).arg(window->guiScale()).arg(name));
    }

    ServiceTestBed bed;
    std::unique_ptr<MyAccount> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<ModalBoxCloser> boxes;
    GlobalsInfo *globals = nullptr;
    QString email;
    int accounts = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(bed.setUp());
        // The harness waits out the double-click time between clicks; a short one keeps the runs quick.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(60);
        globals = GlobalsInfo::getInstance();
        QCOMPARE(UserAuth().registration(startName, takenAddress, startPassword, startPassword), QString());
        window = std::make_unique<MyAccount>();
        QVERIFY2(window->rootObject(), "the document did not load");
        screen = std::make_unique<QuickWidgetHarness>(window.get());
    }

    void init()
    {
        ServiceTestBed::useService(bed.service.url(QString()));
        email = QStringLiteral("ada.%1@example.org").arg(++accounts);
        QCOMPARE(UserAuth().registration(startName, email, startPassword, startPassword), QString());
        boxes = std::make_unique<ModalBoxCloser>();
        window->openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window->close();
        boxes.reset();
    }

    void cleanupTestCase()
    {
        screen.reset();
        window.reset();
        QVERIFY(bed.service.stop());
    }

    void saveWithoutChangeSendsNothing()
    {
        ScriptedHttpServer recorder;
        QVERIFY(recorder.listen());
        ServiceTestBed::useService(recorder.baseUrl());
        editAndSave(startName, email, fresh);

        QVERIFY(recorder.requests().isEmpty());
        QVERIFY(boxes->seen().isEmpty());
        // Taken as saved: a typed password goes on to its own panel.
        QVERIFY(flag("updatingPassword"));
        QCOMPARE(screen->item(QStringLiteral("newPassword"))->property("value").toString(), fresh);
    }

    // The name alone is the journey's; here the address changes too.
    void personalInfo_data()
    {
        // clang-format off
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::newRow("saved") << QStringLiteral("Ada King") << "a.king-%1@example.co.uk" << QString();
        QTest::newRow("short name") << QStringLiteral("Al") << QString() << "Name must be 3 characters or more";
        QTest::newRow("address taken") << startName << takenAddress << "This email is already registered";
        // clang-format on
    }

    void personalInfo()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, message);
        address = address.isEmpty() ? email : address.arg(accounts);
        const bool saved = message.isEmpty();
        const QByteArray signInBefore = readFile(globals->authFilePath());
        QVERIFY(!signInBefore.isEmpty());

        editAndSave(name, address, fresh);

        QCOMPARE(boxes->seen(), saved ? QStringList() : QStringList { "[Cannot update Data] " + message });
        QCOMPARE(flag("editing"), !saved);
        // The typed password goes on to its panel only once the rest is saved.
        QCOMPARE(flag("updatingPassword"), saved);
        QVERIFY(!flag("isProcessing"));
        QCOMPARE(shown("name"), name);
        QCOMPARE(shown("email"), address);
        QCOMPARE(globals->getUserName(), saved ? name : startName);
        QCOMPARE(globals->getUserEmail(), saved ? address : email);
        QCOMPARE(readFile(globals->authFilePath()) != signInBefore, saved);
        if (!saved)
            return;

        // The stored sign-in names the account's present address: the next start's check accepts it.
        UserAuth auth;
        QSignalSpy signedIn(&auth, &UserAuth::noNeedLogin);
        auth.initialCheck();
        QCOMPARE(signedIn.count(), 1);
        QCOMPARE(globals->getUserEmail(), address);
    }

    void passwordChange_data()
    {
        // clang-format off
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("marked");
        QTest::newRow("mismatch") << QStringLiteral("analytica1") << startPassword << "The passwords don't match"
                                  << QStringList { "newPassword", "confirmPassword" };
        QTest::newRow("wrong current") << fresh << QStringLiteral("not-the-one") << "Incorrect current password"
                                       << QStringList { "currentPassword" };
        QTest::newRow("accepted") << fresh << startPassword << QString() << QStringList();
        // clang-format on
    }

    void passwordChange()
    {
        QFETCH(QString, confirmation);
        QFETCH(QString, current);
        QFETCH(QString, message);
        QFETCH(QStringList, marked);

        // A new password opens a panel that asks for its confirmation and the current one.
        editAndSave(startName, email, fresh);
        QVERIFY(flag("updatingPassword"));
        QVERIFY(screen->typeInto(QStringLiteral("confirmPassword"), confirmation));
        QVERIFY(screen->typeInto(QStringLiteral("currentPassword"), current));
        QVERIFY(screen->click(QStringLiteral("submitButton")));
        const bool accepted = message.isEmpty();
        QCOMPARE(shown("passwordError"), message);
        QCOMPARE(screen->item(QStringLiteral("passwordErrorBox"))->isVisible(), !accepted);
        QCOMPARE(marks(), marked);
        QCOMPARE(flag("updatingPassword"), !accepted);
        QVERIFY(!flag("isProcessing"));
        QVERIFY(boxes->seen().isEmpty());
        QCOMPARE(UserAuth().login(email, accepted ? fresh : startPassword), QString());
        if (accepted) {
            QVERIFY(screen->item(QStringLiteral("mainView"))->isVisible());
            QCOMPARE(UserAuth().login(email, startPassword), QStringLiteral("Incorrect email or password"));
        } else {
            // Leaving the panel takes the text and the marks away.
            QVERIFY(screen->click(QStringLiteral("panelCancelButton")));
            QVERIFY(!flag("updatingPassword"));
            QCOMPARE(shown("passwordError"), QString());
            QCOMPARE(marks(), QStringList());
        }
        saveAgainWithoutPassword();
    }

    void discardForgetsThePassword()
    {
        QVERIFY(screen->click(QStringLiteral("editButton")));
        QVERIFY(screen->typeInto(QStringLiteral("passwordField"), fresh));
        QVERIFY(screen->click(QStringLiteral("discardButton")));
        saveAgainWithoutPassword();
    }

    void scaledLayout_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("size");
        QTest::newRow("1") << 1.0 << QSize(470, 600);
        QTest::newRow("1.25") << 1.25 << QSize(587, 750);
    }

    void scaledLayout()
    {
        QFETCH(double, scale);
        QFETCH(QSize, size);
        globals->setSettingsGuiScale(scale);
        window->close();
        window->openWindow();
        QCOMPARE(window->minimumSize(), size);
        QCOMPARE(window->maximumSize(), size);
        QCOMPARE(screen->rootProperty("scf").toDouble(), scale);
        const QStringList fields { "nameField", "passwordField", "emailField", "homeButton", "cancelButton" };

        QCOMPARE(outside(fields + QStringList { "editButton" }), QStringList());
        picture(QStringLiteral("viewing"));
        QVERIFY(screen->click(QStringLiteral("editButton")));
        QCOMPARE(outside(fields + QStringList { "saveButton", "discardButton" }), QStringList());
        QVERIFY(screen->typeInto(QStringLiteral("passwordField"), fresh));
        picture(QStringLiteral("editing"));
        QVERIFY(screen->click(QStringLiteral("saveButton")));
        QVERIFY(screen->click(QStringLiteral("submitButton")));
        QCOMPARE(shown("passwordError"), QStringLiteral("The passwords don't match"));
        QCOMPARE(outside({ "passwordErrorBox", "currentPassword", "newPassword", "confirmPassword",
                     "submitButton", "panelCancelButton" }),
            QStringList());
        picture(QStringLiteral("password-error"));
        globals->setSettingsGuiScale(1);
    }
};

QTEST_MAIN(tst_MyAccount)
#include "tst_myaccount.moc"
