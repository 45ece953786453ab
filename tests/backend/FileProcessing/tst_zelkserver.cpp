#include "FileProcessing/TransferProgress.h"
#include "FileProcessing/ZelkServer.h"

#include "FileBytes.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "ScriptedHttpServer.h"
#include "TempHome.h"

#include <QTcpServer>
#include <QtTest>

using Answer = ScriptedHttpServer::Answer;
using FormItem = QPair<QString, QString>;
using namespace std::chrono_literals;

namespace {

const QByteArray proceedPath = "/zelk-server/proceed.php";
const QByteArray repeatPath = "/zelk-server/repeat.php";
const QByteArray remainsPath = "/zelk-server/remains.php";
const QByteArray cancelPath = "/zelk-server/cancel.php";
const QByteArray downloadPath = "/zelk-server/download.php";
const QByteArray removePath = "/zelk-server/removeUploaded.php";
const QByteArray probePath = "/generate_204";
const QByteArray resultPath = "/files/r.wav";
const QString cancelled = QStringLiteral("Operation canceled");

// The service's check: MD5 of the key put three times into the token template.
QByteArray expectedToken(const QString &key)
{
    const QByteArray k = key.toUtf8();
    return QCryptographicHash::hash(k + "!~@@*~!" + k + "QWEpoi" + k, QCryptographicHash::Md5).toHex();
}

// The base URL of a port on 127.0.0.1 where nothing listens.
QString closedBase()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
}

QList<double> values(const QSignalSpy &spy)
{
    QList<double> list;
    for (const QList<QVariant> &arguments : spy)
        list.append(arguments.at(0).toDouble());
    return list;
}

void setUrl(const QString &key, const QString &url)
{
    GlobalsInfo::getInstance()->appSettings()->setValue(key, url);
}

// download.php's answer: two URLs joined by a bar.
QByteArray urlPair(const QString &base, const char *first, const char *second)
{
    return (base + QLatin1String(first) + QLatin1Char('|') + base + QLatin1String(second)).toUtf8();
}

std::unique_ptr<ZelkServer> makeClient(std::chrono::milliseconds inactivity = 500ms)
{
    auto client = std::make_unique<ZelkServer>();
    client->setTimeLimits(500ms, inactivity);
    return client;
}

} // namespace

// The service client against a scripted server, and the percentages it reports.
class tst_ZelkServer final : public QObject
{
    Q_OBJECT

public:
    tst_ZelkServer() = default;
    Q_DISABLE_COPY_MOVE(tst_ZelkServer)

private slots:
    void initTestCase() { TempHome::createDocumentsFolder(); }

    void init()
    {
        server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(server->listen());
        temp = std::make_unique<QTemporaryDir>();
        QVERIFY(temp->isValid());
        setUrl(SettingsKeys::serviceUrl(), base());
        events.clear();
    }

    void percent_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("expectedSize");
        QTest::addColumn<double>("percent"); // -1: nothing reported
        const auto row
            = [](const char *name, bool upload, qint64 done, qint64 total, qint64 expected, double percent) {
                  QTest::newRow(name) << upload << done << total << expected << percent;
              };
        row("upload, two thirds rounds down", true, 2, 3, 0, 66.6);
        row("upload, all sent", true, 3, 3, 0, 100.0);
        row("upload, large file", true, 4'000'000'000, 8'000'000'000, 0, 50.0);
        row("upload, total zero", true, 0, 0, 0, -1.0);
        row("total wins over expected", false, 250, 1000, 500, 25.0);
        row("all of total is capped", false, 1000, 1000, -1, 99.8);
        row("no total, no expected", false, 700, -1, -1, 95.0);
        row("no total, past expected", false, 1200, -1, 1000, 99.8);
        row("total zero uses expected", false, 100, 0, 1000, 10.0);
    }

    void percent()
    {
        QFETCH(bool, upload);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(qint64, expectedSize);
        QFETCH(double, percent);
        QCOMPARE(upload ? TransferProgress::uploadPercent(done, total).value_or(-1.0)
                        : TransferProgress::downloadPercent(done, total, expectedSize),
            percent);
    }

    void formWireFormat()
    {
        server->script(repeatPath, Answer::text("31"));
        server->script(remainsPath, Answer::text("30"));
        auto client = makeClient();
        record(*client);

        // Argument order differs from the field order: version/hash and extension/originalFilePath swap.
        client->repeatFile(
            "vocals", "up load.wav", "Rock+Roll & Blü 1%", "hash=1#2", "full", "/music/My Song.mp3", "mp3");
        QTRY_COMPARE(events, QStringList { "saved:31" });
        client->getRemainSeconds(5);
        QTRY_COMPARE(events.size(), 2);

        const auto requests = server->requests();
        QCOMPARE(requests.first().method, QByteArray("POST"));
        QCOMPARE(requests.first().header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        const QRegularExpression pattern("^publicKey=([A-Za-z0-9]{10})&accessToken=([0-9a-f]{32})&(.*)$");
        const auto repeat = pattern.match(QString::fromLatin1(requests.at(0).body));
        const auto remains = pattern.match(QString::fromLatin1(requests.at(1).body));
        QVERIFY2(repeat.hasMatch() && remains.hasMatch(), requests.at(0).body.constData());
        QCOMPARE(repeat.captured(2).toLatin1(), expectedToken(repeat.captured(1)));
        QCOMPARE(repeat.captured(3),
            QStringLiteral("instrument=vocals&uploadedFileName=up%20load.wav"
                           "&fileName=Rock+Roll%20%26%20Bl%C3%BC%201%25&version=full&hash=hash%3D1%232"
                           "&extension=mp3&originalFilePath=%2Fmusic%2FMy%20Song.mp3"));
        QCOMPARE(remains.captured(3), QStringLiteral("songID=5"));
        QVERIFY2(repeat.captured(1) != remains.captured(1), "a new key for every request");
    }

    void multipartWireFormat()
    {
        server->script(proceedPath, Answer::text("42"));
        const QString wav = pathIn("up \"load\".wav");
        const QByteArray content = QByteArray("RIFF") + QByteArray(200'000, 'x');
        QVERIFY(writeFile(wav, content));
        auto client = makeClient();
        record(*client);
        QSignalSpy progress(client.get(), &ZelkServer::progressPercents);
        // A file that cannot be read sends and reports nothing.
        QVERIFY(!client->proceedFile("bass", pathIn("missing.wav"), "x", "h", "full", "/x.mp3", "mp3"));
        QVERIFY(client->proceedFile("drums", wav, "My Song", "h4sh", "full", "/music/My Song.mp4", "mp4"));
        QCOMPARE(values(progress), QList<double> { 0.0 });
        QTRY_COMPARE(events, QStringList { "saved:42" });
        const QList<double> percents = values(progress);
        QCOMPARE(percents.last(), 100.0);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));

        QCOMPARE(server->requests().size(), 1);
        const auto request = server->requests().first();
        QVERIFY(request.header("Content-Type").startsWith("multipart/form-data; boundary="));
        QStringList names { QStringLiteral("form-data; name=\"uploadedFile\"; filename=\"%1\"").arg(wav) };
        for (const char *name : { "instrument", "version", "fileName", "publicKey", "accessToken", "hash",
                 "extension", "originalFilePath" })
            names << QStringLiteral("form-data; name=\"%1\"").arg(QLatin1String(name));
        QByteArrayList bodies;
        for (const auto &part : ScriptedHttpServer::multipartParts(request)) {
            QCOMPARE(part.headers.size(), 1);
            QCOMPARE(part.headers.first().first, QByteArray("Content-Disposition"));
            QCOMPARE(QString::fromUtf8(part.headers.first().second), names.takeFirst());
            bodies << part.body;
        }
        QVERIFY(names.isEmpty());
        QCOMPARE(bodies.takeAt(5), expectedToken(QString::fromLatin1(bodies.at(4))));
        QVERIFY(
            QRegularExpression("^[A-Za-z0-9]{10}$").match(QString::fromLatin1(bodies.takeAt(4))).hasMatch());
        QCOMPARE(bodies,
            (QByteArrayList { content, "drums", "full", "My Song", "h4sh", "mp4", "/music/My Song.mp4" }));
    }

    void replies_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("event");

        // The plain answers of a good run are the window tests' part; here the odd ones.
        const auto text = [](const char *body) { return Answer::text(body); };
        QTest::newRow("upload refused with text")
            << proceedPath << text("Wrong file type") << false << "error:Wrong file type";
        QTest::newRow("upload refused with 0") << proceedPath << text("0") << false << "error:0";
        QTest::newRow("zero seconds") << remainsPath << text("0") << false << "remain:0";
        QTest::newRow("remains text")
            << remainsPath << text("Song not found") << false << "error:Song not found";
        const char *threeUrls = "http://127.0.0.1:1/1|http://127.0.0.1:1/2|http://127.0.0.1:1/3";
        QTest::newRow("three urls") << downloadPath << text(threeUrls) << false
                                    << "error:" + QString(threeUrls);
        QTest::newRow("probe, no answer") << probePath << Answer::silent() << false << "offline";
        Answer trickle = text("");
        // Bytes keep moving, so only a limit on the whole exchange ends it.
        trickle.pieces = QList<QByteArray>(8, QByteArray("ok"));
        trickle.pieceDelayMs = 150;
        QTest::newRow("probe, answer trickles past the limit") << probePath << trickle << false << "offline";

        // Every operation's error prefix once, every network fault against a request and against a result.
        Answer failed = text("12345678");
        failed.status = 500;
        Answer cut = text("12345678");
        cut.declaredLength = 100;
        Answer stall = cut;
        stall.end = Answer::End::Stall;
        // The network layer's words, "%1" standing for the base URL the request went to.
        const auto http500 = [](const QString &path) {
            return "Error transferring %1" + path + " - server replied: Internal Server Error";
        };
        const QString timeout = QStringLiteral("Network timeout: nothing was transferred for 0.5 seconds");
        const QString closed = QStringLiteral("Connection closed");
        QTest::newRow("remains, http 500")
            << remainsPath << failed << false << "error:Remains operation error:\n\n" + http500(remainsPath);
        const QString unreachable = QStringLiteral(
            "error:The ZELK service at %1 cannot be reached: Connection refused. Check that it is running.");
        QTest::newRow("upload, refused") << proceedPath << cut << true << unreachable;
        QTest::newRow("repeat, stall")
            << repeatPath << stall << false << "error:File repeating error:\n\n" + timeout;
        QTest::newRow("urls, cut body")
            << downloadPath << cut << false << "error:Downloading error:\n\n" + closed;
        QTest::newRow("file, http 500")
            << resultPath << failed << false << "error:Download error:\n\n" + http500(resultPath);
        QTest::newRow("file, refused") << resultPath << cut << true << unreachable;
        QTest::newRow("file, stall") << resultPath << stall << false << "error:Download error:\n\n" + timeout;
        QTest::newRow("file, reset") << resultPath << Answer::reset() << false
                                     << "error:Download error:\n\n" + closed;
        QTest::newRow("probe, refused") << probePath << failed << true << "offline";

        // A reply that succeeds with nothing in it names the step it was waiting for.
        const QString noAnswer = QStringLiteral("error:The service gave no answer while ");
        QTest::newRow("upload, empty") << proceedPath << text("") << false << noAnswer + "uploading the file.";
        QTest::newRow("remains, empty")
            << remainsPath << text("") << false << noAnswer + "asking for the remaining time.";
        QTest::newRow("urls, empty") << downloadPath << text("") << false << noAnswer + "asking for the results.";
        // clang-format on
    }

    void replies()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(bool, refused);
        QFETCH(QString, event);

        server->script(path, answer);
        const QString url = refused ? closedBase() : base();
        if (path == probePath)
            setUrl(SettingsKeys::probeUrl(), url + QLatin1String(probePath));
        else if (path == resultPath)
            server->script(downloadPath, Answer::text(urlPair(url, "/files/r.wav", "/files/r.wav")));
        else
            setUrl(SettingsKeys::serviceUrl(), url);

        const QString target = pathIn("r.wav");
        auto client = makeClient();
        record(*client);
        if (path == remainsPath)
            client->getRemainSeconds(9);
        else if (path == proceedPath)
            QVERIFY(startUpload(*client));
        else if (path == repeatPath)
            client->repeatFile("bass", "a.wav", "a", "h", "full", "/a.mp3", "mp3");
        else if (path == probePath) {
            QElapsedTimer clock;
            clock.start();
            events.append(QLatin1String(client->checkInternetConnection() ? "online" : "offline"));
            QVERIFY(clock.elapsed() < 2000);
            QCOMPARE(server->requestsTo(probePath).value(0).method, QByteArray(refused ? "" : "GET"));
        } else
            client->downloadSingle(1, target, false);

        QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), 3000);
        QTest::qWait(50); // and nothing follows
        QCOMPARE(events, QStringList { event.replace(QLatin1String("%1"), url) });
        QVERIFY(!QFile::exists(target));
        if (path == remainsPath)
            QCOMPARE(server->requestsTo(remainsPath).value(0).formItems().value(2).second, "9");
    }

    void trackedRequestAbortsThePrevious()
    {
        server->script(downloadPath, Answer::silent());
        server->script(proceedPath, Answer::silent());
        server->script(repeatPath, Answer::silent());
        auto client = makeClient(60s);
        record(*client);

        // Each new tracked request ends the one in flight, which reports that before the new one leaves.
        client->downloadSingle(4, pathIn("one.wav"), false);
        QTRY_COMPARE(server->requests().size(), 1);
        QVERIFY(startUpload(*client));
        QCOMPARE(events, QStringList { "error:Downloading error:\n\n" + cancelled });
        QTRY_COMPARE(server->requests().size(), 2);
        client->repeatFile("bass", "a.wav", "a", "h", "full", "/a.mp3", "mp3");
        QCOMPARE(events.last(), "error:File uploading error:\n\n" + cancelled);
        QTRY_COMPARE(server->requests().size(), 3);
        server->script(downloadPath, Answer::text("bad reply"));
        client->downloadFiles(3, pathIn("a.wav"), pathIn("b.wav"), -1);
        QCOMPARE(events.last(), "error:File repeating error:\n\n" + cancelled);
        QTRY_COMPARE(events.last(), "error:bad reply");
        QCOMPARE(events.size(), 4);
        QCOMPARE(server->requests().size(), 4);
    }

    void cancelAbortsTrackedButNotDownloads()
    {
        // A result download in flight, then a tracked URL request: cancel ends the latter only.
        Answer slowFile;
        slowFile.pieces = { QByteArray(400, 'a'), QByteArray(600, 'b') };
        slowFile.pieceDelayMs = 500;
        server->script("/files/slow.wav", slowFile);
        server->script(downloadPath, Answer::silent());
        server->script(cancelPath, Answer::text("canceled"));

        auto client = makeClient(60s);
        record(*client);
        const QString target = pathIn("slow.wav");
        client->downloadFile(server->url("/files/slow.wav"), target, true, -1);
        client->downloadSingle(8, pathIn("other.wav"), true);
        QTRY_COMPARE(server->requestsTo(downloadPath).size(), 1);

        QVERIFY(!QFile::exists(target)); // still on its way
        QTest::ignoreMessage(QtDebugMsg, "Successfully canceled! \"canceled\"");
        client->cancelProcces(8);
        const QString aborted = "error:Downloading error:\n\n" + cancelled;
        QCOMPARE(events, QStringList { aborted });
        QTRY_COMPARE(server->requestsTo(cancelPath).size(), 1);
        QCOMPARE(server->requestsTo(cancelPath).first().formItems().last(), FormItem("songID", "8"));
        QTRY_COMPARE(events, (QStringList { aborted, "first" }));
        QCOMPARE(readFile(target), QByteArray(400, 'a') + QByteArray(600, 'b'));
    }

    void downloadProgress()
    {
        // Headers alone first: the network layer holds back progress for 100 ms after them. No total: the
        // expected size stands in for it.
        Answer answer;
        answer.pieces = { QByteArray(), QByteArray(500, 'a'), QByteArray(700, 'b') };
        answer.pieceDelayMs = 250;
        answer.contentLength = false;
        server->script("/files/r.wav", answer);

        auto client = makeClient();
        QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
        QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
        const QString target = pathIn("r.wav");
        client->downloadFile(server->url("/files/r.wav"), target, false, 1000);

        QTRY_VERIFY(!second.isEmpty() && second.last().first().toDouble() == 100.0);
        QCOMPARE(first.size(), 0);
        QCOMPARE(readFile(target), answer.pieces.join());
        QList<double> running = values(second);
        running.removeLast();
        QVERIFY(running.contains(50.0) && running.contains(99.8));
        QVERIFY(
            std::all_of(running.cbegin(), running.cend(), [](double percent) { return percent < 100.0; }));
    }

    void downloads()
    {
        server->script("/files/vocals.wav", Answer::text("VOCALS"));
        server->script("/files/mix.wav", Answer::text("MIX"));
        server->script(downloadPath, Answer::text(urlPair(base(), "/files/vocals.wav", "/files/mix.wav")));
        const QString one = pathIn("vocals - song.mp3.wav");
        const QString two = pathIn("Mix Without vocals - song.mp3.wav");
        const QString mix = pathIn("Mix Without drums.wav");
        for (const QString &path : { one, two, mix })
            QVERIFY(writeFile(path, "stale"));
        auto client = makeClient();
        record(*client);
        client->downloadFiles(12, one, two, 100);
        QVERIFY2(!QFile::exists(one) && !QFile::exists(two), "old targets go before the URLs are asked for");
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(QSet<QString>(events.cbegin(), events.cend()), (QSet<QString> { "first", "second" }));
        QCOMPARE(readFile(one), QByteArray("VOCALS"));
        QCOMPARE(readFile(two), QByteArray("MIX"));
        QCOMPARE(server->requestsTo(downloadPath).value(0).formItems().last(), FormItem("songID", "12"));
        QCOMPARE(server->requestsTo("/files/mix.wav").value(0).method, QByteArray("GET"));

        // A single mix: the second URL, reported as the first download.
        client->downloadSingle(6, mix, true);
        QVERIFY(!QFile::exists(mix));
        QTRY_COMPARE(events.size(), 3);
        QCOMPARE(events.last(), "first");
        QCOMPARE(readFile(mix), QByteArray("MIX"));
        QCOMPARE(server->requestsTo("/files/vocals.wav").size(), 1);

        // A result that cannot be written is an error, never a complete file; a full disk included.
        const QString noFolder = pathIn("no such folder/r.wav");
        client->downloadFile(server->url("/files/mix.wav"), noFolder, true, -1);
        QTRY_COMPARE(events.size(), 4);
        QCOMPARE(events.takeLast(), "error:Failed to open file for writing:\n\n" + noFolder);
        client->downloadFile(server->url("/files/mix.wav"), "/dev/full", true, -1);
        QTRY_COMPARE(events.size(), 4);
        QCOMPARE(events.takeLast(), "error:Failed to write file:\n\n/dev/full");
    }

    void removeUploadedWaits()
    {
        Answer slow = Answer::text({});
        slow.pieces = { "remo", "ved" };
        slow.pieceDelayMs = 200;
        server->script(removePath, slow);
        auto client = makeClient();
        QTest::ignoreMessage(QtDebugMsg, "Removing File Result:  \"removed\"");
        client->removeUploaded("up load.wav");
        QCOMPARE(
            server->requestsTo(removePath).value(0).formItems().last(), FormItem("fileName", "up load.wav"));

        // A service that never answers does not hold the window forever.
        server->script(removePath, Answer::silent());
        QElapsedTimer clock;
        clock.start();
        client->removeUploaded("x.wav");
        QVERIFY(clock.elapsed() < 3000);
    }

    void destroyedWhileBusy()
    {
        Answer endless;
        endless.pieces = { QByteArray(), QByteArray(1000, 'a') };
        endless.pieceDelayMs = 250;
        endless.declaredLength = 1'000'000;
        endless.end = Answer::End::Stall;
        server->script("/files/a.wav", endless);
        server->script("/files/b.wav", endless);
        server->script(downloadPath, Answer::text(urlPair(base(), "/files/a.wav", "/files/b.wav")));
        server->script(repeatPath, Answer::silent());
        server->script(removePath, Answer::silent());

        auto client = makeClient(60s);
        QSignalSpy first(client.get(), &ZelkServer::downloadingFirst);
        QSignalSpy second(client.get(), &ZelkServer::downloadingSecond);
        client->downloadFiles(1, pathIn("a.wav"), pathIn("b.wav"), -1);
        QTRY_VERIFY(!first.isEmpty() && !second.isEmpty());
        client->repeatFile("bass", "a.wav", "a", "h", "full", "/a.mp3", "mp3");
        QTRY_COMPARE(server->requestsTo(repeatPath).size(), 1);

        // Downloads and a tracked request in flight, and the client goes while removeUploaded spins its loop.
        ZelkServer *owner = client.release();
        const QPointer<ZelkServer> watch(owner);
        QTimer::singleShot(100, owner, [owner] { owner->deleteLater(); });
        QElapsedTimer clock;
        clock.start();
        owner->removeUploaded("x.wav");
        QVERIFY(watch.isNull());
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(pathIn("a.wav")) && !QFile::exists(pathIn("b.wav")));
    }

private:
    // Every outcome a client reports, as "signal:argument", downloads only when complete.
    void record(const ZelkServer &client)
    {
        const auto add = [this](const QString &event) { events.append(event); };
        connect(&client, &ZelkServer::showError, this, [add](const QString &text) { add("error:" + text); });
        connect(
            &client, &ZelkServer::savedWithId, this, [add](int id) { add("saved:" + QString::number(id)); });
        connect(
            &client, &ZelkServer::remainSeconds, this, [add](int s) { add("remain:" + QString::number(s)); });
        connect(&client, &ZelkServer::filesReady, this, [add] { add("ready"); });
        connect(&client, &ZelkServer::downloadingFirst, this, [add](double p) {
            if (p == 100.0)
                add("first");
        });
        connect(&client, &ZelkServer::downloadingSecond, this, [add](double p) {
            if (p == 100.0)
                add("second");
        });
    }

    bool startUpload(ZelkServer &client) const
    {
        const QString wav = pathIn("a.wav");
        return writeFile(wav, "RIFFdata")
            && client.proceedFile("bass", wav, "a", "h", "full", "/a.mp3", "mp3");
    }

    QString pathIn(const QString &name) const { return temp->filePath(name); }
    QString base() const { return server->baseUrl().toString(); }

    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<QTemporaryDir> temp;
    QStringList events;
};

QTEST_GUILESS_MAIN(tst_ZelkServer)
#include "tst_zelkserver.moc"
