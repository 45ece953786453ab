#include "GlobalsInfo/GlobalsInfo.h"
#include "ServiceProcess.h"
#include "WavData.h"

#include <QDir>
#include <QDirIterator>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

#include <sys/stat.h>

#include <csignal>

#include <thread>

namespace {

using Fields = QList<QPair<QString, QString>>;

const QString denied = QStringLiteral("Access denied: the request signature is missing or wrong");

struct Reply
{
    int status = 0;
    QByteArray body;
    QString text() const { return QString::fromUtf8(body); }
};

struct Account
{
    QString email;
    QString password;
    QString name;
    QString hash;
    int id = 0;
};

// What the client sends for a password: the MD5 hex of the typed one in its template.
QString hashedPassword(const QString &typed)
{
    const QString filled = QStringLiteral(")^!kq %1 zx42m").arg(typed);
    return QString::fromLatin1(QCryptographicHash::hash(filled.toUtf8(), QCryptographicHash::Md5).toHex());
}

// "/home/me/Documents/ZELK/Temp/<16 characters>.wav", as the client names its upload.
QString uploadPath()
{
    return QStringLiteral("/home/me/Documents/ZELK/Temp/%1.wav")
        .arg(GlobalsInfo::getInstance()->generateRandomString(16));
}

// Zero bytes of a given size, made as they are read: a large body without holding it in the test.
class ZeroDevice final : public QIODevice
{
public:
    explicit ZeroDevice(qint64 length, QObject *parent)
        : QIODevice(parent)
        , length(length)
    {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return length; }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        const qint64 count = std::min(max, length - pos());
        if (count <= 0)
            return -1;
        std::memset(data, 0, size_t(count));
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const qint64 length;
};

} // namespace

class tst_ZelkService final : public QObject
{
    Q_OBJECT

public:
    tst_ZelkService() = default;
    Q_DISABLE_COPY_MOVE(tst_ZelkService)

private slots:
    void initTestCase();
    void probeAnswers204();
    void accountLife();
    void refusedSignatures_data();
    void refusedSignatures();
    void songLife_data();
    void songLife();
    void repeatAndArchive();
    void cancelStopsSong();
    void removeUploadedForgetsUpload();
    void wrongResultTokenIsNotFound();
    void otherUsersUploadIsRefused();
    void badInput_data();
    void badInput();
    void dataSurvivesRestart();
    void keptAliveRequestIsQuick();
    void filesArePrivate();
    void sigtermLeavesJobsQueued();
    void queuedSongKeepsUpload_data();
    void queuedSongKeepsUpload();
    void slowClientsDoNotBlock();
    void refusedText_data();
    void refusedText();
    void unknownSongIdsAreLimited_data();
    void unknownSongIdsAreLimited();
    void damageFoundAtStart_data();
    void damageFoundAtStart();
    void filesReachDiskBeforeRename();
    void bodiesAreBounded_data();
    void bodiesAreBounded();
    void recoveryIsLimited_data();
    void recoveryIsLimited();
    void accountNeedsSignedInPeer_data();
    void accountNeedsSignedInPeer();
    void openHostIsWarned();
    void twentyClientsAtOnce();
    void failedJobEndsWithReason_data();
    void failedJobEndsWithReason();
    void cleanupTestCase();

private:
    Reply finish(QNetworkReply *reply);
    Reply post(const QString &path, const Fields &fields, bool sign = true);
    // A signed form post from another loopback address (127.0.0.2 and up), on a connection of its own.
    Reply postFrom(const QString &source, const QString &path, const Fields &fields);
    Reply sendFrom(const QString &source, const QByteArray &method, const QString &path, const QByteArray &type,
        const QByteArray &body);
    // One client's whole run from its own address; the figures of each step go to times.
    QString clientRun(const QString &source, int index, QList<qint64> &times);
    Reply upload(const Fields &fields, const QByteArray &file, const QString &filePath, bool sign = true);
    Reply uploadSong(
        const Account &account, const WavData &wav, const QString &instrument, QString *filePath = nullptr);
    Reply get(const QUrl &url);
    Reply repeat(const Account &account, const QString &filePath, const QString &instrument);
    Account registerAccount(const QString &tag);
    // Polls remains.php until "-1" and answers its last reply; countdown gets every number seen before.
    QString waitForResults(const QString &songId, QList<int> *countdown = nullptr);
    // Downloads both results; false when download.php or a file fails.
    bool downloadResults(const QString &songId, WavData &instrument, WavData &mix);
    QStringList uploadsFolder() const;
    // The service's process id, found by its data folder on its command line.
    QString servicePid() const;
    // Every path under the data folder, itself included, whose mode is not 0700 (folder) or 0600.
    QStringList loosePaths() const;

    QTemporaryDir dataDir;
    ServiceProcess service;
    QNetworkAccessManager network;
    int accounts = 0;
};

Reply tst_ZelkService::finish(QNetworkReply *reply)
{
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(30000);
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

Reply tst_ZelkService::post(const QString &path, const Fields &fields, bool sign)
{
    QUrlQuery query;
    for (const auto &[key, value] : fields)
        query.addQueryItem(key, value);
    if (sign) {
        for (const auto &[key, value] : GlobalsInfo::getInstance()->generateWebAccessData().queryItems())
            query.addQueryItem(key, value);
    }
    QNetworkRequest request(service.url(path));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return finish(network.post(request, query.query(QUrl::FullyEncoded).toUtf8()));
}

static QByteArray signedForm(const Fields &fields)
{
    QUrlQuery query;
    for (const auto &[key, value] : fields)
        query.addQueryItem(key, value);
    for (const auto &[key, value] : GlobalsInfo::getInstance()->generateWebAccessData().queryItems())
        query.addQueryItem(key, value);
    return query.query(QUrl::FullyEncoded).toUtf8();
}

Reply tst_ZelkService::sendFrom(
    const QString &source, const QByteArray &method, const QString &path, const QByteArray &type, const QByteArray &body)
{
    // Blocking calls only: it also runs on threads without an event loop.
    QTcpSocket socket;
    Reply result;
    if (!socket.bind(QHostAddress(source)))
        return result;
    socket.connectToHost(QHostAddress::LocalHost, quint16(service.url(QString()).port()));
    if (!socket.waitForConnected(2000))
        return result;
    QByteArray head = method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!type.isEmpty())
        head += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(head + "\r\n" + body);
    QByteArray raw;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        raw += socket.readAll();
    raw += socket.readAll();
    const qsizetype split = raw.indexOf("\r\n\r\n");
    if (split < 0)
        return result;
    result.status = raw.mid(9, 3).toInt();
    result.body = raw.mid(split + 4);
    return result;
}

Reply tst_ZelkService::postFrom(const QString &source, const QString &path, const Fields &fields)
{
    return sendFrom(source, "POST", path, "application/x-www-form-urlencoded", signedForm(fields));
}

Reply tst_ZelkService::upload(
    const Fields &fields, const QByteArray &file, const QString &filePath, bool sign)
{
    auto *multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    const auto addText = [multipart](const QString &name, const QString &value) {
        QHttpPart part;
        part.setHeader(
            QNetworkRequest::ContentDispositionHeader, QStringLiteral("form-data; name=\"%1\"").arg(name));
        part.setBody(value.toUtf8());
        multipart->append(part);
    };
    if (!filePath.isEmpty()) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
            QStringLiteral("form-data; name=\"uploadedFile\"; filename=\"%1\"").arg(filePath));
        part.setBody(file);
        multipart->append(part);
    }
    for (const auto &[key, value] : fields)
        addText(key, value);
    if (sign) {
        for (const auto &[key, value] : GlobalsInfo::getInstance()->generateWebAccessData().queryItems())
            addText(key, value);
    }
    QNetworkReply *reply
        = network.post(QNetworkRequest(service.url(QStringLiteral("/zelk-server/proceed.php"))), multipart);
    multipart->setParent(reply);
    return finish(reply);
}

Reply tst_ZelkService::uploadSong(
    const Account &account, const WavData &wav, const QString &instrument, QString *filePath)
{
    const QString path = uploadPath();
    if (filePath)
        *filePath = path;
    return upload({ { "instrument", instrument }, { "version", "full" }, { "fileName", "My Song.live" },
                      { "hash", account.hash }, { "extension", "mp3" },
                      { "originalFilePath", "/home/me/Music/My Song.live.mp3" } },
        wav.toBytes(), path);
}

Reply tst_ZelkService::repeat(const Account &account, const QString &filePath, const QString &instrument)
{
    return post(QStringLiteral("/zelk-server/repeat.php"),
        { { "instrument", instrument }, { "uploadedFileName", QFileInfo(filePath).fileName() },
            { "fileName", "x" }, { "version", "full" }, { "hash", account.hash }, { "extension", "mp3" },
            { "originalFilePath", "/x.mp3" } });
}

Reply tst_ZelkService::get(const QUrl &url)
{
    return finish(network.get(QNetworkRequest(url)));
}

Account tst_ZelkService::registerAccount(const QString &tag)
{
    Account account;
    account.email = QStringLiteral("%1+%2@example.com").arg(tag).arg(++accounts);
    account.password = hashedPassword(QStringLiteral("secret-%1").arg(tag));
    account.name = QStringLiteral("User %1").arg(tag);
    const Reply registered = post(QStringLiteral("/zelk-server/auth/registration.php"),
        { { "email", account.email }, { "name", account.name }, { "password", account.password } });
    if (registered.text() != QLatin1String("success"))
        qWarning() << "registration answered" << registered.text();
    const QJsonObject info = QJsonDocument::fromJson(
        post(QStringLiteral("/zelk-server/auth/getInfo.php"), { { "email", account.email } }).body)
                                 .object();
    account.hash = info.value(QStringLiteral("hash")).toString();
    account.id = info.value(QStringLiteral("user_id")).toInt();
    return account;
}

QString tst_ZelkService::waitForResults(const QString &songId, QList<int> *countdown)
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        const QString text
            = post(QStringLiteral("/zelk-server/remains.php"), { { "songID", songId } }).text();
        bool isNumber = false;
        const int seconds = text.toInt(&isNumber);
        if (!isNumber || seconds <= 0)
            return text;
        if (countdown)
            countdown->append(seconds);
        QTest::qWait(200);
    }
    return QStringLiteral("timed out");
}

bool tst_ZelkService::downloadResults(const QString &songId, WavData &instrument, WavData &mix)
{
    const QStringList urls = post(QStringLiteral("/zelk-server/download.php"), { { "songID", songId } })
                                 .text()
                                 .split(QLatin1Char('|'));
    if (urls.size() != 2)
        return false;
    const Reply first = get(QUrl(urls[0]));
    const Reply second = get(QUrl(urls[1]));
    return first.status == 200 && second.status == 200 && WavData::fromBytes(first.body, instrument)
        && WavData::fromBytes(second.body, mix);
}

QStringList tst_ZelkService::uploadsFolder() const
{
    return QDir(dataDir.filePath(QStringLiteral("uploads"))).entryList(QDir::Files, QDir::Name);
}

QString tst_ZelkService::servicePid() const
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({ "[0-9]*" }, QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(dataDir.path().toUtf8()))
            return pid;
    }
    return QString();
}

QStringList tst_ZelkService::loosePaths() const
{
    QStringList loose;
    QStringList paths { dataDir.path() };
    QDirIterator it(dataDir.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(it.next());
    for (const QString &path : paths) {
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        const mode_t wanted = S_ISDIR(info.st_mode) ? 0700 : 0600;
        if ((info.st_mode & 07777) != wanted)
            loose.append(QStringLiteral("%1 %2").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')).arg(path));
    }
    return loose;
}

void tst_ZelkService::initTestCase()
{
    QVERIFY(dataDir.isValid());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));
}

void tst_ZelkService::probeAnswers204()
{
    const Reply probe = get(service.url(QStringLiteral("/generate_204")));
    QCOMPARE(probe.status, 204);
    QVERIFY(probe.body.isEmpty());
}

void tst_ZelkService::accountLife()
{
    const QString email = QStringLiteral("ann.lee+zelk@example.com");
    const QString first = hashedPassword(QStringLiteral("first-secret"));
    const auto auth
        = [](const char *endpoint) { return QStringLiteral("/zelk-server/auth/%1").arg(endpoint); };

    QCOMPARE(post(auth("getInfo.php"), { { "email", email } }).text(),
        QStringLiteral("This email not registered yet!"));
    QCOMPARE(post(auth("registration.php"), { { "email", email }, { "name", "Ann" }, { "password", first } })
                 .text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("registration.php"), { { "email", email }, { "name", "Ann" }, { "password", first } })
                 .text(),
        QStringLiteral("This email is already registered"));
    QCOMPARE(post(auth("login.php"), { { "email", email }, { "password", first } }).text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("login.php"), { { "email", email }, { "password", hashedPassword("wrong") } }).text(),
        QStringLiteral("Incorrect email or password"));

    const QJsonObject info
        = QJsonDocument::fromJson(post(auth("getInfo.php"), { { "email", email } }).body).object();
    QCOMPARE(info.value("email").toString(), email);
    QCOMPARE(info.value("name").toString(), QStringLiteral("Ann"));
    QVERIFY(info.value("user_id").toInt() > 0);
    QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(info.value("hash").toString()).hasMatch());
    const QString id = QString::number(info.value("user_id").toInt());

    // Recovery: the code arrives in the outbox; a wrong one and a reset before the check are refused.
    QCOMPARE(post(auth("recover.php"), { { "email", email } }).text(), QStringLiteral("success"));
    QFile outbox(dataDir.filePath("outbox.txt"));
    QVERIFY(outbox.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList mail = QString::fromUtf8(outbox.readAll()).trimmed().split('\n').last().split('\t');
    QCOMPARE(mail.size(), 3);
    QCOMPARE(mail[1], email);
    const QString code = mail[2];
    QVERIFY(QRegularExpression("^[1-9][0-9]{5}$").match(code).hasMatch());
    QTRY_VERIFY(service.output().contains(QStringLiteral("recovery code for %1: %2").arg(email, code)));
    const QString second = hashedPassword(QStringLiteral("second-secret"));
    QCOMPARE(post(auth("resetpassword.php"), { { "password", second }, { "email", email } }).text(),
        QStringLiteral("Please confirm the recovery code first"));
    const QString wrongCode = QString::number(code.toInt() == 999999 ? 100000 : code.toInt() + 1);
    QCOMPARE(post(auth("checkCode.php"), { { "code", wrongCode }, { "email", email } }).text(),
        QStringLiteral("Invalid code"));
    QCOMPARE(post(auth("checkCode.php"), { { "code", code }, { "email", email } }).text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("resetpassword.php"), { { "password", second }, { "email", email } }).text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("login.php"), { { "email", email }, { "password", first } }).text(),
        QStringLiteral("Incorrect email or password"));
    QCOMPARE(post(auth("login.php"), { { "email", email }, { "password", second } }).text(),
        QStringLiteral("success"));
    // The code is used up.
    QCOMPARE(post(auth("resetpassword.php"), { { "password", first }, { "email", email } }).text(),
        QStringLiteral("Please confirm the recovery code first"));

    const QString moved = QStringLiteral("ann.moved@example.org");
    QCOMPARE(post(auth("updateInfo.php"), { { "email", moved }, { "name", "Ann Lee" }, { "id", id } }).text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("getInfo.php"), { { "email", email } }).text(),
        QStringLiteral("This email not registered yet!"));
    const QJsonObject movedInfo
        = QJsonDocument::fromJson(post(auth("getInfo.php"), { { "email", moved } }).body).object();
    QCOMPARE(movedInfo.value("name").toString(), QStringLiteral("Ann Lee"));
    QCOMPARE(movedInfo.value("hash").toString(), info.value("hash").toString());

    const QString third = hashedPassword(QStringLiteral("third-secret"));
    QCOMPARE(post(auth("updatePassword.php"),
                 { { "password", third }, { "current_password", first }, { "id", id } })
                 .text(),
        QStringLiteral("Incorrect current password"));
    QCOMPARE(post(auth("updatePassword.php"),
                 { { "password", third }, { "current_password", second }, { "id", id } })
                 .text(),
        QStringLiteral("success"));
    QCOMPARE(post(auth("login.php"), { { "email", moved }, { "password", third } }).text(),
        QStringLiteral("success"));
}

void tst_ZelkService::refusedSignatures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("publicKey");
    QTest::addColumn<QString>("accessToken");

    const QString key = QStringLiteral("Ab3dE6gH9k");
    const QString token = GlobalsInfo::getInstance()->generateAccessToken(key);
    const QString otherToken = GlobalsInfo::getInstance()->generateAccessToken(QStringLiteral("Zz3dE6gH9k"));
    QTest::newRow("no signature") << "/zelk-server/auth/login.php" << QString() << QString();
    QTest::newRow("key without token") << "/zelk-server/auth/getInfo.php" << key << QString();
    QTest::newRow("token of another key") << "/zelk-server/remains.php" << key << otherToken;
    QTest::newRow("token in capitals") << "/zelk-server/download.php" << key << token.toUpper();
    QTest::newRow("token of an empty key") << "/zelk-server/auth/archive.php" << QString()
                                           << GlobalsInfo::getInstance()->generateAccessToken(QString());
}

void tst_ZelkService::refusedSignatures()
{
    QFETCH(QString, path);
    QFETCH(QString, publicKey);
    QFETCH(QString, accessToken);
    const Account account = registerAccount(QStringLiteral("signer"));
    Fields fields { { "email", account.email }, { "password", account.password }, { "songID", "12345" },
        { "hash", account.hash } };
    if (!publicKey.isEmpty())
        fields.append({ "publicKey", publicKey });
    if (!accessToken.isEmpty())
        fields.append({ "accessToken", accessToken });
    QCOMPARE(post(path, fields, false).text(), denied);

    // An upload with a forged signature stores nothing.
    const QStringList before = uploadsFolder();
    const Reply forged
        = upload({ { "instrument", "vocals" }, { "version", "full" }, { "fileName", "x" },
                     { "hash", account.hash }, { "extension", "mp3" }, { "originalFilePath", "/x.mp3" },
                     { "publicKey", publicKey }, { "accessToken", accessToken } },
            WavData::tones(1, 8000, 800).toBytes(), uploadPath(), false);
    QCOMPARE(forged.text(), denied);
    QCOMPARE(uploadsFolder(), before);
}

void tst_ZelkService::songLife_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<double>("gain");

    QTest::newRow("stereo 44.1 kHz vocals") << 2 << 44100 << "vocals" << 1.0;
    QTest::newRow("mono 48 kHz vocals") << 1 << 48000 << "vocals" << 1.0;
    QTest::newRow("5.1 48 kHz vocals") << 6 << 48000 << "vocals" << 1.0;
    QTest::newRow("stereo 48 kHz drums") << 2 << 48000 << "drums" << 1.0;
    QTest::newRow("mono 44.1 kHz bass, clipped") << 1 << 44100 << "bass" << 3.0;
    QTest::newRow("stereo 44.1 kHz guitar") << 2 << 44100 << "guitar" << 1.0;
    QTest::newRow("5.1 44.1 kHz piano, clipped") << 6 << 44100 << "piano" << 3.0;
}

void tst_ZelkService::songLife()
{
    QFETCH(int, channels);
    QFETCH(int, sampleRate);
    QFETCH(QString, instrument);
    QFETCH(double, gain);

    const Account account = registerAccount(QStringLiteral("song"));
    const WavData input = WavData::tones(channels, sampleRate, sampleRate * 3 / 2, gain);
    const Reply saved = uploadSong(account, input, instrument);
    const int songId = saved.text().toInt();
    QVERIFY2(songId > 0, qPrintable(saved.text()));

    // The estimate counts down while the song is held back, then "-1".
    QList<int> countdown;
    QCOMPARE(waitForResults(saved.text(), &countdown), QStringLiteral("-1"));
    QVERIFY(!countdown.isEmpty());
    QVERIFY(countdown.first() >= 1 && countdown.first() <= 3);
    QVERIFY(std::is_sorted(countdown.rbegin(), countdown.rend()));

    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(saved.text(), isolated, mix));
    for (const WavData *result : { &isolated, &mix }) {
        QCOMPARE(result->channels, channels);
        QCOMPARE(result->sampleRate, sampleRate);
        QCOMPARE(result->frames(), input.frames());
    }
    qsizetype isolatedNonZero = 0;
    qsizetype mixNonZero = 0;
    for (qsizetype i = 0; i < input.samples.size(); ++i) {
        if (int(isolated.samples[i]) + int(mix.samples[i]) != int(input.samples[i]))
            QFAIL(qPrintable(QStringLiteral("sample %1: %2 + %3 != %4")
                                 .arg(i)
                                 .arg(isolated.samples[i])
                                 .arg(mix.samples[i])
                                 .arg(input.samples[i])));
        isolatedNonZero += isolated.samples[i] != 0;
        mixNonZero += mix.samples[i] != 0;
    }
    // A real split: both parts carry sound.
    QVERIFY(isolatedNonZero > input.samples.size() / 10);
    QVERIFY(mixNonZero > input.samples.size() / 10);
}

void tst_ZelkService::repeatAndArchive()
{
    const Account account = registerAccount(QStringLiteral("repeat"));
    QString filePath;
    const Reply first
        = uploadSong(account, WavData::tones(2, 44100, 22050), QStringLiteral("vocals"), &filePath);
    QVERIFY2(first.text().toInt() > 0, qPrintable(first.text()));
    QCOMPARE(waitForResults(first.text()), QStringLiteral("-1"));

    const Reply again = post(QStringLiteral("/zelk-server/repeat.php"),
        { { "instrument", "bass" }, { "uploadedFileName", QFileInfo(filePath).fileName() },
            { "fileName", "My Song.live" }, { "version", "full" }, { "hash", account.hash },
            { "extension", "wav" }, { "originalFilePath", "/home/me/Music/My Song.live.mp3" } });
    QVERIFY2(again.text().toInt() > 0, qPrintable(again.text()));
    QVERIFY(again.text() != first.text());
    QCOMPARE(waitForResults(again.text()), QStringLiteral("-1"));
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(again.text(), isolated, mix));
    QCOMPARE(isolated.frames(), 22050);

    const QJsonDocument archive = QJsonDocument::fromJson(
        post(QStringLiteral("/zelk-server/auth/archive.php"), { { "hash", account.hash } }).body);
    QVERIFY(archive.isArray());
    const QJsonArray songs = archive.array();
    QCOMPARE(songs.size(), 2);
    // Newest first.
    const QJsonObject newest = songs.at(0).toObject();
    QCOMPARE(newest.value("ai_id").toInt(), again.text().toInt());
    QCOMPARE(newest.value("instrument").toString(), QStringLiteral("bass"));
    QCOMPARE(newest.value("extension").toString(), QStringLiteral("wav"));
    QCOMPARE(newest.value("name").toString(), QStringLiteral("My Song.live"));
    QCOMPARE(newest.value("local_file_path").toString(), QStringLiteral("/home/me/Music/My Song.live.mp3"));
    QCOMPARE(newest.value("deleted").toString(),
        QDateTime::currentDateTimeUtc().addDays(30).date().toString(Qt::ISODate));
    QCOMPARE(songs.at(1).toObject().value("ai_id").toInt(), first.text().toInt());
    QCOMPARE(songs.at(1).toObject().value("instrument").toString(), QStringLiteral("vocals"));

    QCOMPARE(
        post(QStringLiteral("/zelk-server/auth/archive.php"), { { "hash", QString(32, QLatin1Char('0')) } })
            .text(),
        QStringLiteral("Unknown user"));
}

void tst_ZelkService::cancelStopsSong()
{
    const Account account = registerAccount(QStringLiteral("cancel"));
    const Reply saved = uploadSong(account, WavData::tones(2, 44100, 44100), QStringLiteral("vocals"));
    QVERIFY2(saved.text().toInt() > 0, qPrintable(saved.text()));
    QCOMPARE(post(QStringLiteral("/zelk-server/cancel.php"), { { "songID", saved.text() } }).text(),
        QStringLiteral("success"));
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("This song was cancelled"));
    QCOMPARE(post(QStringLiteral("/zelk-server/download.php"), { { "songID", saved.text() } }).text(),
        QStringLiteral("This song was cancelled"));
    const QJsonArray songs = QJsonDocument::fromJson(
        post(QStringLiteral("/zelk-server/auth/archive.php"), { { "hash", account.hash } }).body)
                                 .array();
    QVERIFY(songs.isEmpty());
    QTRY_VERIFY(QDir(dataDir.filePath("results")).entryList({ saved.text() + "-*" }, QDir::Files).isEmpty());
}

void tst_ZelkService::removeUploadedForgetsUpload()
{
    const Account account = registerAccount(QStringLiteral("remove"));
    QString filePath;
    const QStringList before = uploadsFolder();
    const Reply saved
        = uploadSong(account, WavData::tones(1, 22050, 22050), QStringLiteral("piano"), &filePath);
    QVERIFY2(saved.text().toInt() > 0, qPrintable(saved.text()));
    QCOMPARE(uploadsFolder().size(), before.size() + 1);
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("-1"));

    const QString fileName = QFileInfo(filePath).fileName();
    QCOMPARE(post(QStringLiteral("/zelk-server/removeUploaded.php"), { { "fileName", fileName } }).text(),
        QStringLiteral("success"));
    QCOMPARE(uploadsFolder(), before);
    QCOMPARE(post(QStringLiteral("/zelk-server/removeUploaded.php"), { { "fileName", fileName } }).text(),
        QStringLiteral("Upload not found"));
    QCOMPARE(post(QStringLiteral("/zelk-server/repeat.php"),
                 { { "instrument", "bass" }, { "uploadedFileName", fileName }, { "fileName", "x" },
                     { "version", "full" }, { "hash", account.hash }, { "extension", "mp3" },
                     { "originalFilePath", "/x.mp3" } })
                 .text(),
        QStringLiteral("Upload not found. Please upload the file again"));
    // Results already made stay available.
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(saved.text(), isolated, mix));
}

void tst_ZelkService::wrongResultTokenIsNotFound()
{
    const Account account = registerAccount(QStringLiteral("token"));
    const Reply saved = uploadSong(account, WavData::tones(1, 8000, 8000), QStringLiteral("vocals"));
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("-1"));
    const QStringList urls
        = post(QStringLiteral("/zelk-server/download.php"), { { "songID", saved.text() } }).text().split('|');
    QCOMPARE(urls.size(), 2);
    const QRegularExpression shape(
        QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/zelk-server/result/[0-9a-f]{32}\\.wav$"));
    QVERIFY(shape.match(urls[0]).hasMatch());
    QVERIFY(shape.match(urls[1]).hasMatch());
    QVERIFY(urls[0] != urls[1]);
    QCOMPARE(get(QUrl(urls[0])).status, 200);

    QString forged = urls[0];
    const qsizetype digit = forged.lastIndexOf(QLatin1Char('/')) + 1;
    forged[digit] = forged[digit] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    const Reply refused = get(QUrl(forged));
    QCOMPARE(refused.status, 404);
    QCOMPARE(refused.text(), QStringLiteral("Not found"));
    QCOMPARE(get(service.url(QStringLiteral("/zelk-server/result/%1.wav").arg(saved.text()))).status, 404);
}

void tst_ZelkService::otherUsersUploadIsRefused()
{
    const Account owner = registerAccount(QStringLiteral("owner"));
    const Account other = registerAccount(QStringLiteral("other"));
    QString filePath;
    const Reply saved = uploadSong(owner, WavData::tones(2, 8000, 8000), QStringLiteral("vocals"), &filePath);
    QVERIFY2(saved.text().toInt() > 0, qPrintable(saved.text()));
    const Fields repeat { { "instrument", "drums" }, { "uploadedFileName", QFileInfo(filePath).fileName() },
        { "fileName", "x" }, { "version", "full" }, { "hash", other.hash }, { "extension", "mp3" },
        { "originalFilePath", "/x.mp3" } };
    QCOMPARE(post(QStringLiteral("/zelk-server/repeat.php"), repeat).text(),
        QStringLiteral("Upload not found. Please upload the file again"));
    // Naming its own hash, another account cannot remove the owner's upload either.
    QCOMPARE(post(QStringLiteral("/zelk-server/removeUploaded.php"),
                 { { "fileName", QFileInfo(filePath).fileName() }, { "hash", other.hash } })
                 .text(),
        QStringLiteral("Upload not found"));
    Fields own = repeat;
    own[4].second = owner.hash;
    QVERIFY(post(QStringLiteral("/zelk-server/repeat.php"), own).text().toInt() > 0);
}

void tst_ZelkService::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVariantMap>("fields");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reply");

    const QByteArray wav = WavData::tones(1, 8000, 800).toBytes();
    const QString proceed = QStringLiteral("/zelk-server/proceed.php");
    WavData silent = WavData::tones(2, 8000, 0);
    QByteArray eightBit = wav;
    eightBit[34] = 8; // bits per sample in the fmt chunk

    QTest::newRow("text file as WAV")
        << "upload" << proceed << QVariantMap() << QByteArray("just some text\n") << 200
        << "The uploaded file is not a WAV file";
    QTest::newRow("WAV without audio") << "upload" << proceed << QVariantMap() << silent.toBytes() << 200
                                       << "The uploaded WAV file holds no audio";
    QTest::newRow("8-bit WAV") << "upload" << proceed << QVariantMap() << eightBit << 200
                               << "The uploaded file is not a 16-bit PCM WAV file";
    QTest::newRow("no file part") << "upload" << proceed << QVariantMap() << QByteArray() << 200
                                  << "Missing file \"uploadedFile\"";
    QTest::newRow("missing instrument") << "upload" << proceed << QVariantMap { { "instrument", QString() } }
                                        << wav << 200 << "Missing field \"instrument\"";
    QTest::newRow("unknown instrument") << "upload" << proceed << QVariantMap { { "instrument", "kazoo" } }
                                        << wav << 200 << "Unknown instrument \"kazoo\"";
    QTest::newRow("oversized field") << "upload" << proceed
                                     << QVariantMap { { "fileName", QString(5000, 'a') } } << wav << 200
                                     << "Field \"fileName\" is too long";
    QTest::newRow("unknown hash") << "upload" << proceed << QVariantMap { { "hash", QString(32, 'f') } }
                                  << wav << 200 << "Unknown user";
    QTest::newRow("upload as a form") << "form" << proceed << QVariantMap { { "instrument", "vocals" } }
                                      << QByteArray() << 200 << "Missing file \"uploadedFile\"";
    QTest::newRow("malformed multipart")
        << "raw" << proceed << QVariantMap() << QByteArray("--XX\r\nbroken") << 400 << "Malformed request";
    QTest::newRow("remains of unknown song")
        << "form"
        << "/zelk-server/remains.php" << QVariantMap { { "songID", "1" } } << QByteArray() << 200
        << "Unknown song id";
    QTest::newRow("download of unknown song")
        << "form"
        << "/zelk-server/download.php" << QVariantMap { { "songID", "2147483647" } } << QByteArray() << 200
        << "Unknown song id";
    QTest::newRow("cancel of unknown song") << "form"
                                            << "/zelk-server/cancel.php" << QVariantMap { { "songID", "7" } }
                                            << QByteArray() << 200 << "Unknown song id";
    QTest::newRow("song id not a number")
        << "form"
        << "/zelk-server/remains.php" << QVariantMap { { "songID", "12abc" } } << QByteArray() << 200
        << "Invalid songID";
    QTest::newRow("song id out of range")
        << "form"
        << "/zelk-server/download.php" << QVariantMap { { "songID", "2147483648" } } << QByteArray() << 200
        << "Invalid songID";
    QTest::newRow("registration without password")
        << "form"
        << "/zelk-server/auth/registration.php"
        << QVariantMap { { "email", "a@example.com" }, { "name", "Abe" } } << QByteArray() << 200
        << "Missing field \"password\"";
    QTest::newRow("registration with a bad address")
        << "form"
        << "/zelk-server/auth/registration.php"
        << QVariantMap { { "email", "a@example.c" }, { "name", "Abe" }, { "password", "x" } } << QByteArray()
        << 200 << "Invalid email format";
    QTest::newRow("unknown endpoint")
        << "form"
        << "/zelk-server/nothing.php" << QVariantMap() << QByteArray() << 404 << "Not found";
}

void tst_ZelkService::badInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, path);
    QFETCH(QVariantMap, fields);
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    QFETCH(QString, reply);

    const Account account = registerAccount(QStringLiteral("bad"));
    QVariantMap values { { "instrument", "vocals" }, { "version", "full" }, { "fileName", "x" },
        { "hash", account.hash }, { "extension", "mp3" }, { "originalFilePath", "/x.mp3" } };
    if (kind != QLatin1String("upload"))
        values.clear();
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        values.insert(it.key(), it.value());
    Fields form;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!it.value().toString().isEmpty())
            form.append({ it.key(), it.value().toString() });
    }

    const QStringList before = uploadsFolder();
    Reply answer;
    if (kind == QLatin1String("upload")) {
        answer = upload(form, file, file.isEmpty() ? QString() : uploadPath());
    } else if (kind == QLatin1String("form")) {
        answer = post(path, form);
    } else {
        QNetworkRequest request(service.url(path));
        request.setHeader(
            QNetworkRequest::ContentTypeHeader, QStringLiteral("multipart/form-data; boundary=XX"));
        answer = finish(network.post(request, file));
    }
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.text(), reply);
    QCOMPARE(uploadsFolder(), before);
    // The service is still there.
    QCOMPARE(get(service.url(QStringLiteral("/generate_204"))).status, 204);
}

void tst_ZelkService::dataSurvivesRestart()
{
    const Account account = registerAccount(QStringLiteral("restart"));
    QString filePath;
    const WavData input = WavData::tones(2, 16000, 16000);
    const Reply saved = uploadSong(account, input, QStringLiteral("vocals"), &filePath);
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("-1"));

    QVERIFY(service.stop());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));

    QCOMPARE(post(QStringLiteral("/zelk-server/auth/login.php"),
                 { { "email", account.email }, { "password", account.password } })
                 .text(),
        QStringLiteral("success"));
    const QJsonArray songs = QJsonDocument::fromJson(
        post(QStringLiteral("/zelk-server/auth/archive.php"), { { "hash", account.hash } }).body)
                                 .array();
    QCOMPARE(songs.size(), 1);
    QCOMPARE(songs.at(0).toObject().value("ai_id").toInt(), saved.text().toInt());
    QCOMPARE(post(QStringLiteral("/zelk-server/remains.php"), { { "songID", saved.text() } }).text(),
        QStringLiteral("-1"));
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(saved.text(), isolated, mix));
    for (qsizetype i = 0; i < input.samples.size(); ++i)
        QCOMPARE(int(isolated.samples[i]) + int(mix.samples[i]), int(input.samples[i]));
    // The upload is still there to be processed again.
    const Reply again = post(QStringLiteral("/zelk-server/repeat.php"),
        { { "instrument", "drums" }, { "uploadedFileName", QFileInfo(filePath).fileName() },
            { "fileName", "x" }, { "version", "full" }, { "hash", account.hash }, { "extension", "mp3" },
            { "originalFilePath", "/x.mp3" } });
    QVERIFY2(again.text().toInt() > 0, qPrintable(again.text()));
}

void tst_ZelkService::keptAliveRequestIsQuick()
{
    // The client reuses its connections; a small reply must not wait for a delayed acknowledgement.
    post(QStringLiteral("/zelk-server/remains.php"), { { "songID", "12345" } });
    QList<qint64> elapsed;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(post(QStringLiteral("/zelk-server/remains.php"), { { "songID", "12345" } }).text(),
            QStringLiteral("Unknown song id"));
        elapsed.append(timer.nsecsElapsed() / 1000);
    }
    std::sort(elapsed.begin(), elapsed.end());
    const qint64 median = elapsed[elapsed.size() / 2];
    qInfo("median of a request on a kept-alive connection: %.2f ms", median / 1000.0);
    QVERIFY2(median < 20000, qPrintable(QStringLiteral("%1 us").arg(median)));
}

void tst_ZelkService::filesArePrivate()
{
    // Password hashes, bearer hashes, recovery codes and everyone's audio: for the service's user only.
    const Account account = registerAccount(QStringLiteral("private"));
    QCOMPARE(post(QStringLiteral("/zelk-server/auth/recover.php"), { { "email", account.email } }).text(),
        QStringLiteral("success"));
    const Reply saved = uploadSong(account, WavData::tones(1, 8000, 8000), QStringLiteral("vocals"));
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("-1"));
    QVERIFY(!uploadsFolder().isEmpty());
    QVERIFY(QFile::exists(dataDir.filePath(QStringLiteral("outbox.txt"))));
    QCOMPARE(loosePaths(), QStringList());

    // A data folder left open by an older version is closed at the next start.
    QVERIFY(service.stop());
    for (const QString &path : { dataDir.path(), dataDir.filePath(QStringLiteral("uploads")),
             dataDir.filePath(QStringLiteral("results")) })
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0755) == 0);
    for (const QString &path : { dataDir.filePath(QStringLiteral("zelk-service.sqlite")),
             dataDir.filePath(QStringLiteral("outbox.txt")),
             dataDir.filePath(QStringLiteral("uploads/") + uploadsFolder().constFirst()) })
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    QVERIFY(!loosePaths().isEmpty());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));
    QCOMPARE(loosePaths(), QStringList());
}

void tst_ZelkService::sigtermLeavesJobsQueued()
{
    // A long song (about 2 minutes of mono audio, seconds of work) is being processed when the service
    // is asked to stop.
    const Account account = registerAccount(QStringLiteral("sigterm"));
    const Reply saved = uploadSong(account, WavData::tones(1, 44100, 5'000'000), QStringLiteral("drums"));
    QVERIFY2(saved.text().toInt() > 0, qPrintable(saved.text()));
    QTest::qWait(100);
    QElapsedTimer timer;
    timer.start();
    QVERIFY2(service.stop(), qPrintable(service.output()));
    const qint64 stopping = timer.elapsed();
    qInfo("stopped in %lld ms", stopping);
    QVERIFY2(stopping < 1000, qPrintable(QStringLiteral("%1 ms").arg(stopping)));

    // The song did not fail: it runs again at the next start.
    const QDir results(dataDir.filePath(QStringLiteral("results")));
    QCOMPARE(results.entryList({ saved.text() + "-*" }, QDir::Files), QStringList());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));
    timer.restart();
    QCOMPARE(waitForResults(saved.text()), QStringLiteral("-1"));
    qInfo("done %lld ms after the restart", timer.elapsed());
    QCOMPARE(results.entryList({ saved.text() + "-*" }, QDir::Files).size(), 2);
}

void tst_ZelkService::queuedSongKeepsUpload_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("reply");
    // Whether the upload can still be processed again once everything is done.
    QTest::addColumn<bool>("uploadStays");

    QTest::newRow("same name uploaded again") << "upload" << QString() << true;
    QTest::newRow("removed by name alone") << "remove"
                                           << "The upload is still needed by a song in progress" << true;
    QTest::newRow("removed by its owner") << "remove with hash"
                                          << "success" << false;
}

void tst_ZelkService::queuedSongKeepsUpload()
{
    QFETCH(QString, action);
    QFETCH(QString, reply);
    QFETCH(bool, uploadStays);

    // Both workers are kept busy, so the song under test waits in the queue meanwhile.
    const Account account = registerAccount(QStringLiteral("queued"));
    const QStringList before = uploadsFolder();
    QStringList songs;
    QString blocker;
    songs.append(
        uploadSong(account, WavData::tones(1, 44100, 2'000'000), QStringLiteral("drums"), &blocker).text());
    for (const char *instrument : { "bass", "guitar", "piano" })
        songs.append(repeat(account, blocker, QString::fromLatin1(instrument)).text());
    const WavData input = WavData::tones(2, 8000, 8000);
    QString filePath;
    const QString queued = uploadSong(account, input, QStringLiteral("vocals"), &filePath).text();
    songs.append(queued);
    for (const QString &song : songs)
        QVERIFY2(song.toInt() > 0, qPrintable(song));

    if (action == QLatin1String("upload")) {
        const Reply again
            = upload({ { "instrument", "bass" }, { "version", "full" }, { "fileName", "x" },
                         { "hash", account.hash }, { "extension", "mp3" }, { "originalFilePath", "/x.mp3" } },
                WavData::tones(1, 8000, 4000).toBytes(), filePath);
        QVERIFY2(again.text().toInt() > 0, qPrintable(again.text()));
        songs.append(again.text());
    } else {
        Fields fields { { "fileName", QFileInfo(filePath).fileName() } };
        if (action.endsWith(QLatin1String("hash")))
            fields.append({ "hash", account.hash });
        QCOMPARE(post(QStringLiteral("/zelk-server/removeUploaded.php"), fields).text(), reply);
    }

    for (const QString &song : songs)
        QCOMPARE(waitForResults(song), QStringLiteral("-1"));
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(queued, isolated, mix));
    QCOMPARE(isolated.samples.size(), input.samples.size());
    for (qsizetype i = 0; i < input.samples.size(); ++i)
        QCOMPARE(int(isolated.samples[i]) + int(mix.samples[i]), int(input.samples[i]));

    // Files no upload and no queued song needs are gone.
    QTRY_COMPARE(uploadsFolder().size(), before.size() + (uploadStays ? 2 : 1));
    QCOMPARE(repeat(account, filePath, QStringLiteral("vocals")).text().toInt() > 0, uploadStays);
}

void tst_ZelkService::slowClientsDoNotBlock()
{
    // A client that falls silent halfway through its request line is dropped after the read limit.
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, quint16(service.url(QString()).port()));
    QVERIFY(silent.waitForConnected(2000));
    silent.write("POST /zelk-server/rem");
    QVERIFY(silent.waitForBytesWritten(1000));
    QElapsedTimer silence;
    silence.start();
    qint64 dropped = -1;
    connect(&silent, &QTcpSocket::disconnected, this, [&] { dropped = silence.elapsed(); });

    // Sixteen clients that trickle their headers, one line a second, never finishing a request.
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < 16; ++i) {
        slow.push_back(std::make_unique<QTcpSocket>());
        slow.back()->connectToHost(QHostAddress::LocalHost, quint16(service.url(QString()).port()));
        QVERIFY(slow.back()->waitForConnected(2000));
        slow.back()->write("POST /zelk-server/remains.php HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    int line = 0;
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] {
        ++line;
        for (const auto &socket : slow)
            socket->write(QByteArray("X-Slow-") + QByteArray::number(line) + ": 1\r\n");
    });
    trickle.start(1000);
    QTest::qWait(500);

    // Meanwhile a normal request, on a new connection each time, is answered within a second.
    QList<qint64> elapsed;
    for (int i = 0; i < 3; ++i) {
        QNetworkAccessManager fresh;
        QNetworkRequest request(service.url(QStringLiteral("/generate_204")));
        request.setTransferTimeout(3000);
        QElapsedTimer timer;
        timer.start();
        const Reply probe = finish(fresh.get(request));
        elapsed.append(timer.elapsed());
        QCOMPARE(probe.status, 204);
        QTest::qWait(700);
    }
    qInfo() << "normal requests beside 16 slow clients, ms:" << elapsed;
    QVERIFY2(
        *std::max_element(elapsed.cbegin(), elapsed.cend()) < 1000, qPrintable(QDebug::toString(elapsed)));

    QTRY_VERIFY_WITH_TIMEOUT(dropped >= 0, 8000);
    qInfo("the silent client was dropped after %lld ms", dropped);
    QVERIFY2(dropped < 4000, qPrintable(QStringLiteral("%1 ms").arg(dropped)));
}

void tst_ZelkService::refusedText_data()
{
    // form: the operation's own fields, already percent-encoded; the signature is added.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QString>("reply");

    const QString registration = QStringLiteral("/zelk-server/auth/registration.php");
    const QByteArray digest = hashedPassword(QStringLiteral("secret")).toLatin1();
    // A new address for every row.
    const quint32 run = QRandomGenerator::global()->generate();
    int row = 0;
    const auto address = [&] {
        return "email=text%2B" + QByteArray::number(run) + '-' + QByteArray::number(++row) + "%40example.com";
    };
    QTest::newRow("name that is not UTF-8")
        << registration << address() + "&name=Zo%EB%20Lee&password=" + digest
        << "Field \"name\" is not UTF-8 text";
    QTest::newRow("name with a NUL") << registration << address() + "&name=Zoe%00Lee&password=" + digest
                                     << "Field \"name\" holds a NUL character";
    QTest::newRow("overlong UTF-8") << registration << address() + "&name=Zo%C0%AE&password=" + digest
                                    << "Field \"name\" is not UTF-8 text";
    QTest::newRow("password not a digest")
        << registration << address() + "&name=Zoe&password=my%20secret%20password"
        << "Invalid password format";
    QTest::newRow("password digest in capitals")
        << registration << address() + "&name=Zoe&password=" + digest.toUpper() << "Invalid password format";
    QTest::newRow("password digest cut short")
        << "/zelk-server/auth/login.php" << address() + "&password=" + digest.left(31)
        << "Invalid password format";
    QTest::newRow("current password not a digest")
        << "/zelk-server/auth/updatePassword.php"
        << "password=" + digest + "&current_password=secret&id=12345"
        << "Invalid password format";
    QTest::newRow("new password not a digest") << "/zelk-server/auth/resetpassword.php"
                                               << "password=secret&" + address() << "Invalid password format";
    QTest::newRow("song name that is not UTF-8")
        << "/zelk-server/repeat.php"
        << QByteArray("instrument=bass&uploadedFileName=a.wav&fileName=%FFx&version=full&hash="
               + QByteArray(32, 'f') + "&extension=mp3&originalFilePath=%2Fx.mp3")
        << "Field \"fileName\" is not UTF-8 text";
    QTest::newRow("UTF-8 name is kept")
        << registration << address() + "&name=Zo%C3%AB%20%E6%9D%8E%20%F0%9F%8E%B8&password=" + digest
        << "success";
}

void tst_ZelkService::refusedText()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, form);
    QFETCH(QString, reply);

    QUrlQuery signature = GlobalsInfo::getInstance()->generateWebAccessData();
    QNetworkRequest request(service.url(path));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(finish(network.post(request, form + '&' + signature.query(QUrl::FullyEncoded).toUtf8())).text(),
        reply);

    // A registration stores nothing it refused, and gives back exactly what it took.
    if (path.endsWith(QLatin1String("registration.php"))) {
        const QUrlQuery fields(QString::fromLatin1(form));
        const QString email = fields.queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded);
        const Reply info = post(QStringLiteral("/zelk-server/auth/getInfo.php"), { { "email", email } });
        if (reply == QLatin1String("success"))
            QCOMPARE(QJsonDocument::fromJson(info.body).object().value("name").toString(),
                QStringLiteral("Zo\u00eb \u674e \U0001F3B8"));
        else
            QCOMPARE(info.text(), QStringLiteral("This email not registered yet!"));
    }
}

void tst_ZelkService::unknownSongIdsAreLimited_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("source");
    // What the known song's own peer still gets.
    QTest::addColumn<QString>("ownReply");

    QTest::newRow("remains.php") << "/zelk-server/remains.php" << "127.0.0.3" << "number";
    QTest::newRow("download.php") << "/zelk-server/download.php" << "127.0.0.4"
                                  << "The song is still being processed";
    QTest::newRow("cancel.php") << "/zelk-server/cancel.php" << "127.0.0.5" << "success";
}

void tst_ZelkService::unknownSongIdsAreLimited()
{
    QFETCH(QString, path);
    QFETCH(QString, source);
    QFETCH(QString, ownReply);

    // The song is held back for a while, so every endpoint finds it in the same state.
    const Account account = registerAccount(QStringLiteral("scan"));
    const QString known = uploadSong(account, WavData::tones(1, 8000, 40 * 8000), "drums").text();
    QVERIFY2(known.toInt() > 0, qPrintable(known));

    const QString refused = QStringLiteral("Too many unknown song ids, please try again in a minute");
    QStringList replies;
    for (int i = 0; i < 31; ++i) {
        const QString guess = QString::number(QRandomGenerator::global()->bounded(1, 0x7fffffff));
        replies.append(postFrom(source, path, { { "songID", guess } }).text());
    }
    QCOMPARE(replies.count(QStringLiteral("Unknown song id")), 30);
    QCOMPARE(replies.last(), refused);
    // Once over the limit the peer cannot tell a real id from a made-up one.
    QCOMPARE(postFrom(source, path, { { "songID", known } }).text(), refused);
    const QString own = post(path, { { "songID", known } }).text();
    if (ownReply == QLatin1String("number"))
        QVERIFY2(own.toInt() > 0, qPrintable(own));
    else
        QCOMPARE(own, ownReply);
    post(QStringLiteral("/zelk-server/cancel.php"), { { "songID", known } });
}

void tst_ZelkService::damageFoundAtStart_data()
{
    // What a power loss can leave in the results folder: a result renamed into place before its song
    // was marked done, or a done song's result cut short or emptied.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("file");

    QTest::newRow("result of a song not done") << "stray" << "instrument";
    QTest::newRow("instrument cut short") << "cut" << "instrument";
    QTest::newRow("mix emptied") << "empty" << "mix";
}

void tst_ZelkService::damageFoundAtStart()
{
    QFETCH(QString, damage);
    QFETCH(QString, file);

    const Account account = registerAccount(QStringLiteral("power"));
    const WavData input = WavData::tones(2, 8000, 8000);
    const QString songId = uploadSong(account, input, QStringLiteral("bass")).text();
    QCOMPARE(waitForResults(songId), QStringLiteral("-1"));
    QVERIFY(service.stop());

    const QDir results(dataDir.filePath(QStringLiteral("results")));
    const QString result = results.filePath(QStringLiteral("%1-%2.wav").arg(songId, file));
    QString stray;
    if (damage == QLatin1String("stray")) {
        stray = results.filePath(QStringLiteral("%1-%2.wav").arg(songId.toInt() ^ 1).arg(file));
        QVERIFY(QFile::copy(result, stray));
    } else {
        QFile cut(result);
        QVERIFY(cut.resize(damage == QLatin1String("cut") ? cut.size() / 2 : 0));
    }
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));

    if (!stray.isEmpty())
        QVERIFY(!QFile::exists(stray));
    // Never a damaged result with 200: the song is made again from its upload.
    QCOMPARE(waitForResults(songId), QStringLiteral("-1"));
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(songId, isolated, mix));
    QCOMPARE(isolated.samples.size(), input.samples.size());
    for (qsizetype i = 0; i < input.samples.size(); ++i)
        QCOMPARE(int(isolated.samples[i]) + int(mix.samples[i]), int(input.samples[i]));
}

void tst_ZelkService::filesReachDiskBeforeRename()
{
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer's runtime must be the first library loaded; a preloaded watcher is not.
    QSKIP("the fsync watcher cannot be preloaded under the address sanitizer");
#endif
    // With a watcher preloaded, every file the service renames into place must have been fsynced.
    const QString log = dataDir.filePath(QStringLiteral("sync.log"));
    QVERIFY(service.stop());
    qputenv("LD_PRELOAD", ZELK_SYNC_WATCH);
    qputenv("ZELK_SYNC_LOG", QFile::encodeName(log));
    const bool started = service.start(dataDir.path(), 0);
    qunsetenv("LD_PRELOAD");
    qunsetenv("ZELK_SYNC_LOG");
    QVERIFY2(started, qPrintable(service.output()));

    const Account account = registerAccount(QStringLiteral("sync"));
    const QString songId = uploadSong(account, WavData::tones(1, 8000, 8000), QStringLiteral("vocals")).text();
    QCOMPARE(waitForResults(songId), QStringLiteral("-1"));
    QVERIFY(service.stop());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList renames = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    // The upload and the two results.
    QCOMPARE(renames.filter(QStringLiteral(".part")).size(), 3);
    QCOMPARE(renames.filter(QRegularExpression(QStringLiteral("^unsynced "))), QStringList());
}

void tst_ZelkService::bodiesAreBounded_data()
{
    QTest::addColumn<QString>("path");
    // Megabytes of zeros: the upload's file part, or a form field's value.
    QTest::addColumn<int>("megabytes");
    QTest::addColumn<bool>("signingFirst");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reply");

    // Two at a time, the way the client orders its parts: the signature comes after the file.
    QTest::newRow("unsigned uploads") << "/zelk-server/proceed.php" << 150 << false << 200 << denied;
    // Another sender may put its signature first: the rest of its file is never read.
    QTest::newRow("forged upload, signature first") << "/zelk-server/proceed.php" << 150 << true << 200 << denied;
    QTest::newRow("large multipart form") << "/zelk-server/remains.php" << 150 << false << 413
                                          << "The request is too large";
}

void tst_ZelkService::bodiesAreBounded()
{
    QFETCH(QString, path);
    QFETCH(int, megabytes);
    QFETCH(bool, signingFirst);
    QFETCH(int, status);
    QFETCH(QString, reply);

    const QString pid = servicePid();
    QVERIFY(!pid.isEmpty());
    // Starts the peak resident size afresh.
    QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    QVERIFY(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1);
    clear.close();
    const auto peakKilobytes = [&pid] {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        status.open(QIODevice::ReadOnly);
        const QRegularExpressionMatch found
            = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+) kB")).match(QString::fromLatin1(status.readAll()));
        return found.captured(1).toLongLong();
    };
    const qint64 before = peakKilobytes();
    const QStringList uploadsBefore = uploadsFolder();
    const qint64 bytes = qint64(megabytes) * 1024 * 1024;

    QList<QNetworkReply *> replies;
    for (int i = 0; i < 2; ++i) {
        auto *multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        const auto addPart = [multipart](const QString &disposition, QIODevice *body, const QString &value) {
            QHttpPart part;
            part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
            if (body)
                part.setBodyDevice(body);
            else
                part.setBody(value.toUtf8());
            multipart->append(part);
        };
        const auto text = [](const char *name) { return QStringLiteral("form-data; name=\"%1\"").arg(name); };
        if (signingFirst) {
            addPart(text("publicKey"), nullptr, QStringLiteral("Ab3dE6gH9k"));
            addPart(text("accessToken"), nullptr, QString(32, QLatin1Char('0')));
        }
        // An upload's file part, or a form field far longer than any the client sends.
        addPart(path.endsWith(QLatin1String("proceed.php"))
                ? QStringLiteral("form-data; name=\"uploadedFile\"; filename=\"%1\"").arg(uploadPath())
                : text("songID"),
            new ZeroDevice(bytes, multipart), QString());
        addPart(text("instrument"), nullptr, QStringLiteral("vocals"));
        replies.append(network.post(QNetworkRequest(service.url(path)), multipart));
        multipart->setParent(replies.last());
    }
    for (QNetworkReply *sent : replies) {
        const Reply answer = finish(sent);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.text(), reply);
    }
    const qint64 growth = peakKilobytes() - before;
    qInfo("%s: peak memory of the service grew by %lld MB", QTest::currentDataTag(), growth / 1024);
    QVERIFY2(growth < 40 * 1024, qPrintable(QStringLiteral("%1 kB").arg(growth)));
    QCOMPARE(uploadsFolder(), uploadsBefore);
}

void tst_ZelkService::recoveryIsLimited_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("source");

    QTest::newRow("wrong codes across codes") << "codes" << "127.0.0.20";
    QTest::newRow("recover for one account") << "account" << "127.0.0.21";
    QTest::newRow("recover from one address") << "peer" << "127.0.0.22";
    // Each from an address of its own: only the total is limited.
    QTest::newRow("mails in all") << "mails" << "127.0.1.%1";
}

void tst_ZelkService::recoveryIsLimited()
{
    QFETCH(QString, limit);
    QFETCH(QString, source);

    const QString recover = QStringLiteral("/zelk-server/auth/recover.php");
    const QString checkCode = QStringLiteral("/zelk-server/auth/checkCode.php");
    const QString tooMany = QStringLiteral("Too many recovery requests. Please try again later");
    QFile outbox(dataDir.filePath(QStringLiteral("outbox.txt")));
    const auto mails = [&outbox] {
        outbox.open(QIODevice::ReadOnly | QIODevice::Text);
        const QStringList lines = QString::fromUtf8(outbox.readAll()).split('\n', Qt::SkipEmptyParts);
        outbox.close();
        return lines;
    };
    const auto codeFor = [&mails](const QString &email) {
        const QStringList last = mails().filter('\t' + email + '\t').last().split('\t');
        return last.value(2);
    };

    if (limit == QLatin1String("codes")) {
        // Three wrong guesses at one code and two at the next use up the hour, right code or not.
        const Account account = registerAccount(QStringLiteral("guess"));
        for (const int wrong : { 3, 2 }) {
            QCOMPARE(postFrom(source, recover, { { "email", account.email } }).text(), QStringLiteral("success"));
            const QString code = codeFor(account.email);
            const QString other = QString::number(code.toInt() == 999999 ? 100000 : code.toInt() + 1);
            for (int i = 0; i < wrong; ++i)
                QCOMPARE(postFrom(source, checkCode, { { "code", other }, { "email", account.email } }).text(),
                    QStringLiteral("Invalid code"));
        }
        QCOMPARE(postFrom(source, checkCode, { { "code", codeFor(account.email) }, { "email", account.email } })
                     .text(),
            QStringLiteral("Too many wrong codes. Please try again in an hour"));
    } else if (limit == QLatin1String("account")) {
        const Account account = registerAccount(QStringLiteral("mailed"));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(postFrom(source, recover, { { "email", account.email } }).text(), QStringLiteral("success"));
        QCOMPARE(postFrom(source, recover, { { "email", account.email } }).text(), tooMany);
    } else if (limit == QLatin1String("peer")) {
        // Unknown addresses count too: one address cannot look for accounts either.
        for (int i = 0; i < 10; ++i)
            QCOMPARE(postFrom(source, recover, { { "email", QStringLiteral("nobody%1@example.com").arg(i) } }).text(),
                QStringLiteral("This email not registered yet!"));
        QCOMPARE(postFrom(source, recover, { { "email", "nobody@example.com" } }).text(), tooMany);
    } else {
        const qsizetype before = mails().size();
        QStringList replies;
        for (int i = 1; i <= 61 && !replies.contains(tooMany); ++i)
            replies.append(
                postFrom(source.arg(i), recover, { { "email", registerAccount(QStringLiteral("many")).email } })
                    .text());
        QCOMPARE(replies.last(), tooMany);
        QVERIFY(replies.count(QStringLiteral("success")) <= 60);
        QCOMPARE(mails().size() - before, replies.count(QStringLiteral("success")));
    }
}

void tst_ZelkService::accountNeedsSignedInPeer_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("source");

    QTest::newRow("read the user hash") << "getInfo.php" << "127.0.0.40";
    QTest::newRow("change name and address") << "updateInfo.php" << "127.0.0.41";
    QTest::newRow("change the password") << "updatePassword.php" << "127.0.0.42";
}

void tst_ZelkService::accountNeedsSignedInPeer()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, source);

    const Account account = registerAccount(QStringLiteral("peer"));
    const QString path = QStringLiteral("/zelk-server/auth/") + endpoint;
    Fields fields { { "email", account.email } };
    if (endpoint == QLatin1String("updateInfo.php"))
        fields = { { "email", QStringLiteral("moved.") + account.email }, { "name", "Moved" },
            { "id", QString::number(account.id) } };
    if (endpoint == QLatin1String("updatePassword.php"))
        fields = { { "password", hashedPassword(QStringLiteral("new-secret")) },
            { "current_password", account.password }, { "id", QString::number(account.id) } };

    // Knowing the address or the id is not enough from an address that never signed in.
    QCOMPARE(postFrom(source, path, fields).text(), QStringLiteral("Please sign in again from this computer"));
    QCOMPARE(postFrom(source, QStringLiteral("/zelk-server/auth/login.php"),
                 { { "email", account.email }, { "password", account.password } })
                 .text(),
        QStringLiteral("success"));
    const QString signedIn = postFrom(source, path, fields).text();
    if (endpoint == QLatin1String("getInfo.php"))
        QCOMPARE(QJsonDocument::fromJson(signedIn.toUtf8()).object().value("hash").toString(), account.hash);
    else
        QCOMPARE(signedIn, QStringLiteral("success"));
}

void tst_ZelkService::openHostIsWarned()
{
    // An address of a documentation network: nothing listens on it, but the warning comes first.
    QProcess open;
    open.setProcessChannelMode(QProcess::MergedChannels);
    open.start(QStringLiteral(ZELK_SERVICE_BINARY),
        { "--host", "192.0.2.1", "--port", "0", "--data", dataDir.filePath(QStringLiteral("open")) });
    QVERIFY(open.waitForFinished(10000));
    QVERIFY2(open.readAll().contains("warning: --host 192.0.2.1 is not a loopback address"),
        qPrintable(open.errorString()));
    QVERIFY(!service.output().contains(QStringLiteral("warning")));
}

QString tst_ZelkService::clientRun(const QString &source, int index, QList<qint64> &times)
{
    QElapsedTimer step;
    step.start();
    const auto lap = [&] { times.append(step.restart()); };
    const QString email = QStringLiteral("load%1.%2@example.com").arg(index).arg(QRandomGenerator::global()->generate());
    const QString password = hashedPassword(QStringLiteral("load-secret"));
    const QString auth = QStringLiteral("/zelk-server/auth/");
    if (postFrom(source, auth + "registration.php", { { "email", email }, { "name", "Load" }, { "password", password } })
            .text()
        != QLatin1String("success"))
        return QStringLiteral("registration failed");
    const QString hash = QJsonDocument::fromJson(postFrom(source, auth + "getInfo.php", { { "email", email } }).body)
                             .object()
                             .value("hash")
                             .toString();
    lap();

    // Ten seconds of stereo, its parts in the client's order: the file first.
    const WavData input = WavData::tones(2, 44100, 441000);
    const QByteArray boundary = "----zelkload" + QByteArray::number(index);
    QByteArray body;
    const auto part = [&](const QByteArray &disposition, const QByteArray &content) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; " + disposition + "\r\n\r\n" + content + "\r\n";
    };
    part("name=\"uploadedFile\"; filename=\"" + uploadPath().toUtf8() + '"', input.toBytes());
    const QUrlQuery signing = GlobalsInfo::getInstance()->generateWebAccessData();
    const Fields fields { { "instrument", "vocals" }, { "version", "full" }, { "fileName", "load" },
        { "publicKey", signing.queryItemValue("publicKey") }, { "accessToken", signing.queryItemValue("accessToken") },
        { "hash", hash }, { "extension", "mp3" }, { "originalFilePath", "/load.mp3" } };
    for (const auto &[name, value] : fields)
        part("name=\"" + name.toUtf8() + '"', value.toUtf8());
    body += "--" + boundary + "--\r\n";
    const QString songId = sendFrom(source, "POST", QStringLiteral("/zelk-server/proceed.php"),
        "multipart/form-data; boundary=" + boundary, body)
                               .text();
    if (songId.toInt() <= 0)
        return QStringLiteral("upload answered ") + songId;
    lap();

    QDeadlineTimer deadline(45000);
    QString remains;
    while (!deadline.hasExpired()) {
        remains = postFrom(source, QStringLiteral("/zelk-server/remains.php"), { { "songID", songId } }).text();
        if (remains.toInt() <= 0)
            break;
        QThread::msleep(200);
    }
    if (remains != QLatin1String("-1"))
        return QStringLiteral("remains answered ") + remains;
    lap();

    const QStringList urls
        = postFrom(source, QStringLiteral("/zelk-server/download.php"), { { "songID", songId } }).text().split('|');
    WavData isolated;
    WavData mix;
    if (urls.size() != 2
        || !WavData::fromBytes(sendFrom(source, "GET", QUrl(urls[0]).path(), {}, {}).body, isolated)
        || !WavData::fromBytes(sendFrom(source, "GET", QUrl(urls[1]).path(), {}, {}).body, mix))
        return QStringLiteral("download failed");
    lap();
    if (isolated.samples.size() != input.samples.size() || mix.samples.size() != input.samples.size())
        return QStringLiteral("results of another length");
    for (qsizetype i = 0; i < input.samples.size(); ++i) {
        if (int(isolated.samples[i]) + int(mix.samples[i]) != int(input.samples[i]))
            return QStringLiteral("sample %1 does not sum to the upload").arg(i);
    }
    return QString();
}

void tst_ZelkService::twentyClientsAtOnce()
{
    // Twenty clients, each from an address of its own, register, upload, poll and download at once.
    constexpr int clients = 20;
    std::vector<QString> outcomes(clients);
    std::vector<QList<qint64>> times(clients);
    std::vector<std::thread> threads;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([this, i, &outcomes, &times] {
            outcomes[size_t(i)] = clientRun(QStringLiteral("127.0.2.%1").arg(i + 1), i, times[size_t(i)]);
        });
    for (std::thread &thread : threads)
        thread.join();
    const qint64 elapsed = total.elapsed();

    for (int i = 0; i < clients; ++i)
        QVERIFY2(outcomes[size_t(i)].isEmpty(), qPrintable(QStringLiteral("client %1: %2").arg(i).arg(outcomes[size_t(i)])));
    const char *steps[] = { "register", "upload", "wait", "download" };
    for (int step = 0; step < 4; ++step) {
        QList<qint64> values;
        for (const QList<qint64> &client : times)
            values.append(client.value(step));
        std::sort(values.begin(), values.end());
        qInfo("%-8s median %5lld ms, slowest %5lld ms", steps[step], values[clients / 2], values.last());
    }
    qInfo("%d clients, 10 s of stereo each, every result sums to its upload: %lld ms in all", clients, elapsed);
    QVERIFY(elapsed < 60000);
}

void tst_ZelkService::failedJobEndsWithReason_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("reason");

    QTest::newRow("job over the memory limit")
        << "memory" << "Processing failed: the job needed more memory than the service allows for one job (200 MB)";
    QTest::newRow("service killed in the job again and again")
        << "killed"
        << "Processing failed: the service stopped unexpectedly 3 times while working on this song, so it will "
           "not be tried again";
}

// A job that fails ends its song with a reason the client shows; the service goes on with the next one.
void tst_ZelkService::failedJobEndsWithReason()
{
    QFETCH(QString, failure);
    QFETCH(QString, reason);
#if defined(__SANITIZE_ADDRESS__)
    if (failure == QLatin1String("memory"))
        QSKIP("the sanitizers reserve more address space than any job limit");
#endif
    const Account account = registerAccount(QStringLiteral("failing"));
    QString songId;
    QVERIFY(service.stop());
    if (failure == QLatin1String("memory")) {
        // 32 channels need a few times the limit, a stereo song half of it.
        qputenv("ZELK_SERVICE_JOB_MEMORY", "200");
        const bool started = service.start(dataDir.path(), 0);
        qunsetenv("ZELK_SERVICE_JOB_MEMORY");
        QVERIFY2(started, qPrintable(service.output()));
        songId = uploadSong(account, WavData::tones(32, 48000, 6 * 48000), QStringLiteral("drums")).text();
    } else {
        // The whole service dies while it works on the song, at every start.
        QVERIFY2(service.start(dataDir.path(), 0), qPrintable(service.output()));
        songId = uploadSong(account, WavData::tones(1, 44100, 5'000'000), QStringLiteral("drums")).text();
        for (int kill = 0; kill < 3; ++kill) {
            QTest::qWait(300);
            const QString pid = servicePid();
            QVERIFY(!pid.isEmpty());
            QVERIFY(::kill(pid.toInt(), SIGKILL) == 0);
            service.stop();
            QVERIFY2(service.start(dataDir.path(), 0), qPrintable(service.output()));
        }
    }
    QVERIFY2(songId.toInt() > 0, qPrintable(songId));
    QCOMPARE(waitForResults(songId), reason);
    QCOMPARE(post(QStringLiteral("/zelk-server/download.php"), { { "songID", songId } }).text(), reason);

    const WavData input = WavData::tones(2, 44100, 44100);
    const QString next = uploadSong(account, input, QStringLiteral("vocals")).text();
    QCOMPARE(waitForResults(next), QStringLiteral("-1"));
    WavData isolated;
    WavData mix;
    QVERIFY(downloadResults(next, isolated, mix));
    for (qsizetype i = 0; i < input.samples.size(); ++i)
        QCOMPARE(int(isolated.samples[i]) + int(mix.samples[i]), int(input.samples[i]));
    QVERIFY(service.stop());
    QVERIFY2(service.start(dataDir.path(), 2), qPrintable(service.output()));
}

void tst_ZelkService::cleanupTestCase()
{
    // A clean exit on SIGTERM; under the sanitizers also no leak or error report.
    QVERIFY2(service.stop(), qPrintable(service.output()));
}

QTEST_GUILESS_MAIN(tst_ZelkService)
#include "tst_zelkservice.moc"
