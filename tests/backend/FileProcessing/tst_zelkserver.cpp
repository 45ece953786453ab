#include "FileProcessing/ZelkServer.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "ScriptedHttpServer.h"
#include "TempHome.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Answer = ScriptedHttpServer::Answer;
using namespace std::chrono_literals;

namespace {

const QByteArray proceedPath = "/zelk-server/proceed.php";
const QByteArray repeatPath = "/zelk-server/repeat.php";
const QByteArray remainsPath = "/zelk-server/remains.php";
const QByteArray cancelPath = "/zelk-server/cancel.php";
const QByteArray downloadPath = "/zelk-server/download.php";
const QByteArray removePath = "/zelk-server/removeUploaded.php";
const QByteArray probePath = "/generate_204";

const QString cancelled = QStringLiteral("Operation canceled");

QByteArray expectedToken(const QString &key)
{
    const QByteArray k = key.toUtf8();
    return QCryptographicHash::hash(k + "!~@@*~!" + k + "QWEpoi" + k, QCryptographicHash::Md5).toHex();
}

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QList<double> values(const QSignalSpy &spy)
{
    QList<double> list;
    for (const QList<QVariant> &arguments : spy)
        list.append(arguments.at(0).toDouble());
    return list;
}

// A resubmission with everyday values.
void startRepeat(ZelkServer &client)
{
    client.repeatFile(QStringLiteral("bass"), QStringLiteral("a.wav"), QStringLiteral("a"),
        QStringLiteral("h"), QStringLiteral("full"), QStringLiteral("/a.mp3"), QStringLiteral("mp3"));
}

} // namespace

class tst_ZelkServer final : public QObject
{
    Q_OBJECT

public:
    tst_ZelkServer() = default;
    Q_DISABLE_COPY_MOVE(tst_ZelkServer)

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formWireFormat();
    void newKeyPerRequest();
    void multipartWireFormat();
    void unreadableUploadSendsNothing();
    void songIdReplies_data();
    void songIdReplies();
    void remainsReplies_data();
    void remainsReplies();
    void secondTrackedRequestAbortsFirst();
    void newUploadEndsUrlRequest();
    void cancelWhileIdle();
    void cancelAbortsTrackedButNotDownloads();
    void downloadProgress_data();
    void downloadProgress();
    void downloadFilesWritesBoth();
    void targetsDeletedBeforeUrlRequest();
    void badUrlReplies_data();
    void badUrlReplies();
    void downloadSingleMix();
    void failedDownloadLeavesNoFile();
    void unwritableTarget();
    void writeFailureIsReported();
    void networkFaults_data();
    void networkFaults();
    void probe_data();
    void probe();
    void removeUploadedWaits();
    void destroyedWhileDownloading();
    void destroyedWhileRemoving();

private:
    std::unique_ptr<ZelkServer> makeClient() const;
    bool startUpload(ZelkServer &client) const;
    QByteArray urlPair(const QString &first, const QString &second) const;
    void scriptResults();
    QString pathIn(const QString &name) const { return temp->filePath(name); }

    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<QTemporaryDir> temp;
};

void tst_ZelkServer::initTestCase()
{
    TempHome::createDocumentsFolder();
}

void tst_ZelkServer::init()
{
    server = std::make_unique<ScriptedHttpServer>();
    QVERIFY(server->listen());
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
    QSettings *settings = GlobalsInfo::getInstance()->appSettings();
    settings->setValue(QStringLiteral("service_url"), server->baseUrl().toString());
    settings->setValue(QStringLiteral("probe_url"), server->url(QString::fromLatin1(probePath)).toString());
}

void tst_ZelkServer::cleanup()
{
    server.reset();
    temp.reset();
}

std::unique_ptr<ZelkServer> tst_ZelkServer::makeClient() const
{
    auto client = std::make_unique<ZelkServer>();
    client->setTimeLimits(500ms, 500ms);
    return client;
}

// An upload of a small WAV with everyday values.
bool tst_ZelkServer::startUpload(ZelkServer &client) const
{
    const QString wav = pathIn(QStringLiteral("a.wav"));
    writeFile(wav, "RIFFdata");
    return client.proceedFile(QStringLiteral("bass"), wav, QStringLiteral("a"), QStringLiteral("h"),
        QStringLiteral("full"), QStringLiteral("/a.mp3"), QStringLiteral("mp3"));
}

// download.php's answer: two URLs on the scripted server joined by a bar.
QByteArray tst_ZelkServer::urlPair(const QString &first, const QString &second) const
{
    return server->url(first).toEncoded() + '|' + server->url(second).toEncoded();
}

// Results "VOCALS" and "MIX", announced by download.php in that order.
void tst_ZelkServer::scriptResults()
{
    server->script("/files/vocals.wav", Answer::text("VOCALS"));
    server->script("/files/mix.wav", Answer::text("MIX"));
    server->script(downloadPath,
        Answer::text(urlPair(QStringLiteral("/files/vocals.wav"), QStringLiteral("/files/mix.wav"))));
}

void tst_ZelkServer::formWireFormat()
{
    server->script(repeatPath, Answer::text("31"));
    auto client = makeClient();
    QSignalSpy saved(client.get(), &ZelkServer::savedWithId);

    // Argument order differs from the field order: version/hash and extension/originalFilePath swap.
    client->repeatFile(QStringLiteral("vocals"), QStringLiteral("up load.wav"),
        QStringLiteral("Rock+Roll & Blues"), QStringLiteral("hash=1#2"), QStringLiteral("full"),
        QStringLiteral("/music/My Song.mp3"), QStringLiteral("mp3"));
    QVERIFY(saved.wait());
    QCOMPARE(saved.first().first().toInt(), 31);

    const auto requests = server->requestsTo(repeatPath);
    QCOMPARE(requests.size(), 1);
    const auto &request = requests.first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));

    const QRegularExpression pattern(
        QStringLiteral("^publicKey=([A-Za-z0-9]{10})&accessToken=([0-9a-f]{32})&(.*)$"));
    const auto match = pattern.match(QString::fromLatin1(request.body));
    QVERIFY2(match.hasMatch(), request.body.constData());
    QCOMPARE(match.captured(2).toLatin1(), expectedToken(match.captured(1)));
    QCOMPARE(match.captured(3),
        QStringLiteral(
            "instrument=vocals&uploadedFileName=up%20load.wav&fileName=Rock+Roll%20%26%20Blues"
            "&version=full&hash=hash%3D1%232&extension=mp3&originalFilePath=%2Fmusic%2FMy%20Song.mp3"));
}

void tst_ZelkServer::newKeyPerRequest()
{
    server->script(remainsPath, Answer::text("30"));
    auto client = makeClient();
    QSignalSpy remain(client.get(), &ZelkServer::remainSeconds);
    client->getRemainSeconds(5);
    client->getRemainSeconds(5);
    QTRY_COMPARE(remain.size(), 2);

    const auto requests = server->requestsTo(remainsPath);
    QCOMPARE(requests.size(), 2);
    QStringList keys;
    for (const auto &request : requests) {
        const auto items = request.formItems();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items.at(0).first, QStringLiteral("publicKey"));
        QCOMPARE(items.at(1).first, QStringLiteral("accessToken"));
        QCOMPARE(items.at(1).second.toLatin1(), expectedToken(items.at(0).second));
        QCOMPARE(items.at(2), qMakePair(QStringLiteral("songID"), QStringLiteral("5")));
        keys.append(items.at(0).second);
    }
    QVERIFY(keys.at(0) != keys.at(1));
}

void tst_ZelkServer::multipartWireFormat()
{
    server->script(proceedPath, Answer::text("42"));
    const QString wav = pathIn(QStringLiteral("up \"load\".wav"));
    const QByteArray content = QByteArray("RIFF") + QByteArray(200'000, 'x');
    writeFile(wav, content);

    auto client = makeClient();
    QSignalSpy saved(client.get(), &ZelkServer::savedWithId);
    QSignalSpy progress(client.get(), &ZelkServer::progressPercents);
    QVERIFY(
        client->proceedFile(QStringLiteral("drums"), wav, QStringLiteral("My Song"), QStringLiteral("h4sh"),
            QStringLiteral("full"), QStringLiteral("/music/My Song.mp4"), QStringLiteral("mp4")));
    QCOMPARE(values(progress), QList<double> { 0.0 });
    QVERIFY(saved.wait());
    QCOMPARE(saved.first().first().toInt(), 42);

    const QList<double> percents = values(progress);
    QCOMPARE(percents.last(), 100.0);
    QVERIFY(std::is_sorted(percents.begin(), percents.end()));

    const auto requests = server->requestsTo(proceedPath);
    QCOMPARE(requests.size(), 1);
    QVERIFY(requests.first().header("Content-Type").startsWith("multipart/form-data; boundary="));
    const auto parts = ScriptedHttpServer::multipartParts(requests.first());
    const QStringList names { "uploadedFile", "instrument", "version", "fileName", "publicKey", "accessToken",
        "hash", "extension", "originalFilePath" };
    QCOMPARE(parts.size(), names.size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts.at(i).headers.size(), 1);
        QCOMPARE(parts.at(i).headers.first().first, QByteArray("Content-Disposition"));
        if (i > 0)
            QCOMPARE(parts.at(i).headers.first().second,
                QStringLiteral("form-data; name=\"%1\"").arg(names.at(i)).toUtf8());
    }
    QCOMPARE(parts.at(0).headers.first().second,
        QStringLiteral("form-data; name=\"uploadedFile\"; filename=\"%1\"").arg(wav).toUtf8());
    QCOMPARE(parts.at(0).body, content);
    QCOMPARE(parts.at(1).body, QByteArray("drums"));
    QCOMPARE(parts.at(2).body, QByteArray("full"));
    QCOMPARE(parts.at(3).body, QByteArray("My Song"));
    QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9]{10}$"))
                .match(QString::fromLatin1(parts.at(4).body))
                .hasMatch());
    QCOMPARE(parts.at(5).body, expectedToken(QString::fromLatin1(parts.at(4).body)));
    QCOMPARE(parts.at(6).body, QByteArray("h4sh"));
    QCOMPARE(parts.at(7).body, QByteArray("mp4"));
    QCOMPARE(parts.at(8).body, QByteArray("/music/My Song.mp4"));
}

void tst_ZelkServer::unreadableUploadSendsNothing()
{
    auto client = makeClient();
    QSignalSpy progress(client.get(), &ZelkServer::progressPercents);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QVERIFY(!client->proceedFile(QStringLiteral("bass"), pathIn(QStringLiteral("missing.wav")),
        QStringLiteral("x"), QStringLiteral("h"), QStringLiteral("full"), QStringLiteral("/x.mp3"),
        QStringLiteral("mp3")));
    QTest::qWait(100);
    QVERIFY(server->requests().isEmpty());
    QCOMPARE(progress.size(), 0);
    QCOMPARE(errors.size(), 0);
}

void tst_ZelkServer::songIdReplies_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("songId");
    QTest::addColumn<QString>("error");
    QTest::newRow("upload accepted") << true << QByteArray("1207") << 1207 << QString();
    QTest::newRow("upload refused with text")
        << true << QByteArray("Wrong file type") << 0 << "Wrong file type";
    QTest::newRow("upload refused with 0") << true << QByteArray("0") << 0 << "0";
    QTest::newRow("repeat accepted") << false << QByteArray("88") << 88 << QString();
    QTest::newRow("repeat refused with 0") << false << QByteArray("0") << 0 << "0";
    QTest::newRow("repeat refused with text")
        << false << QByteArray("No such upload") << 0 << "No such upload";
    QTest::newRow("repeat empty reply") << false << QByteArray() << 0 << "";
}

void tst_ZelkServer::songIdReplies()
{
    QFETCH(bool, upload);
    QFETCH(QByteArray, reply);
    QFETCH(int, songId);
    QFETCH(QString, error);

    server->script(upload ? proceedPath : repeatPath, Answer::text(reply));
    auto client = makeClient();
    QSignalSpy saved(client.get(), &ZelkServer::savedWithId);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    if (upload)
        QVERIFY(startUpload(*client));
    else
        startRepeat(*client);
    QTRY_COMPARE(saved.size() + errors.size(), 1);
    if (error.isNull()) {
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().first().toInt(), songId);
    } else {
        QCOMPARE(saved.size(), 0);
        QCOMPARE(errors.first().first().toString(), error);
    }
}

void tst_ZelkServer::remainsReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QVariant>("argument");
    QTest::newRow("zero seconds") << QByteArray("0") << "remainSeconds" << QVariant(0);
    QTest::newRow("seconds left") << QByteArray("125") << "remainSeconds" << QVariant(125);
    QTest::newRow("ready") << QByteArray("-1") << "filesReady" << QVariant();
    QTest::newRow("empty") << QByteArray() << "showError" << QVariant(QString());
    QTest::newRow("text") << QByteArray("Song not found") << "showError"
                          << QVariant(QStringLiteral("Song not found"));
}

void tst_ZelkServer::remainsReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, signal);
    QFETCH(QVariant, argument);

    server->script(remainsPath, Answer::text(reply));
    auto client = makeClient();
    QSignalSpy remain(client.get(), &ZelkServer::remainSeconds);
    QSignalSpy ready(client.get(), &ZelkServer::filesReady);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    client->getRemainSeconds(9);
    QTRY_COMPARE(remain.size() + ready.size() + errors.size(), 1);
    QTest::qWait(50); // and nothing follows

    const QSignalSpy &fired = signal == QLatin1String("remainSeconds") ? remain
        : signal == QLatin1String("filesReady")                        ? ready
                                                                       : errors;
    QCOMPARE(fired.size(), 1);
    QCOMPARE(remain.size() + ready.size() + errors.size(), 1);
    if (argument.isValid())
        QCOMPARE(fired.first().first(), argument);
}

void tst_ZelkServer::secondTrackedRequestAbortsFirst()
{
    server->script(proceedPath, Answer::silent());
    server->script(downloadPath, Answer::text("bad reply"));
    auto client = makeClient();
    client->setTimeLimits(500ms, 60s);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy received(server.get(), &ScriptedHttpServer::requestReceived);

    QVERIFY(startUpload(*client));
    QVERIFY(received.wait());

    // The upload reports its cancellation before the URL request has left.
    client->downloadFiles(3, pathIn(QStringLiteral("one.wav")), pathIn(QStringLiteral("two.wav")), -1);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("File uploading error:\n\n") + cancelled);
    QVERIFY(server->requestsTo(downloadPath).isEmpty());

    QTRY_COMPARE(errors.size(), 2);
    QCOMPARE(errors.at(1).first().toString(), QStringLiteral("bad reply"));
    QCOMPARE(server->requestsTo(downloadPath).size(), 1);
}

void tst_ZelkServer::newUploadEndsUrlRequest()
{
    server->script(downloadPath, Answer::silent());
    server->script(proceedPath, Answer::text("5"));
    auto client = makeClient();
    client->setTimeLimits(500ms, 60s);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy saved(client.get(), &ZelkServer::savedWithId);
    QSignalSpy received(server.get(), &ScriptedHttpServer::requestReceived);

    client->downloadSingle(4, pathIn(QStringLiteral("one.wav")), false);
    QVERIFY(received.wait());
    QVERIFY(startUpload(*client));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Downloading error:\n\n") + cancelled);
    QVERIFY(saved.wait());
    QCOMPARE(saved.first().first().toInt(), 5);
}

void tst_ZelkServer::cancelWhileIdle()
{
    server->script(cancelPath, Answer::text("canceled"));
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy received(server.get(), &ScriptedHttpServer::requestReceived);
    QTest::ignoreMessage(QtDebugMsg, "Successfully canceled! \"canceled\"");
    client->cancelProcces(77);
    QVERIFY(received.wait());
    const auto requests = server->requestsTo(cancelPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().formItems().last(), qMakePair(QStringLiteral("songID"), QStringLiteral("77")));
    QTest::qWait(100); // the reply is in and logged by now
    QCOMPARE(errors.size(), 0);
}

void tst_ZelkServer::cancelAbortsTrackedButNotDownloads()
{
    // A result download in flight, then a tracked URL request: cancel ends the latter only.
    ScriptedHttpServer::Answer slowFile;
    slowFile.pieces = { QByteArray(400, 'a'), QByteArray(600, 'b') };
    slowFile.pieceDelayMs = 500;
    server->script("/files/slow.wav", slowFile);
    server->script(downloadPath, Answer::silent());
    server->script(cancelPath, Answer::text("ok"));

    auto client = makeClient();
    client->setTimeLimits(500ms, 60s);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    const QString target = pathIn(QStringLiteral("slow.wav"));
    client->downloadFile(server->url(QStringLiteral("/files/slow.wav")), target, true, -1);
    client->downloadSingle(8, pathIn(QStringLiteral("other.wav")), true);
    QTRY_COMPARE(server->requestsTo(downloadPath).size(), 1);

    QVERIFY(!QFile::exists(target)); // still on its way
    client->cancelProcces(8);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Downloading error:\n\n") + cancelled);
    QTRY_COMPARE(server->requestsTo(cancelPath).size(), 1);

    QTRY_VERIFY(!first.isEmpty() && first.last().first().toDouble() == 100.0);
    QCOMPARE(readFile(target), QByteArray(400, 'a') + QByteArray(600, 'b'));
    QCOMPARE(errors.size(), 1);
}

void tst_ZelkServer::downloadProgress_data()
{
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<double>>("mustSee");
    QTest::addColumn<bool>("isFirst");
    QTest::newRow("with total") << true << qint64(-1)
                                << QList<QByteArray> { QByteArray(500, 'a'), QByteArray(500, 'b') }
                                << QList<double> { 50.0, 99.8 } << true;
    QTest::newRow("no total, no expected size")
        << false << qint64(-1) << QList<QByteArray> { QByteArray(500, 'a'), QByteArray(700, 'b') }
        << QList<double> { 95.0 } << false;
    QTest::newRow("no total, expected 1000")
        << false << qint64(1000) << QList<QByteArray> { QByteArray(500, 'a'), QByteArray(700, 'b') }
        << QList<double> { 50.0, 99.8 } << true;
}

void tst_ZelkServer::downloadProgress()
{
    QFETCH(bool, contentLength);
    QFETCH(qint64, expectedSize);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<double>, mustSee);
    QFETCH(bool, isFirst);

    // Headers alone first: the network layer holds back progress for 100 ms after them.
    ScriptedHttpServer::Answer answer;
    answer.pieces = QList<QByteArray> { QByteArray() } + pieces;
    answer.pieceDelayMs = 250;
    answer.contentLength = contentLength;
    server->script("/files/r.wav", answer);

    auto client = makeClient();
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
    const QString target = pathIn(QStringLiteral("r.wav"));
    client->downloadFile(server->url(QStringLiteral("/files/r.wav")), target, isFirst, expectedSize);

    QSignalSpy &reported = isFirst ? first : second;
    QTRY_VERIFY(!reported.isEmpty() && reported.last().first().toDouble() == 100.0);
    QCOMPARE((isFirst ? second : first).size(), 0);
    QCOMPARE(readFile(target), pieces.join());

    QList<double> running = values(reported);
    running.removeLast();
    QVERIFY(!running.isEmpty());
    for (double percent : running)
        QVERIFY2(percent < 100.0, qPrintable(QString::number(percent)));
    for (double percent : mustSee)
        QVERIFY2(running.contains(percent), qPrintable(QStringLiteral("%1 not in reports").arg(percent)));
    if (!contentLength && expectedSize == -1) {
        for (double percent : running)
            QCOMPARE(percent, 95.0);
    }
}

void tst_ZelkServer::downloadFilesWritesBoth()
{
    scriptResults();
    auto client = makeClient();
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    const QString one = pathIn(QStringLiteral("vocals - song.mp3.wav"));
    const QString two = pathIn(QStringLiteral("Mix Without vocals - song.mp3.wav"));
    client->downloadFiles(12, one, two, 100);

    QTRY_VERIFY(!first.isEmpty() && first.last().first().toDouble() == 100.0);
    QTRY_VERIFY(!second.isEmpty() && second.last().first().toDouble() == 100.0);
    QCOMPARE(readFile(one), QByteArray("VOCALS"));
    QCOMPARE(readFile(two), QByteArray("MIX"));
    QCOMPARE(errors.size(), 0);

    const auto urlRequest = server->requestsTo(downloadPath);
    QCOMPARE(urlRequest.size(), 1);
    QCOMPARE(
        urlRequest.first().formItems().last(), qMakePair(QStringLiteral("songID"), QStringLiteral("12")));
    for (const QByteArray &path : { QByteArray("/files/vocals.wav"), QByteArray("/files/mix.wav") }) {
        const auto fileRequests = server->requestsTo(path);
        QCOMPARE(fileRequests.size(), 1);
        QCOMPARE(fileRequests.first().method, QByteArray("GET"));
        QVERIFY(fileRequests.first().body.isEmpty());
    }
}

void tst_ZelkServer::targetsDeletedBeforeUrlRequest()
{
    server->script(downloadPath, Answer::silent());
    const QString one = pathIn(QStringLiteral("one.wav"));
    const QString two = pathIn(QStringLiteral("two.wav"));
    const QString single = pathIn(QStringLiteral("single.wav"));
    for (const QString &path : { one, two, single })
        writeFile(path, "stale");
    auto client = makeClient();
    client->downloadFiles(1, one, two, -1);
    QVERIFY(!QFile::exists(one));
    QVERIFY(!QFile::exists(two));
    client->downloadSingle(1, single, false);
    QVERIFY(!QFile::exists(single));
}

void tst_ZelkServer::badUrlReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("three pieces") << QByteArray("http://a/1|http://a/2|http://a/3");
    QTest::newRow("no bar") << QByteArray("http://a/1");
    QTest::newRow("error text") << QByteArray("Song is not ready");
    QTest::newRow("empty") << QByteArray();
}

void tst_ZelkServer::badUrlReplies()
{
    QFETCH(QByteArray, reply);
    server->script(downloadPath, Answer::text(reply));
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    client->downloadFiles(2, pathIn(QStringLiteral("one.wav")), pathIn(QStringLiteral("two.wav")), -1);
    QVERIFY(errors.wait());
    QCOMPARE(errors.first().first().toString(), QString::fromUtf8(reply));
    QTest::qWait(100);
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(first.size(), 0);
}

void tst_ZelkServer::downloadSingleMix()
{
    scriptResults();
    auto client = makeClient();
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
    const QString target = pathIn(QStringLiteral("Mix Without drums.wav"));
    client->downloadSingle(6, target, true);
    QTRY_VERIFY(!first.isEmpty() && first.last().first().toDouble() == 100.0);
    QCOMPARE(readFile(target), QByteArray("MIX"));
    QCOMPARE(second.size(), 0);
    QVERIFY(server->requestsTo("/files/vocals.wav").isEmpty());
}

void tst_ZelkServer::failedDownloadLeavesNoFile()
{
    server->script("/files/gone.wav", Answer::text("missing", 500));
    server->script(downloadPath,
        Answer::text(urlPair(QStringLiteral("/files/gone.wav"), QStringLiteral("/files/gone.wav"))));
    const QString target = pathIn(QStringLiteral("gone.wav"));
    writeFile(target, "stale");
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    client->downloadSingle(9, target, false);
    QVERIFY(errors.wait());
    QVERIFY(errors.first().first().toString().startsWith(QStringLiteral("Download error:\n\n")));
    QVERIFY(errors.first().first().toString().endsWith(QStringLiteral("Internal Server Error")));
    QVERIFY(!QFile::exists(target));
    for (const auto &report : first)
        QVERIFY(report.first().toDouble() < 100.0);
}

void tst_ZelkServer::unwritableTarget()
{
    server->script("/files/r.wav", Answer::text("DATA"));
    const QString target = pathIn(QStringLiteral("no such folder/r.wav"));
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
    client->downloadFile(server->url(QStringLiteral("/files/r.wav")), target, false, -1);
    QVERIFY(errors.wait());
    QCOMPARE(
        errors.first().first().toString(), QStringLiteral("Failed to open file for writing:\n\n") + target);
    QVERIFY(second.isEmpty() || second.last().first().toDouble() < 100.0);
}

void tst_ZelkServer::writeFailureIsReported()
{
    // A full disk must not end in a "complete" result.
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    server->script("/files/r.wav", Answer::text(QByteArray(4096, 'd')));
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    client->downloadFile(server->url(QStringLiteral("/files/r.wav")), QStringLiteral("/dev/full"), true, -1);
    QVERIFY(errors.wait());
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Failed to write file:\n\n/dev/full"));
    QVERIFY(first.isEmpty() || first.last().first().toDouble() < 100.0);
}

void tst_ZelkServer::networkFaults_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("ending");

    const QList<QPair<QString, QString>> operations {
        { QStringLiteral("remains"), QStringLiteral("Remains operation error:\n\n") },
        { QStringLiteral("upload"), QStringLiteral("File uploading error:\n\n") },
        { QStringLiteral("repeat"), QStringLiteral("File repeating error:\n\n") },
        { QStringLiteral("urls"), QStringLiteral("Downloading error:\n\n") },
        { QStringLiteral("file"), QStringLiteral("Download error:\n\n") },
    };
    const QList<QPair<QString, QString>> faults {
        { QStringLiteral("http 500"), QStringLiteral("server replied: Internal Server Error") },
        { QStringLiteral("refused"), QStringLiteral("Connection refused") },
        { QStringLiteral("stall"),
            QStringLiteral("Network timeout: nothing was transferred for 0.5 seconds") },
        { QStringLiteral("cut body"), QStringLiteral("Connection closed") },
        { QStringLiteral("reset"), QStringLiteral("Connection closed") },
    };
    for (const auto &[operation, prefix] : operations) {
        for (const auto &[fault, ending] : faults)
            QTest::addRow("%s, %s", qPrintable(operation), qPrintable(fault))
                << operation << fault << prefix << ending;
    }
}

void tst_ZelkServer::networkFaults()
{
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    QFETCH(QString, prefix);
    QFETCH(QString, ending);

    ScriptedHttpServer::Answer answer = Answer::text("12345678");
    if (fault == QLatin1String("http 500")) {
        answer.status = 500;
    } else if (fault == QLatin1String("stall")) {
        answer.declaredLength = 100;
        answer.end = Answer::End::Stall;
    } else if (fault == QLatin1String("cut body")) {
        answer.declaredLength = 100;
    } else if (fault == QLatin1String("reset")) {
        answer = Answer::reset();
    }

    const QByteArray path = operation == QLatin1String("remains") ? remainsPath
        : operation == QLatin1String("upload")                    ? proceedPath
        : operation == QLatin1String("repeat")                    ? repeatPath
        : operation == QLatin1String("urls")                      ? downloadPath
                                                                  : QByteArray("/files/r.wav");
    server->script(path, answer);
    const QUrl fileUrl = fault == QLatin1String("refused")
        ? QUrl(QStringLiteral("http://127.0.0.1:%1/files/r.wav").arg(closedPort()))
        : server->url(QStringLiteral("/files/r.wav"));
    if (operation == QLatin1String("file"))
        server->script(downloadPath, Answer::text(fileUrl.toEncoded() + '|' + fileUrl.toEncoded()));
    else if (fault == QLatin1String("refused"))
        GlobalsInfo::getInstance()->appSettings()->setValue(
            QStringLiteral("service_url"), QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));

    const QString target = pathIn(QStringLiteral("r.wav"));
    auto client = makeClient();
    QSignalSpy errors(client.get(), &ZelkServer::showError);
    QSignalSpy saved(client.get(), &ZelkServer::savedWithId);
    QSignalSpy remain(client.get(), &ZelkServer::remainSeconds);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);

    QElapsedTimer clock;
    clock.start();
    if (operation == QLatin1String("remains"))
        client->getRemainSeconds(1);
    else if (operation == QLatin1String("upload"))
        startUpload(*client);
    else if (operation == QLatin1String("repeat"))
        startRepeat(*client);
    else
        client->downloadSingle(1, target, false);

    QVERIFY(errors.wait(3000));
    const QString text = errors.first().first().toString();
    QVERIFY2(text.startsWith(prefix) && text.endsWith(ending), qPrintable(text));
    QVERIFY(clock.elapsed() < 3000);
    QTest::qWait(50);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(saved.size() + remain.size(), 0);
    QVERIFY(!QFile::exists(target));
    QVERIFY(first.isEmpty() || first.last().first().toDouble() < 100.0);
}

void tst_ZelkServer::probe_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("online");
    QTest::newRow("204") << QString() << true;
    QTest::newRow("http 500") << "http 500" << false;
    QTest::newRow("refused") << "refused" << false;
    QTest::newRow("no answer") << "silent" << false;
    QTest::newRow("answer trickles past the limit") << "trickle" << false;
}

void tst_ZelkServer::probe()
{
    QFETCH(QString, fault);
    QFETCH(bool, online);
    if (fault == QLatin1String("http 500"))
        server->script(probePath, Answer::text("down", 500));
    else if (fault == QLatin1String("silent"))
        server->script(probePath, Answer::silent());
    else if (fault == QLatin1String("trickle")) {
        // Bytes keep moving, so only a limit on the whole exchange ends it.
        Answer trickle;
        trickle.pieces = QList<QByteArray>(8, QByteArray("ok"));
        trickle.pieceDelayMs = 150;
        server->script(probePath, trickle);
    } else
        server->script(probePath, Answer::text({}, 204));
    if (fault == QLatin1String("refused"))
        GlobalsInfo::getInstance()->appSettings()->setValue(QStringLiteral("probe_url"),
            QStringLiteral("http://127.0.0.1:%1/generate_204").arg(closedPort()));

    auto client = makeClient();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(client->checkInternetConnection(), online);
    QVERIFY(clock.elapsed() < 2000);
    if (fault != QLatin1String("refused")) {
        QCOMPARE(server->requestsTo(probePath).size(), 1);
        QCOMPARE(server->requestsTo(probePath).first().method, QByteArray("GET"));
    }
}

void tst_ZelkServer::removeUploadedWaits()
{
    ScriptedHttpServer::Answer slow = Answer::text("removed");
    slow.pieces = { "remo", "ved" };
    slow.pieceDelayMs = 200;
    server->script(removePath, slow);
    auto client = makeClient();
    QTest::ignoreMessage(QtDebugMsg, "Removing File Result:  \"removed\"");
    client->removeUploaded(QStringLiteral("up load.wav"));
    const auto requests = server->requestsTo(removePath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().formItems().last(),
        qMakePair(QStringLiteral("fileName"), QStringLiteral("up load.wav")));

    // A service that never answers does not hold the window forever.
    server->script(removePath, Answer::silent());
    QElapsedTimer clock;
    clock.start();
    client->removeUploaded(QStringLiteral("x.wav"));
    QVERIFY(clock.elapsed() < 3000);
}

void tst_ZelkServer::destroyedWhileDownloading()
{
    ScriptedHttpServer::Answer endless;
    endless.pieces = { QByteArray(), QByteArray(1000, 'a') };
    endless.pieceDelayMs = 250;
    endless.declaredLength = 1'000'000;
    endless.end = Answer::End::Stall;
    server->script("/files/a.wav", endless);
    server->script("/files/b.wav", endless);
    server->script(
        downloadPath, Answer::text(urlPair(QStringLiteral("/files/a.wav"), QStringLiteral("/files/b.wav"))));
    server->script(repeatPath, Answer::silent());

    auto client = makeClient();
    client->setTimeLimits(500ms, 60s);
    QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
    QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
    client->downloadFiles(1, pathIn(QStringLiteral("a.wav")), pathIn(QStringLiteral("b.wav")), -1);
    QTRY_VERIFY(!first.isEmpty() && !second.isEmpty());
    client->cancelProcces(1); // the downloads outlive a cancel ...
    startRepeat(*client);
    QTRY_COMPARE(server->requestsTo(repeatPath).size(), 1);

    client.reset(); // ... but not their ZelkServer
    QTest::qWait(200);
    QVERIFY(!QFile::exists(pathIn(QStringLiteral("a.wav"))));
    QVERIFY(!QFile::exists(pathIn(QStringLiteral("b.wav"))));
}

void tst_ZelkServer::destroyedWhileRemoving()
{
    server->script(removePath, Answer::silent());
    auto *client = new ZelkServer;
    client->setTimeLimits(500ms, 5s);
    QPointer<ZelkServer> watch(client);
    QElapsedTimer clock;
    clock.start();
    // The owner goes away while removeUploaded spins its local loop.
    QTimer::singleShot(100, client, [client] { client->deleteLater(); });
    client->removeUploaded(QStringLiteral("x.wav"));
    QVERIFY(watch.isNull());
    QVERIFY(clock.elapsed() < 2000);
}

QTEST_GUILESS_MAIN(tst_ZelkServer)
#include "tst_zelkserver.moc"
