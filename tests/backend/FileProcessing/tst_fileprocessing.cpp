#include "FileBytes.h"
#include "FileProcessing/ConvertingFile.h"
#include "FileProcessing/FileProcessing.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"

#include <QDesktopServices>
#include <QDir>
#include <QScopeGuard>
#include <QTest>

using Answer = ScriptedHttpServer::Answer;

namespace {

// Odd characters in every folder and name that a run touches.
const QString oddName = QStringLiteral("Björk's \"Song\" #2 + & Säng.live");
const QString choosing = QStringLiteral("select_instrument");

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// The processing window, worked through its real document as a user would, against a scripted server
// and the real ffmpeg. Whole runs against the local service are the journey tests' part.
class tst_FileProcessing final : public QObject
{
    Q_OBJECT

public:
    tst_FileProcessing() = default;

public slots:
    // Stands in for the desktop's default handler of local files.
    void openOnDesktop(const QUrl &url) { desktopOpened << url.toLocalFile(); }

private slots:
    void initTestCase()
    {
        QVERIFY(bed.setUp());
        settings = GlobalsInfo::getInstance()->appSettings();
        window = std::make_unique<FileProcessing>();
        screen = std::make_unique<QuickWidgetHarness>(window.get());
        QVERIFY2(window->rootObject(), "the document did not load");
    }

    void init()
    {
        ServiceTestBed::useService(bed.service.url(QString()));
        boxes = std::make_unique<ModalBoxCloser>();
        screen->clearLayers();
        qunsetenv("ZELK_FFMPEG_FAULT");
        ConvertingFile::setProgramPath(bed.ffmpegWrapper);
        settings->setValue("default_audio_format", "MP3");
        settings->setValue("default_video_format", "MP4");
    }

    void cleanup()
    {
        window->cancelProcess();
        window->close();
        // The prepared upload too: a stand-in fault may have left a folder in its place.
        for (const QString &folder : { bed.savePath, bed.sourceFolder, bed.tempPath }) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        boxes.reset();
        scripted.reset();
    }

    void cleanupTestCase()
    {
        screen.reset();
        window.reset();
        QVERIFY(bed.service.stop());
    }

    void resultNumbering_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("expectedMain");

        // The name carries a "%2", which must not be taken for the number's place. A free name is every
        // other run's.
        const QString main = "vocals - 100%2.b.wav";
        QTest::newRow("pair taken") << QStringList { main, "Mix Without " + main } << "vocals - 100%2.b (1).wav";
        QTest::newRow("one half of each pair")
            << QStringList { main, "Mix Without vocals - 100%2.b (1).wav" } << "vocals - 100%2.b (2).wav";
        QTest::newRow("a download's name")
            << QStringList { "Mix Without vocals - 100%2.b.wav.wav" } << "vocals - 100%2.b (1).wav";
    }

    void resultNumbering()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, expectedMain);

        useScriptedServer();
        settings->setValue("default_audio_format", "WAV");
        for (const QString &name : present)
            QVERIFY(writeFile(bed.savePath + '/' + name, "the user's own"));
        const QString source = bed.sourceFolder + "/100%2.b.wav";
        QVERIFY(QFile::copy(bed.resultWav, source));
        startRun(source);
        waitForLayer("success");

        // A WAV source goes up as it is, after the two layers of the instrument choice.
        QCOMPARE(screen->layers().value(2), "uploading");
        const QStringList prepared = filesIn(bed.tempPath);
        QCOMPARE(prepared.size(), 1);
        QCOMPARE(QFileInfo(bed.tempPath + '/' + prepared.first()).size(), QFileInfo(source).size());
        QCOMPARE(QFileInfo(window->mainResultPath()).fileName(), expectedMain);
        QCOMPARE(QFileInfo(window->mixResultPath()).fileName(), "Mix Without " + expectedMain);
        for (const QString &name : present)
            QCOMPARE(readFile(bed.savePath + '/' + name), QByteArray("the user's own"));
        QCOMPARE(filesIn(bed.savePath).size(), present.size() + 2);
    }

    void interruptedRun_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("cancelOn"); // the busy layer whose CANCEL the user presses, or none
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("tempFiles"); // what stays prepared for the next PROCESS

        Answer stalled = Answer::text("RIFF");
        stalled.declaredLength = 1 << 20;
        stalled.end = Answer::End::Stall;
        const QByteArray proceed = "/zelk-server/proceed.php";
        const QByteArray remains = "/zelk-server/remains.php";
        const QByteArray mix = "/r/mix.wav";
        // Once the service holds the upload, the prepared WAV stays for the next PROCESS of the file.
        const QByteArray none;
        QTest::newRow("cancel preparing") << none << Answer() << "hang-prepare" << "converting" << "" << 0;
        QTest::newRow("cancel uploading") << proceed << Answer::silent() << "" << "uploading" << "" << 0;
        QTest::newRow("cancel processing") << remains << Answer::text("30") << "" << "processing" << "" << 1;
        QTest::newRow("cancel downloading") << mix << stalled << "" << "downloading" << "" << 1;
        QTest::newRow("cancel converting") << none << Answer() << "hang-final" << "converting" << "" << 1;

        const QString error = "[File Processing Error] ";
        const QString noAnswer = error + "The service gave no answer while ";
        QTest::newRow("upload answered empty")
            << proceed << Answer::text("") << "" << "" << noAnswer + "uploading the file." << 0;
        QTest::newRow("remaining time answered empty")
            << remains << Answer::text("") << "" << "" << noAnswer + "asking for the remaining time." << 1;
        QTest::newRow("one result missing")
            << mix << Answer::text("gone", 404) << "" << "" << error + "Download error:\n\n" << 1;
        const QString converting = "[Converting Error] ";
        QTest::newRow("ffmpeg missing") << none << Answer() << "missing" << ""
                                        << converting + "An error occurred preparing the file for upload" << 0;
        QTest::newRow("prepared WAV unreadable")
            << none << Answer() << "unreadable-prepare" << ""
            << converting + "The file prepared for upload could not be read:" << -1;
        // The downloaded WAVs stay when they could not be converted.
        QTest::newRow("final conversion fails") << none << Answer() << "fail-final" << ""
                                                << error + "Could not convert to the selected format:" << 1;
    }

    void interruptedRun()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(QString, fault);
        QFETCH(QString, cancelOn);
        QFETCH(QString, box);
        QFETCH(int, tempFiles);

        useScriptedServer(path, answer);
        if (fault == QLatin1String("missing"))
            ConvertingFile::setProgramPath(bed.sourceFolder + "/no-ffmpeg-here");
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        startRun(makeSource());
        if (cancelOn.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(boxes->seen().size(), 1, 30000);
            QVERIFY2(boxes->seen().first().startsWith(box), qPrintable(boxes->seen().first()));
            QCOMPARE(layer(), choosing);
        } else {
            const QString text = fault == QLatin1String("hang-final") ? "Converting 'vocals" : "";
            QTRY_VERIFY(layer() == cancelOn && screen->rootProperty("convertingText").toString().startsWith(text));
            click(cancelOn + "Cancel");
            QTRY_COMPARE(layer(), choosing);
        }

        // Nothing of the run acts later or stays behind, and the user hears nothing of an aborted request.
        QTest::qWait(cancelOn.isEmpty() ? 300 : 1000);
        QCOMPARE(layer(), choosing);
        QCOMPARE(boxes->seen().size(), cancelOn.isEmpty() ? 1 : 0);
        QCOMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), cancelOn.isEmpty() ? 0 : 1);
        const QString suffix = " - " + oddName + ".mp3.wav";
        const QStringList kept { "Mix Without vocals" + suffix, "vocals" + suffix };
        QCOMPARE(filesIn(bed.savePath), fault == QLatin1String("fail-final") ? kept : QStringList());
        if (tempFiles >= 0) // the stand-in leaves a folder where the unreadable WAV should be
            QCOMPARE(filesIn(bed.tempPath).size(), tempFiles);
    }

    void anotherInstrumentAndOpeningResults()
    {
        // Another instrument of the same file asks the service to process its upload again, sending nothing.
        useScriptedServer();
        startRun(makeSource());
        waitForLayer("success");
        const QStringList prepared = filesIn(bed.tempPath);
        click("isolateAnotherButton");
        QCOMPARE(layer(), choosing);
        click("instrumentButton");
        click("instrument_bass");
        screen->clearLayers();
        click("processButton");
        waitForLayer("success");
        QCOMPARE(screen->layers().value(0), "uploading");
        QCOMPARE(scripted->requestsTo("/zelk-server/proceed.php").size(), 1);
        const auto repeat = scripted->requestsTo("/zelk-server/repeat.php").value(0).formItems();
        QVERIFY(repeat.contains(qMakePair(QStringLiteral("instrument"), QStringLiteral("bass"))));
        QVERIFY(repeat.contains(qMakePair(QStringLiteral("uploadedFileName"), prepared.value(0))));
        QCOMPARE(filesIn(bed.tempPath), prepared);
        QCOMPARE(window->mainResultPath(), QStringLiteral("%1/bass - %2.mp3").arg(bed.savePath, oddName));
        QVERIFY(QFileInfo::exists(window->mainResultPath()) && QFileInfo::exists(window->mixResultPath()));

        // The folder, and a result whose chosen player is no longer there, go to the desktop, caught here.
        // Opening in a player is the journey tests' part.
        QDesktopServices::setUrlHandler("file", this, "openOnDesktop");
        const auto restore = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
        settings->setValue("default_audio_player", "My Player");
        settings->setValue("MyPlayer", bed.sourceFolder + "/gone-player");
        click("openFolderButton");
        click("openMixButton");
        QFile::remove(window->mainResultPath());
        click("openMainButton");
        settings->remove("default_audio_player");

        QCOMPARE(desktopOpened, (QStringList { bed.savePath, window->mixResultPath() }));
        QCOMPARE(boxes->seen(),
            QStringList { "[File Processing Error] Downloaded files not exists:\n\n" + window->mainResultPath() });
    }

    void newFileCancelsTheRunningOne()
    {
        useScriptedServer("/zelk-server/remains.php", Answer::text("30"));
        startRun(makeSource());
        QTRY_COMPARE(layer(), "processing");

        // The late "ready" of the first file's song must not start downloads for the second file.
        scripted->script("/zelk-server/remains.php", Answer::text("-1"));
        const QString second = bed.sourceFolder + "/second.wav";
        QVERIFY(QFile::copy(bed.resultWav, second));
        window->openWindow(second);
        QCOMPARE(layer(), choosing);
        QCOMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), 1);
        QTest::qWait(1000);
        QCOMPARE(layer(), choosing);
        QCOMPARE(scripted->requestsTo("/zelk-server/download.php").size(), 0);
        QCOMPARE(boxes->seen(), QStringList());
    }

private:
    Q_DISABLE_COPY_MOVE(tst_FileProcessing)

    void click(const QString &name) { QVERIFY(screen->click(name)); }
    QString layer() const { return screen->rootProperty("currentLayer").toString(); }

    // A message box ends the wait early.
    void waitForLayer(const QString &expected) const
    {
        QTRY_VERIFY_WITH_TIMEOUT(layer() == expected || !boxes->seen().isEmpty(), 30000);
        QCOMPARE(boxes->seen(), QStringList());
        QCOMPARE(layer(), expected);
    }

    // A service that takes the upload as song 42, says it is ready and serves the result WAV for both,
    // but answers path as asked.
    void useScriptedServer(const QByteArray &path = {}, const Answer &answer = {})
    {
        scripted = std::make_unique<ScriptedHttpServer>();
        QVERIFY(scripted->listen());
        const QByteArray body = readFile(bed.resultWav);
        scripted->script("/generate_204", Answer::text({}, 204));
        for (const char *step : { "removeUploaded", "cancel" })
            scripted->script("/zelk-server/" + QByteArray(step) + ".php", Answer::text("success"));
        scripted->script("/zelk-server/proceed.php", Answer::text("42"));
        scripted->script("/zelk-server/repeat.php", Answer::text("42"));
        scripted->script("/zelk-server/remains.php", Answer::text("-1"));
        scripted->script("/zelk-server/download.php",
            Answer::text(scripted->url("/r/main.wav").toEncoded() + '|' + scripted->url("/r/mix.wav").toEncoded()));
        scripted->script("/r/main.wav", Answer::text(body));
        scripted->script("/r/mix.wav", Answer::text(body));
        if (!path.isEmpty())
            scripted->script(path, answer);
        ServiceTestBed::useService(scripted->baseUrl());
    }

    QString makeSource()
    {
        const QString path = QStringLiteral("%1/%2.mp3").arg(bed.sourceFolder, oddName);
        return MediaSamples::makeAudio(path, { "-c:a", "libmp3lame" }) ? path : QString();
    }

    void startRun(const QString &source)
    {
        QVERIFY(!source.isEmpty());
        window->openWindow(source);
        QVERIFY(window->isVisible());
        QCOMPARE(layer(), choosing);
        screen->clearLayers();
        click("instrumentButton");
        click("instrument_vocals");
        click("processButton");
    }

    ServiceTestBed bed;
    std::unique_ptr<ScriptedHttpServer> scripted;
    std::unique_ptr<FileProcessing> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<ModalBoxCloser> boxes;
    QSettings *settings = nullptr;
    QStringList desktopOpened;
};

QTEST_MAIN(tst_FileProcessing)
#include "tst_fileprocessing.moc"
