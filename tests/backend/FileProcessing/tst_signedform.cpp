#include "FileProcessing/SignedForm.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "TempHome.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

namespace {

// The service's check: MD5 of the key put three times into the token template.
QByteArray expectedToken(const QByteArray &key)
{
    return QCryptographicHash::hash(key + "!~@@*~!" + key + "QWEpoi" + key, QCryptographicHash::Md5).toHex();
}

const QRegularExpression signingPattern(
    QStringLiteral("^publicKey=([A-Za-z0-9]{10})&accessToken=([0-9a-f]{32})$"));

} // namespace

class tst_SignedForm final : public QObject
{
    Q_OBJECT

public:
    tst_SignedForm() = default;
    Q_DISABLE_COPY_MOVE(tst_SignedForm)

private slots:
    void initTestCase();
    void encoding_data();
    void encoding();
    void signingPairFirst();
    void signingPairLast();
    void newKeyEveryCall();
    void formContentType();
};

void tst_SignedForm::initTestCase()
{
    TempHome::createDocumentsFolder();
}

void tst_SignedForm::encoding_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("plain") << "vocals" << QByteArray("vocals");
    QTest::newRow("space") << "Rock Song" << QByteArray("Rock%20Song");
    QTest::newRow("plus unchanged") << "C++ and A+B" << QByteArray("C++%20and%20A+B");
    QTest::newRow("ampersand") << "Tom & Jerry" << QByteArray("Tom%20%26%20Jerry");
    QTest::newRow("equals and hash") << "a=b#c" << QByteArray("a%3Db%23c");
    QTest::newRow("percent") << "100%" << QByteArray("100%25");
    QTest::newRow("utf-8") << QString::fromUtf8("Café") << QByteArray("Caf%C3%A9");
    QTest::newRow("empty") << "" << QByteArray();
}

void tst_SignedForm::encoding()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, wire);
    QCOMPARE(SignedForm::encode({ { QStringLiteral("field"), value } }), "field=" + wire);
}

void tst_SignedForm::signingPairFirst()
{
    const QByteArray body = SignedForm::build({ { QStringLiteral("songID"), QStringLiteral("12") },
                                                  { QStringLiteral("name"), QStringLiteral("a b") } },
        SignedForm::SigningPair::First);
    const QList<QByteArray> items = body.split('&');
    QCOMPARE(items.size(), 4);
    const auto match = signingPattern.match(QString::fromLatin1(items.at(0) + '&' + items.at(1)));
    QVERIFY2(match.hasMatch(), body.constData());
    QCOMPARE(match.captured(2).toLatin1(), expectedToken(match.captured(1).toLatin1()));
    QCOMPARE(items.at(2), "songID=12");
    QCOMPARE(items.at(3), "name=a%20b");
}

void tst_SignedForm::signingPairLast()
{
    const QByteArray body
        = SignedForm::build({ { QStringLiteral("email"), QStringLiteral("a+b@example.com") },
                                { QStringLiteral("password"), QStringLiteral("0123abcd") } },
            SignedForm::SigningPair::Last);
    QVERIFY2(body.startsWith("email=a+b%40example.com&password=0123abcd&publicKey="), body.constData());
    const auto match = signingPattern.match(QString::fromLatin1(body.mid(body.indexOf("publicKey="))));
    QVERIFY2(match.hasMatch(), body.constData());
    QCOMPARE(match.captured(2).toLatin1(), expectedToken(match.captured(1).toLatin1()));
}

void tst_SignedForm::newKeyEveryCall()
{
    QSet<QByteArray> keys;
    for (int i = 0; i < 20; ++i)
        keys.insert(SignedForm::build({}, SignedForm::SigningPair::First).left(20));
    QCOMPARE(keys.size(), 20);
}

void tst_SignedForm::formContentType()
{
    const QNetworkRequest request = SignedForm::request(QUrl(QStringLiteral("http://127.0.0.1:1/x.php")));
    QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toByteArray(),
        QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(request.rawHeaderList(), QList<QByteArray> { "Content-Type" });
}

QTEST_GUILESS_MAIN(tst_SignedForm)
#include "tst_signedform.moc"
