#include "GlobalsInfo/GlobalsInfo.h"
#include "MainWindowHarness.h"
#include "ModalBoxCloser.h"
#include "ScriptedHttpServer.h"
#include "ServiceProcess.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The sign-in layer of the real main window, typed into and clicked against the local service.
class tst_AuthLayer final : public QObject
{
    Q_OBJECT

public:
    tst_AuthLayer() = default;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void mismatchedPasswordsMarkBothFields();
    void switchingFormsClearsErrorsKeepsText();
    void recoverShowsOnlyTheAddress();
    void tabMovesThroughTheVisibleFields();
    void registrationSignsInAndLogoutComesBack();
    void recoveryWithTheMailedCode();
    void wayBackAfterThreeWrongCodes();
    void enterSubmitsTheVisibleForm_data();
    void enterSubmitsTheVisibleForm();
    void emptyAnswerIsAnError();
    void errorKeepsTheFormInPlace_data();
    void errorKeepsTheFormInPlace();
    void resetScaleAfterFormSignIn();

private:
    Q_DISABLE_COPY_MOVE(tst_AuthLayer)

    QString layerMode() const { return main->item(QStringLiteral("authLayer"))->property("layerMode").toString(); }
    QString mode() const { return main->item(QStringLiteral("authLayer"))->property("mode").toString(); }
    QString error() const { return main->item(QStringLiteral("authLayer"))->property("error").toString(); }
    bool marked(const char *field) const { return main->item(QLatin1String(field))->property("isError").toBool(); }
    bool shown(const char *name) const { return main->item(QLatin1String(name))->isVisible(); }
    bool boxShown(const char *name) const
    {
        return main->item(QLatin1String(name))->findChild<QQuickItem *>(QStringLiteral("redBox"))->isVisible();
    }
    QString value(const char *field) const { return main->item(QLatin1String(field))->property("value").toString(); }
    void clickItem(const char *name) const { main->click(main->item(QLatin1String(name))); }
    QString mailedCode(const QString &email) const;
    void registerThroughTheForm(const QString &name, const QString &email, const QString &password);
    QQuickItem *eye(const char *field) const
    {
        return main->item(QLatin1String(field))->findChild<QQuickItem *>(QStringLiteral("eye"));
    }
    void useService(const QUrl &base);

    GlobalsInfo *globals = nullptr;
    QTemporaryDir serviceData;
    ServiceProcess service;
    std::unique_ptr<ModalBoxCloser> boxes;
    std::unique_ptr<MainWindowHarness> main;
};

void tst_AuthLayer::initTestCase()
{
    TempHome::createDocumentsFolder();
    globals = GlobalsInfo::getInstance();
    QVERIFY(service.start(serviceData.path(), 0));
    useService(service.url(QString()));
}

void tst_AuthLayer::useService(const QUrl &base)
{
    globals->appSettings()->setValue(QStringLiteral("service_url"), base.toString());
    globals->appSettings()->setValue(QStringLiteral("probe_url"), base.resolved(QUrl(QStringLiteral("/generate_204"))).toString());
}

void tst_AuthLayer::cleanupTestCase()
{
    QVERIFY(service.stop());
}

void tst_AuthLayer::init()
{
    boxes = std::make_unique<ModalBoxCloser>();
    main = std::make_unique<MainWindowHarness>();
    QVERIFY(main->window());
    QVERIFY(main->waitUntilDecided());
    QCOMPARE(layerMode(), QStringLiteral("basic"));
    QCOMPARE(mode(), QStringLiteral("login"));
}

void tst_AuthLayer::cleanup()
{
    main.reset();
    QVERIFY(boxes->seen().isEmpty());
    boxes.reset();
    QFile::remove(globals->authFilePath());
}

QString tst_AuthLayer::mailedCode(const QString &email) const
{
    QFile outbox(serviceData.filePath(QStringLiteral("outbox.txt")));
    if (!outbox.open(QIODevice::ReadOnly))
        return {};
    QString code;
    for (const QString &line : QString::fromUtf8(outbox.readAll()).split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() == 3 && fields.at(1) == email)
            code = fields.at(2);
    }
    return code;
}

void tst_AuthLayer::registerThroughTheForm(const QString &name, const QString &email, const QString &password)
{
    clickItem("cornerLink");
    QCOMPARE(mode(), QStringLiteral("register"));
    main->typeInto(QStringLiteral("name"), name);
    main->typeInto(QStringLiteral("email"), email);
    main->typeInto(QStringLiteral("password"), password);
    main->typeInto(QStringLiteral("password2"), password);
    clickItem("submit");
}

void tst_AuthLayer::mismatchedPasswordsMarkBothFields()
{
    clickItem("cornerLink");
    main->typeInto(QStringLiteral("name"), QStringLiteral("Ada"));
    main->typeInto(QStringLiteral("email"), QStringLiteral("ada@example.org"));
    main->typeInto(QStringLiteral("password"), QStringLiteral("secret12"));
    main->typeInto(QStringLiteral("password2"), QStringLiteral("secret21"));
    clickItem("submit");

    QCOMPARE(error(), QStringLiteral("The passwords don't match"));
    QVERIFY(boxShown("errorBox"));
    QVERIFY(marked("password"));
    QVERIFY(marked("password2"));
    QVERIFY(!marked("name"));
    QVERIFY(!marked("email"));
}

void tst_AuthLayer::switchingFormsClearsErrorsKeepsText()
{
    main->typeInto(QStringLiteral("email"), QStringLiteral("not an address"));
    clickItem("submit");
    QCOMPARE(error(), QStringLiteral("Invalid email format"));
    QVERIFY(marked("email"));

    clickItem("cornerLink");
    QCOMPARE(mode(), QStringLiteral("register"));
    QCOMPARE(error(), QString());
    QVERIFY(!boxShown("errorBox"));
    QVERIFY(!marked("email"));
    QCOMPARE(value("email"), QStringLiteral("not an address"));
}

void tst_AuthLayer::recoverShowsOnlyTheAddress()
{
    clickItem("forgotLink");
    QCOMPARE(mode(), QStringLiteral("recover"));
    QVERIFY(shown("email"));
    QVERIFY(shown("submit"));
    QVERIFY(shown("cornerLink"));
    QVERIFY(!shown("name"));
    QVERIFY(!shown("password"));
    QVERIFY(!shown("password2"));
    QVERIFY(!shown("forgotLink"));
    QCOMPARE(main->item(QStringLiteral("cornerLink"))->property("text").toString(),
             QStringLiteral("Don't need to recover access? Click Here to Login"));
}

void tst_AuthLayer::tabMovesThroughTheVisibleFields()
{
    clickItem("cornerLink");
    main->typeInto(QStringLiteral("name"), QStringLiteral("Ada"));
    for (const char *text : { "ada@example.org", "secret12", "secret12" }) {
        QTest::keyClick(main->window(), Qt::Key_Tab);
        for (const char c : QByteArray(text))
            QTest::keyClick(main->window(), c);
    }
    QCOMPARE(value("email"), QStringLiteral("ada@example.org"));
    QCOMPARE(value("password"), QStringLiteral("secret12"));
    QCOMPARE(value("password2"), QStringLiteral("secret12"));

    // In "recover" the address is the only input: Tab stays there.
    clickItem("cornerLink");
    clickItem("forgotLink");
    main->typeInto(QStringLiteral("email"), QStringLiteral("x"));
    QTest::keyClick(main->window(), Qt::Key_Tab);
    QTest::keyClick(main->window(), 'y');
    QCOMPARE(value("email"), QStringLiteral("ada@example.orgxy"));
    QCOMPARE(value("password"), QStringLiteral("secret12"));
}

void tst_AuthLayer::registrationSignsInAndLogoutComesBack()
{
    clickItem("cornerLink");
    main->click(eye("password"));
    QVERIFY(main->item(QStringLiteral("password"))->property("passwordVisible").toBool());
    clickItem("cornerLink");
    registerThroughTheForm(QStringLiteral("Grace"), QStringLiteral("grace@example.org"), QStringLiteral("cobol1959"));
    QCOMPARE(error(), QString());
    QVERIFY(!main->item(QStringLiteral("authLayer"))->isVisible());
    for (const char *button : { "myAccountButton", "helpButton", "selectFileButton", "settingsButton", "archiveButton" })
        QVERIFY2(main->item(QLatin1String(button))->isEnabled(), button);
    QTRY_COMPARE(main->window()->size(), QSize(470, 210));
    QCOMPARE(globals->getUserEmail(), QStringLiteral("grace@example.org"));

    // Logout from the help menu brings the layer back, on the form used last, emptied.
    clickItem("helpButton");
    QObject *menu = main->window()->findChild<QObject *>(QStringLiteral("helpMenu"));
    QTRY_VERIFY(menu->property("opened").toBool());
    clickItem("logoutItem");
    QTRY_VERIFY(main->item(QStringLiteral("authLayer"))->isVisible());
    QCOMPARE(mode(), QStringLiteral("register"));
    for (const char *field : { "name", "email", "password", "password2" })
        QVERIFY2(value(field).isEmpty(), field);
    // A password typed now must not show in clear, whatever the eye showed before.
    for (const char *field : { "password", "password2" })
        QVERIFY2(!main->item(QLatin1String(field))->property("passwordVisible").toBool(), field);
    QVERIFY(!QFile::exists(globals->authFilePath()));
    QTRY_COMPARE(main->window()->size(), QSize(400, 430));
}

void tst_AuthLayer::recoveryWithTheMailedCode()
{
    const QString email = QStringLiteral("hopper@example.org");
    registerThroughTheForm(QStringLiteral("Grace Hopper"), email, QStringLiteral("first-pass"));
    QVERIFY(!main->item(QStringLiteral("authLayer"))->isVisible());
    main.reset();
    QFile::remove(globals->authFilePath());
    main = std::make_unique<MainWindowHarness>();
    QVERIFY(main->waitUntilDecided());

    clickItem("forgotLink");
    main->typeInto(QStringLiteral("email"), email);
    clickItem("submit");
    QCOMPARE(error(), QString());
    QCOMPARE(layerMode(), QStringLiteral("code_form"));
    QCOMPARE(value("email"), QString());
    const QString code = mailedCode(email);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch());

    // A wrong code: the service's own text, and no red border on the code.
    const QString wrong = code == QLatin1String("111111") ? QStringLiteral("222222") : QStringLiteral("111111");
    main->typeInto(QStringLiteral("code"), wrong);
    clickItem("codeSubmit");
    QVERIFY(!error().isEmpty());
    QVERIFY(boxShown("codeErrorBox"));
    QVERIFY(!marked("code"));
    QCOMPARE(layerMode(), QStringLiteral("code_form"));

    // A letter among the digits never reaches the service.
    main->item(QStringLiteral("code"))->setProperty("value", QString());
    main->typeInto(QStringLiteral("code"), QStringLiteral("12a456"));
    clickItem("codeSubmit");
    QCOMPARE(error(), QStringLiteral("Invalid code format. Should be 6 digits"));

    main->item(QStringLiteral("code"))->setProperty("value", QString());
    main->typeInto(QStringLiteral("code"), code);
    clickItem("codeSubmit");
    QCOMPARE(error(), QString());
    QCOMPARE(layerMode(), QStringLiteral("basic"));
    QCOMPARE(mode(), QStringLiteral("create new password"));
    QVERIFY(!shown("email"));
    QVERIFY(shown("cornerLink"));
    QCOMPARE(main->item(QStringLiteral("password"))->property("label").toString(), QStringLiteral("New Password"));

    main->typeInto(QStringLiteral("password"), QStringLiteral("second-pass"));
    main->typeInto(QStringLiteral("password2"), QStringLiteral("second-pass"));
    clickItem("submit");
    QCOMPARE(error(), QString());
    QCOMPARE(mode(), QStringLiteral("login"));
    QCOMPARE(value("password"), QString());

    // The new password signs in.
    main->typeInto(QStringLiteral("email"), email);
    main->typeInto(QStringLiteral("password"), QStringLiteral("second-pass"));
    clickItem("submit");
    QCOMPARE(error(), QString());
    QVERIFY(!main->item(QStringLiteral("authLayer"))->isVisible());
}

void tst_AuthLayer::wayBackAfterThreeWrongCodes()
{
    const QString email = QStringLiteral("lamarr@example.org");
    {
        UserAuth account;
        QCOMPARE(account.registration(QStringLiteral("Hedy"), email, QStringLiteral("spread1942"), QStringLiteral("spread1942")),
            QString());
    }
    clickItem("forgotLink");
    main->typeInto(QStringLiteral("email"), email);
    clickItem("submit");
    QCOMPARE(layerMode(), QStringLiteral("code_form"));
    const QString wrong = mailedCode(email) == QLatin1String("111111") ? QStringLiteral("222222") : QStringLiteral("111111");
    for (int attempt = 0; attempt < 4; ++attempt) {
        main->item(QStringLiteral("code"))->setProperty("value", QString());
        main->typeInto(QStringLiteral("code"), wrong);
        clickItem("codeSubmit");
    }
    QCOMPARE(error(), QStringLiteral("3 attempts used. Please try again later."));

    clickItem("cornerLink");
    QCOMPARE(layerMode(), QStringLiteral("basic"));
    QCOMPARE(mode(), QStringLiteral("login"));
    QCOMPARE(error(), QString());
}

void tst_AuthLayer::enterSubmitsTheVisibleForm_data()
{
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("error");

    QTest::newRow("login, Return") << QString() << "password" << int(Qt::Key_Return) << "Invalid email format";
    QTest::newRow("register, keypad Enter") << "cornerLink" << "name" << int(Qt::Key_Enter)
                                            << "Name must be 3 characters or more";
    QTest::newRow("recover, Return") << "forgotLink" << "email" << int(Qt::Key_Return) << "Invalid email format";
    QTest::newRow("code, keypad Enter") << "code_form" << "code" << int(Qt::Key_Enter)
                                        << "Invalid code format. Should be 6 digits";
}

void tst_AuthLayer::enterSubmitsTheVisibleForm()
{
    QFETCH(QString, open);
    QFETCH(QString, field);
    QFETCH(int, key);
    QFETCH(QString, error);

    if (open == QLatin1String("code_form"))
        main->item(QStringLiteral("authLayer"))->setProperty("layerMode", open);
    else if (!open.isEmpty())
        clickItem(qPrintable(open));
    main->typeInto(field, QStringLiteral("x"));
    QTest::keyClick(main->window(), Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(this->error(), error);
}

void tst_AuthLayer::emptyAnswerIsAnError()
{
    ScriptedHttpServer empty;
    QVERIFY(empty.listen());
    empty.script("/generate_204", ScriptedHttpServer::Answer::text({}, 204));
    empty.script("/zelk-server/auth/login.php", ScriptedHttpServer::Answer::text({}));
    useService(empty.baseUrl());
    main->typeInto(QStringLiteral("email"), QStringLiteral("ada@example.org"));
    main->typeInto(QStringLiteral("password"), QStringLiteral("secret12"));
    clickItem("submit");
    useService(service.url(QString()));
    QCOMPARE(error(), QStringLiteral("The service gave no answer"));
    QVERIFY(main->item(QStringLiteral("authLayer"))->isVisible());
}

void tst_AuthLayer::errorKeepsTheFormInPlace_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("password2");
    QTest::addColumn<QString>("error");

    QTest::newRow("login") << "login" << "secret12" << QString() << "Invalid email format";
    QTest::newRow("register") << "register" << "abc" << "abc" << "Password must be 7 characters or more";
    QTest::newRow("create new password") << "create new password" << "secret12" << "secret13"
                                         << "The passwords don't match";
}

void tst_AuthLayer::errorKeepsTheFormInPlace()
{
    QFETCH(QString, mode);
    QFETCH(QString, password);
    QFETCH(QString, password2);
    QFETCH(QString, error);

    if (mode == QLatin1String("register")) {
        clickItem("cornerLink");
        main->typeInto(QStringLiteral("name"), QStringLiteral("Ada"));
        main->typeInto(QStringLiteral("email"), QStringLiteral("ada@example.org"));
    } else if (mode != this->mode()) {
        // Only a mailed code leads here through the window; the column lays the form out first.
        main->item(QStringLiteral("authLayer"))->setProperty("mode", mode);
        QTest::qWait(100);
    }
    main->typeInto(QStringLiteral("password"), password);
    if (!password2.isEmpty())
        main->typeInto(QStringLiteral("password2"), password2);
    QQuickItem *field = main->item(QStringLiteral("password"));
    const QPointF before = field->mapToScene(QPointF(field->width() / 2, 0));
    clickItem("submit");
    QCOMPARE(this->error(), error);

    // The message takes the room kept for it, on one line; the inputs stay under the centred title.
    QCOMPARE(field->mapToScene(QPointF(field->width() / 2, 0)), before);
    QCOMPARE(main->item(QStringLiteral("errorBox"))->property("lineCount").toInt(), 1);
    QQuickItem *title = main->item(QStringLiteral("title"));
    QVERIFY(qAbs(before.x() - title->mapToScene(QPointF(title->width() / 2, 0)).x()) <= 1);
}

void tst_AuthLayer::resetScaleAfterFormSignIn()
{
    globals->setSettingsGuiScale(1.5);
    main = std::make_unique<MainWindowHarness>();
    QVERIFY(main->waitUntilDecided());
    registerThroughTheForm(QStringLiteral("Katherine"), QStringLiteral("johnson@example.org"), QStringLiteral("orbit1962"));
    QTRY_COMPARE(main->window()->size(), QSize(705, 315));

    clickItem("helpButton");
    QTRY_VERIFY(main->window()->findChild<QObject *>(QStringLiteral("helpMenu"))->property("opened").toBool());
    clickItem("resetScaleItem");
    QTRY_COMPARE(main->window()->size(), QSize(470, 210));
}

QTEST_MAIN(tst_AuthLayer)
#include "tst_authlayer.moc"
