#include "FileBytes.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "ModalBoxCloser.h"
#include "ScriptedHttpServer.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using Answer = ScriptedHttpServer::Answer;

namespace {

const QByteArray probePath = "/generate_204";
const QByteArray infoJson = R"({"user_id": 7, "name": "Ada", "email": "ada@example.org", "hash": "h-7"})";
const QString ada = QStringLiteral("ada@example.org");

QByteArray endpoint(const char *page)
{
    return QByteArray("/zelk-server/auth/") + page;
}

} // namespace

// The accounts controller against a scripted service: what it refuses before sending, what it sends,
// and how it reads the answers.
class tst_UserAuth final : public QObject
{
    Q_OBJECT

    GlobalsInfo *globals = nullptr;
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<ModalBoxCloser> boxes;

private slots:
    void initTestCase()
    {
        TempHome::createDocumentsFolder();
        globals = GlobalsInfo::getInstance();
    }

    void init()
    {
        server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(server->listen());
        server->script(probePath, Answer::text("", 204));
        globals->appSettings()->setValue(SettingsKeys::serviceUrl(), server->baseUrl().toString());
        globals->appSettings()->setValue(
            SettingsKeys::probeUrl(), server->url(QString::fromLatin1(probePath)).toString());
        boxes = std::make_unique<ModalBoxCloser>();
    }

    void cleanup()
    {
        boxes.reset();
        server.reset();
        QFile::remove(globals->authFilePath());
        globals->setPublicKey(QString());
    }

    void validation_data()
    {
        // clang-format off
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("marks");

        const QString badEmail = QStringLiteral("Invalid email format");
        const QString emptyPass = QStringLiteral("Field Password cannot be empty");
        const QString shortPass = QStringLiteral("Password must be 7 characters or more");
        const QString mismatch = QStringLiteral("The passwords don't match");
        const QString badCode = QStringLiteral("Invalid code format. Should be 6 digits");
        const QStringList email { "email" }, pass { "pass" }, both { "pass", "pass2" }, current { "pass3" };
        const auto row = [](const char *tag, const char *operation, const QStringList &args, const QString &message,
                             const QStringList &marks) { QTest::newRow(tag) << operation << args << message << marks; };

        row("login: no domain suffix", "login", { "a@b", "secret12" }, badEmail, email);
        row("login: empty password", "login", { "a@b.com", "" }, emptyPass, pass);
        row("login: address before password", "login", { "x", "" }, badEmail, email);
        row("register: empty name", "registration", { "", "bad", "", "" }, "Field Name cannot be empty", { "name" });
        row("register: two-letter name", "registration", { "Al", "a@b.com", "secret12", "secret12" },
            "Name must be 3 characters or more", { "name" });
        row("register: bad address", "registration", { "Ada", "a@b.c", "secret12", "secret12" }, badEmail, email);
        row("register: empty password", "registration", { "Ada", "a@b.com", "", "x" }, emptyPass, pass);
        row("register: six characters", "registration", { "Ada", "a@b.com", "123456", "123456" }, shortPass, pass);
        row("register: mismatch", "registration", { "Ada", "a@b.com", "secret12", "secret13" }, mismatch, both);
        row("recover: blank inside", "recover", { "a b@c.com" }, badEmail, email);
        row("recover: blank after", "recover", { "ada@example.org " }, badEmail, email);
        row("recover: no at sign", "recover", { "ada.example.org" }, badEmail, email);
        row("code: five digits", "checkCode", { "99999" }, badCode, { "code" });
        row("code: seven digits", "checkCode", { "1000000" }, badCode, { "code" });
        row("reset: mismatch", "reSetPassword", { "secret12", "secret21" }, mismatch, both);
        row("update password: short", "updatePassword", { "abc", "abc", "old12345" }, shortPass, pass);
        row("update password: no current", "updatePassword", { "new12345", "new12345", "" },
            "Field Current Password cannot be empty", current);
        row("update password: unchanged", "updatePassword", { "same1234", "same1234", "same1234" },
            "New Password cannot be the same as existing one", current);
        row("personal info: empty name", "updatePersonalInfo", { "", "a@b.com" }, "Field Name cannot be empty", {});
        row("personal info: bad address", "updatePersonalInfo", { "Ada", "ada@" }, badEmail, email);
        // clang-format on
    }

    void validation()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QFETCH(QStringList, marks);

        UserAuth auth;
        QSignalSpy fieldErrors(&auth, &UserAuth::fieldError);
        const auto arg = [&args](int i) { return args.value(i); };
        const QHash<QString, std::function<QString()>> calls {
            { "login", [&] { return auth.login(arg(0), arg(1)); } },
            { "registration", [&] { return auth.registration(arg(0), arg(1), arg(2), arg(3)); } },
            { "recover", [&] { return auth.recover(arg(0)); } },
            { "checkCode", [&] { return auth.checkCode(arg(0).toInt()); } },
            { "reSetPassword", [&] { return auth.reSetPassword(arg(0), arg(1)); } },
            { "updatePassword", [&] { return auth.updatePassword(arg(0), arg(1), arg(2), 7); } },
            { "updatePersonalInfo", [&] { return auth.updatePersonalInfo(arg(0), arg(1), 7); } },
        };
        QCOMPARE(calls.value(operation)(), message);

        QStringList marked;
        for (const QList<QVariant> &arguments : fieldErrors)
            marked << arguments.at(0).toString();
        QCOMPARE(marked, marks);
        QCOMPARE(server->requests().size(), 0);
        QCOMPARE(auth.remainingAttempts(), 3);
    }

    void passwordLeavesHashed()
    {
        // md5 of ")^!kq secret12 zx42m", computed with md5sum.
        QCOMPARE(UserAuth::hashPassword(QStringLiteral("secret12")),
            QStringLiteral("2193dadd41f66e95ea3683b348f73272"));

        server->script(endpoint("login.php"), Answer::text("Wrong password"));
        QCOMPARE(
            UserAuth().login(QStringLiteral("first.last+tag-x@mail.example.co"), QStringLiteral("secret12")),
            QStringLiteral("Wrong password"));

        const auto requests = server->requestsTo(endpoint("login.php"));
        QCOMPARE(requests.size(), 1);
        const auto items = requests.first().formItems();
        const QString key = items.value(2).second;
        QCOMPARE(items,
            (QList<QPair<QString, QString>> { { "email", "first.last+tag-x@mail.example.co" },
                { "password", UserAuth::hashPassword("secret12") }, { "publicKey", key },
                { "accessToken", globals->generateAccessToken(key) } }));
        QVERIFY(requests.first().body.contains("email=first.last+tag-x%40mail.example.co"));
        // The probe went first.
        QCOMPARE(server->requests().first().path, probePath);
    }

    void signInRefused_data()
    {
        // clang-format off
        QTest::addColumn<Answer>("loginAnswer");
        QTest::addColumn<Answer>("infoAnswer");
        QTest::addColumn<QString>("message");

        const auto row = [](const char *tag, const Answer &login, const Answer &info, const char *message) {
            QTest::newRow(tag) << login << info << QString::fromUtf8(message);
        };
        const Answer info = Answer::text(infoJson);
        row("service refuses", Answer::text("Wrong email or password"), info, "Wrong email or password");
        row("success with blanks is not success", Answer::text(" success"), info, " success");
        row("info request refused", Answer::text("success"), Answer::text("Database down"), "Database down");
        row("HTTP error", Answer::text("oops", 500), info,
            "Error: Error transferring %1/zelk-server/auth/login.php - server replied: Internal Server Error");
        row("empty answer", Answer::text(""), info, "The service gave no answer");
        // clang-format on
    }

    void signInRefused()
    {
        QFETCH(Answer, loginAnswer);
        QFETCH(Answer, infoAnswer);
        QFETCH(QString, message);

        server->script(endpoint("login.php"), loginAnswer);
        server->script(endpoint("getInfo.php"), infoAnswer);
        UserAuth auth;
        QSignalSpy success(&auth, &UserAuth::authSuccess);
        QCOMPARE(auth.login(ada, QStringLiteral("secret12")),
            message.replace(QStringLiteral("%1"), server->baseUrl().toString()));
        QCOMPARE(success.count(), 0);
        QVERIFY(!QFile::exists(globals->authFilePath()));
    }

    void unreachableService()
    {
        server->script(probePath, Answer::text("", 503));
        UserAuth auth;
        QCOMPARE(auth.recover(ada), QStringLiteral("No internet connection!"));
        QCOMPARE(server->requests().size(), 1);

        // A service that never answers ends in an error, not in a wait without end.
        server->script(probePath, Answer::text("", 204));
        server->script(endpoint("recover.php"), Answer::silent());
        auth.setTimeLimits(std::chrono::milliseconds(500), std::chrono::milliseconds(300));
        QElapsedTimer clock;
        clock.start();
        const QString text = auth.recover(ada);
        QVERIFY2(text.startsWith(QStringLiteral("Error: ")), qPrintable(text));
        QVERIFY(clock.elapsed() < 5000);
        server->script(probePath, Answer::silent());
        QCOMPARE(auth.recover(ada), QStringLiteral("No internet connection!"));
    }

    void recoveryCodeAttempts()
    {
        server->script(endpoint("recover.php"), Answer::text("success"));
        server->script(endpoint("checkCode.php"), Answer::text("Wrong code"));
        UserAuth auth;
        QCOMPARE(auth.recover(ada), QString());
        for (int attempt = 0; attempt < 3; ++attempt)
            QCOMPARE(auth.checkCode(123456 + attempt), QStringLiteral("Wrong code"));
        // The fourth is refused here, without asking the service.
        QCOMPARE(auth.checkCode(654321), QStringLiteral("3 attempts used. Please try again later."));
        QCOMPARE(server->requestsTo(endpoint("checkCode.php")).size(), 3);

        // A refused recovery request changes nothing; an accepted one gives three attempts again.
        server->script(endpoint("recover.php"), Answer::text("Too many requests"));
        QCOMPARE(auth.recover(ada), QStringLiteral("Too many requests"));
        QCOMPARE(auth.remainingAttempts(), 0);
        server->script(endpoint("recover.php"), Answer::text("success"));
        QCOMPARE(auth.recover(ada), QString());
        QCOMPARE(auth.remainingAttempts(), 3);

        // A failed exchange uses an attempt too.
        server->script(endpoint("checkCode.php"), Answer::reset());
        QVERIFY(auth.checkCode(123456).startsWith(QStringLiteral("Error: ")));
        QCOMPARE(auth.remainingAttempts(), 2);
    }

    void scrambleRoundTrip()
    {
        // Every length up to 400, and lengths that several candidate multipliers divide.
        QList<int> lengths { 2 * 3 * 5 * 7 * 11, 17 * 19 * 23 };
        for (int length = 0; length <= 400; ++length)
            lengths << length;
        for (const int length : lengths) {
            QString text;
            for (int i = 0; i < length; ++i)
                text += QChar(u'!' + QRandomGenerator::global()->bounded(94));
            const QString scrambled = UserAuth::scramble(text);
            QCOMPARE(scrambled.size(), length);
            QCOMPARE(UserAuth::unscramble(scrambled), text);
        }
        QCOMPARE(UserAuth::modInverse(6, 9), -1);
    }

    void authFileIsPrivateAndNeverClear()
    {
        const QString email = QStringLiteral("ada.lovelace@example.org");
        UserAuth auth;
        QSignalSpy success(&auth, &UserAuth::authSuccess);
        auth.createLoginFile(email);
        QCOMPARE(success.count(), 1);

        QCOMPARE(
            QFile::permissions(globals->authFilePath()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QByteArray first = readFile(globals->authFilePath());
        QVERIFY(!first.contains(email.toUtf8()));
        QVERIFY(!first.contains(email.toUtf8().toBase64()));
        const QString firstKey = globals->getPublicKey();
        QCOMPARE(firstKey.size(), 32);

        auth.createLoginFile(email);
        QVERIFY(readFile(globals->authFilePath()) != first);
        QVERIFY(globals->getPublicKey() != firstKey);
        // Replaced whole: no temporary file is left beside it.
        QCOMPARE(QDir(globals->getDocumentsPath()).entryList({ QStringLiteral("*.authkey*") }).size(), 1);
    }

    void initialCheck_data()
    {
        // clang-format off
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<Answer>("infoAnswer");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("fileKept");
        QTest::addColumn<QStringList>("boxesShown");

        QTest::newRow("no stored key") << "nothing" << Answer::text(infoJson) << false << false << QStringList();
        QTest::newRow("key without file") << "key" << Answer::text(infoJson) << false << false << QStringList();
        QTest::newRow("valid file") << "file" << Answer::text(infoJson) << true << true << QStringList();
        QTest::newRow("address unknown to the service")
                << "file" << Answer::text("This email not registered yet!") << false << false << QStringList();
        QTest::newRow("service trouble")
                << "file" << Answer::text("Database down") << false << true
                << QStringList { "[Auth Failed] Database down\n\nPlease try again later, or try to login" };
        // clang-format on
    }

    void initialCheck()
    {
        QFETCH(QString, setUp);
        QFETCH(Answer, infoAnswer);
        QFETCH(bool, signedIn);
        QFETCH(bool, fileKept);
        QFETCH(QStringList, boxesShown);

        if (setUp == QLatin1String("key"))
            globals->setPublicKey(globals->generateRandomString(32));
        if (setUp == QLatin1String("file"))
            UserAuth().createLoginFile(ada);
        server->script(endpoint("getInfo.php"), infoAnswer);
        globals->saveCustomerInfo({});

        UserAuth auth;
        QSignalSpy need(&auth, &UserAuth::needLogin);
        QSignalSpy noNeed(&auth, &UserAuth::noNeedLogin);
        auth.initialCheck();

        QCOMPARE(need.count(), signedIn ? 0 : 1);
        QCOMPARE(noNeed.count(), signedIn ? 1 : 0);
        QCOMPARE(QFile::exists(globals->authFilePath()), fileKept);
        QCOMPARE(boxes->seen(), boxesShown);
        // Only a stored sign-in is checked with the service, under the address it holds.
        const auto asked = server->requestsTo(endpoint("getInfo.php"));
        QCOMPARE(asked.size(), setUp == QLatin1String("file") ? 1 : 0);
        if (!asked.isEmpty())
            QCOMPARE(asked.first().formItems().value(0).second, ada);
        if (signedIn)
            QCOMPARE(globals->getUserName(), QStringLiteral("Ada"));
    }
};

QTEST_MAIN(tst_UserAuth)
#include "tst_userauth.moc"
