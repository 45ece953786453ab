#include "GlobalsInfo/GlobalsInfo.h"
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

} // namespace

class tst_UserAuth final : public QObject
{
    Q_OBJECT

public:
    tst_UserAuth() = default;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void validation_data();
    void validation();
    void emailAddresses_data();
    void emailAddresses();
    void passwordLeavesHashed();

    void signInWritesTheAuthFile();
    void signInRefused_data();
    void signInRefused();
    void noInternetSendsNothing();
    void silentServiceEndsInAnError();

    void recoveryCodes();
    void recoveryResetsAttempts();
    void networkFailureUsesAnAttempt();
    void resetPasswordAfterCode();
    void updatePasswordMarksWrongCurrent();

    void scrambleRoundTrip();
    void modInverse_data();
    void modInverse();
    void authFileIsPrivateAndNeverClear();

    void initialCheck_data();
    void initialCheck();
    void archiveList();

private:
    Q_DISABLE_COPY_MOVE(tst_UserAuth)

    QString call(UserAuth &auth, const QString &operation, const QStringList &args);
    void writeAuthFileFor(const QString &email);

    GlobalsInfo *globals = nullptr;
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<ModalBoxCloser> boxes;
};

void tst_UserAuth::initTestCase()
{
    TempHome::createDocumentsFolder();
    globals = GlobalsInfo::getInstance();
}

void tst_UserAuth::init()
{
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
    server->script(probePath, Answer::text("", 204));
    globals->appSettings()->setValue(QStringLiteral("service_url"), server->baseUrl().toString());
    globals->appSettings()->setValue(QStringLiteral("probe_url"), server->url(QString::fromLatin1(probePath)).toString());
    boxes = std::make_unique<ModalBoxCloser>();
}

void tst_UserAuth::cleanup()
{
    boxes.reset();
    server.reset();
    QFile::remove(globals->authFilePath());
    globals->setPublicKey(QString());
}

QString tst_UserAuth::call(UserAuth &auth, const QString &operation, const QStringList &args)
{
    const auto arg = [&args](int i) { return args.value(i); };
    if (operation == QLatin1String("login"))
        return auth.login(arg(0), arg(1));
    if (operation == QLatin1String("registration"))
        return auth.registration(arg(0), arg(1), arg(2), arg(3));
    if (operation == QLatin1String("recover"))
        return auth.recover(arg(0));
    if (operation == QLatin1String("checkCode"))
        return auth.checkCode(arg(0).toInt());
    if (operation == QLatin1String("reSetPassword"))
        return auth.reSetPassword(arg(0), arg(1));
    if (operation == QLatin1String("updatePassword"))
        return auth.updatePassword(arg(0), arg(1), arg(2), 7);
    if (operation == QLatin1String("updatePersonalInfo"))
        return auth.updatePersonalInfo(arg(0), arg(1), 7);
    QTest::qFail("unknown operation", __FILE__, __LINE__);
    return {};
}

void tst_UserAuth::validation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("marks");

    const QString badEmail = QStringLiteral("Invalid email format");
    const QString emptyPass = QStringLiteral("Field Password cannot be empty");
    const QString shortPass = QStringLiteral("Password must be 7 characters or more");
    const QString mismatch = QStringLiteral("The passwords don't match");
    const QStringList both { "pass", "pass2" };

    QTest::newRow("login: empty address") << "login" << QStringList { "", "secret12" } << badEmail << QStringList { "email" };
    QTest::newRow("login: no domain suffix") << "login" << QStringList { "a@b", "secret12" } << badEmail << QStringList { "email" };
    QTest::newRow("login: empty password") << "login" << QStringList { "a@b.com", "" } << emptyPass << QStringList { "pass" };
    QTest::newRow("login: address before password") << "login" << QStringList { "x", "" } << badEmail << QStringList { "email" };

    QTest::newRow("register: empty name") << "registration" << QStringList { "", "bad", "", "" }
                                          << "Field Name cannot be empty" << QStringList { "name" };
    QTest::newRow("register: two-letter name") << "registration" << QStringList { "Al", "a@b.com", "secret12", "secret12" }
                                               << "Name must be 3 characters or more" << QStringList { "name" };
    QTest::newRow("register: bad address") << "registration" << QStringList { "Ada", "a@b.c", "secret12", "secret12" }
                                           << badEmail << QStringList { "email" };
    QTest::newRow("register: empty password") << "registration" << QStringList { "Ada", "a@b.com", "", "x" }
                                              << emptyPass << QStringList { "pass" };
    QTest::newRow("register: six characters") << "registration" << QStringList { "Ada", "a@b.com", "123456", "123456" }
                                              << shortPass << QStringList { "pass" };
    QTest::newRow("register: mismatch") << "registration" << QStringList { "Ada", "a@b.com", "secret12", "secret13" }
                                        << mismatch << both;

    QTest::newRow("recover: bad address") << "recover" << QStringList { "a b@c.com" } << badEmail << QStringList { "email" };

    const QString badCode = QStringLiteral("Invalid code format. Should be 6 digits");
    QTest::newRow("code: five digits") << "checkCode" << QStringList { "99999" } << badCode << QStringList { "code" };
    QTest::newRow("code: seven digits") << "checkCode" << QStringList { "1000000" } << badCode << QStringList { "code" };
    QTest::newRow("code: not a number") << "checkCode" << QStringList { "12a456" } << badCode << QStringList { "code" };

    QTest::newRow("reset: empty") << "reSetPassword" << QStringList { "", "" } << emptyPass << QStringList { "pass" };
    QTest::newRow("reset: short") << "reSetPassword" << QStringList { "abc", "abc" } << shortPass << QStringList { "pass" };
    QTest::newRow("reset: mismatch") << "reSetPassword" << QStringList { "secret12", "secret21" } << mismatch << both;

    QTest::newRow("update password: empty") << "updatePassword" << QStringList { "", "", "old12345" } << emptyPass
                                            << QStringList { "pass" };
    QTest::newRow("update password: short") << "updatePassword" << QStringList { "abc", "abc", "old12345" } << shortPass
                                            << QStringList { "pass" };
    QTest::newRow("update password: mismatch") << "updatePassword" << QStringList { "new12345", "new12346", "old12345" }
                                               << mismatch << both;
    QTest::newRow("update password: no current")
            << "updatePassword" << QStringList { "new12345", "new12345", "" } << "Field Current Password cannot be empty"
            << QStringList { "pass3" };
    QTest::newRow("update password: unchanged")
            << "updatePassword" << QStringList { "same1234", "same1234", "same1234" }
            << "New Password cannot be the same as existing one" << QStringList { "pass3" };

    QTest::newRow("personal info: empty name") << "updatePersonalInfo" << QStringList { "", "a@b.com" }
                                               << "Field Name cannot be empty" << QStringList();
    QTest::newRow("personal info: short name") << "updatePersonalInfo" << QStringList { "Al", "a@b.com" }
                                               << "Name must be 3 characters or more" << QStringList();
    QTest::newRow("personal info: bad address") << "updatePersonalInfo" << QStringList { "Ada", "ada@" } << badEmail
                                                << QStringList { "email" };
}

void tst_UserAuth::validation()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFETCH(QStringList, marks);

    UserAuth auth;
    QSignalSpy fieldErrors(&auth, &UserAuth::fieldError);
    QCOMPARE(call(auth, operation, args), message);

    QStringList marked;
    for (const QList<QVariant> &arguments : fieldErrors)
        marked << arguments.at(0).toString();
    QCOMPARE(marked, marks);
    QCOMPARE(server->requests().size(), 0);
    QCOMPARE(auth.remainingAttempts(), 3);
}

void tst_UserAuth::emailAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << "ada@example.org" << true;
    QTest::newRow("dots, plus and hyphen") << "first.last+tag-x@mail.example.co" << true;
    QTest::newRow("one-letter suffix") << "ada@example.c" << false;
    QTest::newRow("blank inside") << "ada lovelace@example.org" << false;
    QTest::newRow("trailing blank") << "ada@example.org " << false;
    QTest::newRow("no at") << "ada.example.org" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_UserAuth::emailAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, valid);
    QCOMPARE(UserAuth::isValidEmail(address), valid);
}

void tst_UserAuth::passwordLeavesHashed()
{
    // md5 of ")^!kq secret12 zx42m", computed with md5sum.
    QCOMPARE(UserAuth::hashPassword(QStringLiteral("secret12")), QStringLiteral("2193dadd41f66e95ea3683b348f73272"));

    server->script("/zelk-server/auth/login.php", Answer::text("Wrong password"));
    UserAuth auth;
    QCOMPARE(auth.login(QStringLiteral("ada+x@example.org"), QStringLiteral("secret12")), QStringLiteral("Wrong password"));

    const auto requests = server->requestsTo("/zelk-server/auth/login.php");
    QCOMPARE(requests.size(), 1);
    const auto items = requests.first().formItems();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.at(0), qMakePair(QStringLiteral("email"), QStringLiteral("ada+x@example.org")));
    QCOMPARE(items.at(1), qMakePair(QStringLiteral("password"), UserAuth::hashPassword(QStringLiteral("secret12"))));
    QCOMPARE(items.at(2).first, QStringLiteral("publicKey"));
    QCOMPARE(items.at(3).first, QStringLiteral("accessToken"));
    QCOMPARE(items.at(3).second, globals->generateAccessToken(items.at(2).second));
    QVERIFY(requests.first().body.contains("email=ada+x%40example.org"));
    // The probe went first.
    QCOMPARE(server->requests().first().path, probePath);
}

void tst_UserAuth::signInWritesTheAuthFile()
{
    server->script("/zelk-server/auth/registration.php", Answer::text("success"));
    server->script("/zelk-server/auth/getInfo.php", Answer::text(infoJson));

    UserAuth auth;
    QSignalSpy success(&auth, &UserAuth::authSuccess);
    QCOMPARE(auth.registration(QStringLiteral("Ada"), QStringLiteral("ada@example.org"), QStringLiteral("secret12"),
                               QStringLiteral("secret12")),
             QString());
    QCOMPARE(success.count(), 1);
    QVERIFY(QFile::exists(globals->authFilePath()));
    QCOMPARE(globals->getUserID(), 7);
    QCOMPARE(globals->getUserHash(), QStringLiteral("h-7"));
    QCOMPARE(server->requestsTo("/zelk-server/auth/getInfo.php").first().formItems().first().second,
             QStringLiteral("ada@example.org"));
}

void tst_UserAuth::signInRefused_data()
{
    QTest::addColumn<Answer>("loginAnswer");
    QTest::addColumn<Answer>("infoAnswer");
    QTest::addColumn<QString>("message");

    QTest::newRow("service refuses") << Answer::text("Wrong email or password") << Answer::text(infoJson)
                                     << "Wrong email or password";
    QTest::newRow("success with blanks is not success") << Answer::text(" success") << Answer::text(infoJson)
                                                        << " success";
    QTest::newRow("info request refused") << Answer::text("success") << Answer::text("Database down")
                                          << "Database down";
    QTest::newRow("HTTP error") << Answer::text("oops", 500) << Answer::text(infoJson)
                                << "Error: Error transferring %1/zelk-server/auth/login.php - server replied: Internal Server Error";
}

void tst_UserAuth::signInRefused()
{
    QFETCH(Answer, loginAnswer);
    QFETCH(Answer, infoAnswer);
    QFETCH(QString, message);

    server->script("/zelk-server/auth/login.php", loginAnswer);
    server->script("/zelk-server/auth/getInfo.php", infoAnswer);
    UserAuth auth;
    QSignalSpy success(&auth, &UserAuth::authSuccess);
    QCOMPARE(auth.login(QStringLiteral("ada@example.org"), QStringLiteral("secret12")),
             message.arg(server->baseUrl().toString()));
    QCOMPARE(success.count(), 0);
    QVERIFY(!QFile::exists(globals->authFilePath()));
}

void tst_UserAuth::noInternetSendsNothing()
{
    server->script(probePath, Answer::text("", 503));
    UserAuth auth;
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QStringLiteral("No internet connection!"));
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(server->requests().first().path, probePath);
}

void tst_UserAuth::silentServiceEndsInAnError()
{
    server->script("/zelk-server/auth/recover.php", Answer::silent());
    UserAuth auth;
    auth.setTimeLimits(std::chrono::milliseconds(500), std::chrono::milliseconds(300));
    QElapsedTimer clock;
    clock.start();
    const QString text = auth.recover(QStringLiteral("ada@example.org"));
    QVERIFY2(text.startsWith(QStringLiteral("Error: ")), qPrintable(text));
    QVERIFY(clock.elapsed() < 5000);

    server->script(probePath, Answer::silent());
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QStringLiteral("No internet connection!"));
}

void tst_UserAuth::recoveryCodes()
{
    server->script("/zelk-server/auth/recover.php", Answer::text("success"));
    server->script("/zelk-server/auth/checkCode.php", Answer::text("Wrong code"));

    UserAuth auth;
    QSignalSpy showCode(&auth, &UserAuth::showRecoverCode);
    QSignalSpy allowReset(&auth, &UserAuth::allowResetPassword);
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QString());
    QCOMPARE(showCode.count(), 1);

    QCOMPARE(auth.checkCode(99999), QStringLiteral("Invalid code format. Should be 6 digits"));
    QCOMPARE(auth.checkCode(1000000), QStringLiteral("Invalid code format. Should be 6 digits"));
    QCOMPARE(auth.remainingAttempts(), 3);

    for (int attempt = 0; attempt < 3; ++attempt)
        QCOMPARE(auth.checkCode(123456 + attempt), QStringLiteral("Wrong code"));
    QCOMPARE(auth.checkCode(654321), QStringLiteral("3 attempts used. Please try again later."));
    QCOMPARE(server->requestsTo("/zelk-server/auth/checkCode.php").size(), 3);
    QCOMPARE(allowReset.count(), 0);

    const auto items = server->requestsTo("/zelk-server/auth/checkCode.php").first().formItems();
    QCOMPARE(items.at(0), qMakePair(QStringLiteral("code"), QStringLiteral("123456")));
    QCOMPARE(items.at(1), qMakePair(QStringLiteral("email"), QStringLiteral("ada@example.org")));
}

void tst_UserAuth::recoveryResetsAttempts()
{
    server->script("/zelk-server/auth/recover.php", Answer::text("success"));
    server->script("/zelk-server/auth/checkCode.php", Answer::text("Wrong code"));
    UserAuth auth;
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QString());
    for (int attempt = 0; attempt < 3; ++attempt)
        auth.checkCode(111111);
    QCOMPARE(auth.remainingAttempts(), 0);

    // A refused recovery request changes nothing; an accepted one gives three attempts again.
    server->script("/zelk-server/auth/recover.php", Answer::text("Too many requests"));
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QStringLiteral("Too many requests"));
    QCOMPARE(auth.remainingAttempts(), 0);
    server->script("/zelk-server/auth/recover.php", Answer::text("success"));
    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QString());
    QCOMPARE(auth.remainingAttempts(), 3);
}

void tst_UserAuth::networkFailureUsesAnAttempt()
{
    server->script("/zelk-server/auth/checkCode.php", Answer::reset());
    UserAuth auth;
    const QString text = auth.checkCode(123456);
    QVERIFY2(text.startsWith(QStringLiteral("Error: ")), qPrintable(text));
    QCOMPARE(auth.remainingAttempts(), 2);
}

void tst_UserAuth::resetPasswordAfterCode()
{
    server->script("/zelk-server/auth/recover.php", Answer::text("success"));
    server->script("/zelk-server/auth/checkCode.php", Answer::text("success"));
    server->script("/zelk-server/auth/resetpassword.php", Answer::text("success"));
    UserAuth auth;
    QSignalSpy allowReset(&auth, &UserAuth::allowResetPassword);
    QSignalSpy loginAgain(&auth, &UserAuth::showLoginAgain);

    QCOMPARE(auth.recover(QStringLiteral("ada@example.org")), QString());
    QCOMPARE(auth.checkCode(424242), QString());
    QCOMPARE(allowReset.count(), 1);
    QCOMPARE(auth.reSetPassword(QStringLiteral("fresh123"), QStringLiteral("fresh123")), QString());
    QCOMPARE(loginAgain.count(), 1);

    const auto items = server->requestsTo("/zelk-server/auth/resetpassword.php").first().formItems();
    QCOMPARE(items.at(0), qMakePair(QStringLiteral("password"), UserAuth::hashPassword(QStringLiteral("fresh123"))));
    QCOMPARE(items.at(1), qMakePair(QStringLiteral("email"), QStringLiteral("ada@example.org")));
}

void tst_UserAuth::updatePasswordMarksWrongCurrent()
{
    server->script("/zelk-server/auth/updatePassword.php", Answer::text("Incorrect current password"));
    UserAuth auth;
    QSignalSpy fieldErrors(&auth, &UserAuth::fieldError);
    QCOMPARE(auth.updatePassword(QStringLiteral("new12345"), QStringLiteral("new12345"), QStringLiteral("old12345"), 7),
             QStringLiteral("Incorrect current password"));
    QCOMPARE(fieldErrors.count(), 1);
    QCOMPARE(fieldErrors.first().first().toString(), QStringLiteral("pass3"));
    const auto items = server->requestsTo("/zelk-server/auth/updatePassword.php").first().formItems();
    QCOMPARE(items.at(2), qMakePair(QStringLiteral("id"), QStringLiteral("7")));
}

void tst_UserAuth::scrambleRoundTrip()
{
    for (int length = 0; length <= 400; ++length) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += QChar(u'!' + QRandomGenerator::global()->bounded(94));
        const QString scrambled = UserAuth::scramble(text);
        QCOMPARE(scrambled.size(), length);
        QCOMPARE(UserAuth::unscramble(scrambled), text);
    }
    // Lengths that several candidates divide still get a working multiplier.
    for (const int length : { 17 * 19, 2 * 3 * 5 * 7 * 11, 17 * 19 * 23 }) {
        const int multiplier = UserAuth::pickMultiplier(length);
        QCOMPARE(std::gcd(multiplier, length), 1);
        QCOMPARE((qint64(multiplier) * UserAuth::modInverse(multiplier, length)) % length, 1);
    }
    QCOMPARE(UserAuth::scramble(QStringLiteral("x")), QStringLiteral("x"));
    QCOMPARE(UserAuth::unscramble(QStringLiteral("x")), QStringLiteral("x"));
}

void tst_UserAuth::modInverse_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("inverse");

    QTest::newRow("3 mod 7") << 3 << 7 << 5;
    QTest::newRow("17 mod 100") << 17 << 100 << 53;
    QTest::newRow("no inverse") << 6 << 9 << -1;
    QTest::newRow("1 mod 2") << 1 << 2 << 1;
}

void tst_UserAuth::modInverse()
{
    QFETCH(int, a);
    QFETCH(int, n);
    QFETCH(int, inverse);
    QCOMPARE(UserAuth::modInverse(a, n), inverse);
}

void tst_UserAuth::authFileIsPrivateAndNeverClear()
{
    const QString email = QStringLiteral("ada.lovelace@example.org");
    UserAuth auth;
    QSignalSpy success(&auth, &UserAuth::authSuccess);
    auth.createLoginFile(email);
    QCOMPARE(success.count(), 1);

    QFile file(globals->authFilePath());
    QCOMPARE(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray first = file.readAll();
    file.close();
    QVERIFY(!first.contains(email.toUtf8()));
    QVERIFY(!first.contains(email.toUtf8().toBase64()));
    const QString firstKey = globals->getPublicKey();
    QCOMPARE(firstKey.size(), 32);

    auth.createLoginFile(email);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() != first);
    QVERIFY(globals->getPublicKey() != firstKey);
    // Replaced whole: no temporary file is left beside it.
    QCOMPARE(QDir(globals->getDocumentsPath()).entryList({ QStringLiteral("*.authkey*") }).size(), 1);
}

void tst_UserAuth::writeAuthFileFor(const QString &email)
{
    UserAuth writer;
    writer.createLoginFile(email);
    QVERIFY(QFile::exists(globals->authFilePath()));
}

void tst_UserAuth::initialCheck_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<Answer>("infoAnswer");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("fileKept");
    QTest::addColumn<QStringList>("boxesShown");

    QTest::newRow("no stored key") << "nothing" << Answer::text(infoJson) << "needLogin" << false << QStringList();
    QTest::newRow("key without file") << "key" << Answer::text(infoJson) << "needLogin" << false << QStringList();
    QTest::newRow("valid file") << "file" << Answer::text(infoJson) << "noNeedLogin" << true << QStringList();
    QTest::newRow("address unknown to the service")
            << "file" << Answer::text("This email not registered yet!") << "needLogin" << false << QStringList();
    QTest::newRow("service trouble")
            << "file" << Answer::text("Database down") << "needLogin" << true
            << QStringList { "[Auth Failed] Database down\n\nPlease try again later, or try to login" };
}

void tst_UserAuth::initialCheck()
{
    QFETCH(QString, setUp);
    QFETCH(Answer, infoAnswer);
    QFETCH(QString, outcome);
    QFETCH(bool, fileKept);
    QFETCH(QStringList, boxesShown);

    const QString email = QStringLiteral("ada@example.org");
    if (setUp == QLatin1String("key"))
        globals->setPublicKey(globals->generateRandomString(32));
    if (setUp == QLatin1String("file"))
        writeAuthFileFor(email);
    server->script("/zelk-server/auth/getInfo.php", infoAnswer);
    globals->saveCustomerInfo({});

    UserAuth auth;
    QSignalSpy need(&auth, &UserAuth::needLogin);
    QSignalSpy noNeed(&auth, &UserAuth::noNeedLogin);
    auth.initialCheck();

    QCOMPARE(need.count(), outcome == QLatin1String("needLogin") ? 1 : 0);
    QCOMPARE(noNeed.count(), outcome == QLatin1String("noNeedLogin") ? 1 : 0);
    QCOMPARE(QFile::exists(globals->authFilePath()), fileKept);
    QCOMPARE(boxes->seen(), boxesShown);
    if (setUp == QLatin1String("file")) {
        const auto requests = server->requestsTo("/zelk-server/auth/getInfo.php");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().formItems().first().second, email);
    } else {
        QCOMPARE(server->requests().size(), 0);
    }
    if (outcome == QLatin1String("noNeedLogin"))
        QCOMPARE(globals->getUserName(), QStringLiteral("Ada"));
}

void tst_UserAuth::archiveList()
{
    server->script("/zelk-server/auth/archive.php",
                   Answer::text(R"([{"ai_id": 5, "name": "song", "instrument": "vocals", "extension": "mp3",)"
                                R"( "local_file_path": "/m/song.flac", "deleted": "2027-01-05"}])"));
    UserAuth auth;
    const QVariantList songs = auth.getArchiveFile(QStringLiteral("h-7"));
    QCOMPARE(songs.size(), 1);
    QCOMPARE(songs.first().toMap().value(QStringLiteral("ai_id")).toInt(), 5);
    QCOMPARE(songs.first().toMap().value(QStringLiteral("local_file_path")).toString(), QStringLiteral("/m/song.flac"));
    QVERIFY(boxes->seen().isEmpty());

    server->script("/zelk-server/auth/archive.php", Answer::text("Unknown user"));
    QVERIFY(auth.getArchiveFile(QStringLiteral("h-7")).isEmpty());
    QTRY_COMPARE(boxes->seen(), QStringList { "[Archive Error] Unknown user" });
}

QTEST_MAIN(tst_UserAuth)
#include "tst_userauth.moc"
