#include "GlobalsInfo/GlobalsInfo.h"
#include "ModalBoxCloser.h"
#include "ServiceProcess.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The account controller against the local service: a whole account life, as the windows drive it.
class tst_UserAuthService final : public QObject
{
    Q_OBJECT

public:
    tst_UserAuthService() = default;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void accountLife();

private:
    Q_DISABLE_COPY_MOVE(tst_UserAuthService)
    QString mailedCode(const QString &email) const;

    QTemporaryDir data;
    ServiceProcess service;
    GlobalsInfo *globals = nullptr;
};

void tst_UserAuthService::initTestCase()
{
    TempHome::createDocumentsFolder();
    globals = GlobalsInfo::getInstance();
    QVERIFY(service.start(data.path(), 0));
    globals->appSettings()->setValue(QStringLiteral("service_url"), service.url(QString()).toString());
    globals->appSettings()->setValue(QStringLiteral("probe_url"), service.url(QStringLiteral("/generate_204")).toString());
}

void tst_UserAuthService::cleanupTestCase()
{
    QVERIFY(service.stop());
}

QString tst_UserAuthService::mailedCode(const QString &email) const
{
    QFile outbox(data.filePath(QStringLiteral("outbox.txt")));
    QString code;
    if (outbox.open(QIODevice::ReadOnly))
        for (const QByteArray &line : outbox.readAll().split('\n'))
            if (const QList<QByteArray> fields = line.split('\t'); fields.size() == 3 && fields.at(1) == email.toUtf8())
                code = QString::fromLatin1(fields.at(2));
    return code;
}

void tst_UserAuthService::accountLife()
{
    ModalBoxCloser boxes;
    const QString email = QStringLiteral("ada+zelk@example.org");

    {
        UserAuth auth;
        QCOMPARE(auth.registration(QStringLiteral("Ada"), email, QStringLiteral("engine1843"), QStringLiteral("engine1843")),
                 QString());
        QCOMPARE(auth.registration(QStringLiteral("Ada"), email, QStringLiteral("engine1843"), QStringLiteral("engine1843"))
                         .isEmpty(),
                 false); // the address is taken now
        QCOMPARE(auth.login(email, QStringLiteral("wrong-pass")).isEmpty(), false);
    }
    const int userId = globals->getUserID();
    QVERIFY(userId > 0);
    QCOMPARE(globals->getUserEmail(), email);
    QCOMPARE(globals->getUserHash().size(), 32);

    // A new controller, as after a restart: signed in silently from the auth file.
    globals->saveCustomerInfo({});
    {
        UserAuth restarted;
        QSignalSpy noNeed(&restarted, &UserAuth::noNeedLogin);
        restarted.initialCheck();
        QCOMPARE(noNeed.count(), 1);
        QCOMPARE(globals->getUserID(), userId);
        QCOMPARE(globals->getUserName(), QStringLiteral("Ada"));
    }

    // My Account's changes.
    UserAuth account;
    QSignalSpy fieldErrors(&account, &UserAuth::fieldError);
    QCOMPARE(account.updatePassword(QStringLiteral("analytical"), QStringLiteral("analytical"),
                                    QStringLiteral("not-the-one"), userId),
             QStringLiteral("Incorrect current password"));
    QCOMPARE(fieldErrors.last().first().toString(), QStringLiteral("pass3"));
    QCOMPARE(account.updatePassword(QStringLiteral("analytical"), QStringLiteral("analytical"),
                                    QStringLiteral("engine1843"), userId),
             QString());
    QCOMPARE(account.updatePersonalInfo(QStringLiteral("Ada Lovelace"), email, userId), QString());
    QCOMPARE(account.login(email, QStringLiteral("analytical")), QString());
    QCOMPARE(globals->getUserName(), QStringLiteral("Ada Lovelace"));

    // Recovery with the code from the outbox.
    UserAuth recovery;
    QCOMPARE(recovery.recover(email), QString());
    const QString code = mailedCode(email);
    QCOMPARE(code.size(), 6);
    QCOMPARE(recovery.checkCode(code.toInt()), QString());
    QCOMPARE(recovery.reSetPassword(QStringLiteral("difference"), QStringLiteral("difference")), QString());
    QCOMPARE(recovery.login(email, QStringLiteral("analytical")).isEmpty(), false);
    QCOMPARE(recovery.login(email, QStringLiteral("difference")), QString());

    // A fresh account has an empty archive, not an error.
    QVERIFY(recovery.getArchiveFile(globals->getUserHash()).isEmpty());
    QVERIFY(boxes.seen().isEmpty());
}

QTEST_MAIN(tst_UserAuthService)
#include "tst_userauth_service.moc"
