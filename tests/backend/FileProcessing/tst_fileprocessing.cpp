#include "FileBytes.h"
#include "FileProcessing/ConvertingFile.h"
#include "FileProcessing/FileProcessing.h"
#include "FileProcessing/ZelkServer.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"
#include "plugins/MessageBoxCustom.h"
#include "UserAuth/UserAuth.h"

#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QStyleHints>
#include <QQmlProperty>
#include <QQuickItem>
#include <QRegularExpression>
#include <QSignalSpy>
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
    // CANCEL the moment the upload is all sent, before its id can arrive.
    void cancelWhenSent()
    {
        if (!cancelledWhenSent && screen->rootProperty("uploadingPercent").toDouble() == 100.0) {
            cancelledWhenSent = true;
            window->cancelProcess();
        }
    }

private slots:
    void initTestCase()
    {
        // The harness waits out the double-click time between clicks; a short one keeps the runs quick.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(60);
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
        settings->setValue(SettingsKeys::audioFormat(), "MP3");
        settings->setValue(SettingsKeys::videoFormat(), "MP4");
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
        // clang-format off
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
        // clang-format on
    }

    void resultNumbering()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, expectedMain);

        useScriptedServer();
        settings->setValue(SettingsKeys::audioFormat(), "WAV");
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
        // clang-format off
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
        // The upload is sent; its id comes late and is cancelled then.
        Answer lateId = Answer::text("4");
        lateId.pieces << "2";
        lateId.pieceDelayMs = 600;
        QTest::newRow("cancel uploading") << proceed << lateId << ""
                                          << "uploading"
                                          << "" << 0;
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
        // The service stops after answering path: the next step cannot reach it.
        const QString stopped = error
            + "The ZELK service at %BASE% cannot be reached: Connection refused. Check that it is running.";
        QTest::newRow("stopped before the upload")
            << QByteArray("/generate_204") << Answer::text({}, 204) << "stop"
            << "" << stopped << 0;
        QTest::newRow("stopped before the remaining time") << proceed << Answer::text("42") << "stop"
                                                           << "" << stopped << 1;
        QTest::newRow("stopped before the result list") << remains << Answer::text("-1") << "stop"
                                                        << "" << stopped << 1;
        QTest::newRow("stopped before the results")
            << QByteArray("/zelk-server/download.php") << Answer() << "stop"
            << "" << stopped << 1;
        const QString converting = "[Converting Error] ";
        QTest::newRow("ffmpeg missing") << none << Answer() << "missing" << ""
                                        << converting + "An error occurred preparing the file for upload" << 0;
        QTest::newRow("prepared WAV unreadable")
            << none << Answer() << "unreadable-prepare" << ""
            << converting + "The file prepared for upload could not be read:" << -1;
        // The downloaded WAVs stay when they could not be converted.
        QTest::newRow("final conversion fails") << none << Answer() << "fail-final" << ""
                                                << error + "Could not convert to the selected format:" << 1;
        // clang-format on
    }

    void interruptedRun()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(QString, fault);
        QFETCH(QString, cancelOn);
        QFETCH(QString, box);
        QFETCH(int, tempFiles);

        // A stop row without an answer keeps the usual one.
        const bool stops = fault == QLatin1String("stop");
        useScriptedServer(stops && answer.pieces.isEmpty() ? QByteArray() : path, answer);
        const QString base = scripted->baseUrl().toString();
        if (stops)
            scripted->stopAfter(path);
        if (fault == QLatin1String("missing"))
            ConvertingFile::setProgramPath(bed.sourceFolder + "/no-ffmpeg-here");
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        startRun(makeSource());
        if (cancelOn.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(boxes->seen().size(), 1, 30000);
            const QString expected = QString(box).replace("%BASE%", base);
            QVERIFY2(boxes->seen().first().startsWith(expected), qPrintable(boxes->seen().first()));
            QCOMPARE(layer(), choosing);
        } else {
            waitForBusy(cancelOn, fault);
            click(cancelOn + "Cancel");
            QTRY_COMPARE(layer(), choosing);
        }

        // Nothing of the run acts later or stays behind, and the user hears nothing of an aborted request.
        QTest::qWait(cancelOn.isEmpty() ? 300 : 1000);
        QCOMPARE(layer(), choosing);
        QCOMPARE(boxes->seen().size(), cancelOn.isEmpty() ? 1 : 0);
        const auto cancels = scripted->requestsTo("/zelk-server/cancel.php");
        QCOMPARE(cancels.size(), cancelOn.isEmpty() ? 0 : 1);
        // Only a cancel while preparing comes before the service knows the song.
        if (!cancelOn.isEmpty()) {
            const QString id = fault == QLatin1String("hang-prepare") ? "0" : "42";
            QVERIFY(cancels.first().formItems().contains(qMakePair(QStringLiteral("songID"), id)));
        }
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
        settings->setValue(SettingsKeys::audioPlayer(), "My Player");
        settings->setValue("MyPlayer", bed.sourceFolder + "/gone-player");
        click("openFolderButton");
        click("openMixButton");
        QFile::remove(window->mainResultPath());
        click("openMainButton");
        settings->remove(SettingsKeys::audioPlayer());

        QCOMPARE(desktopOpened, (QStringList { bed.savePath, window->mixResultPath() }));
        QCOMPARE(boxes->seen(),
            QStringList {
                "[File Processing Error] Downloaded files not exists:\n\n" + window->mainResultPath() });

        // A desktop that cannot open them (offscreen has no handler) is said so.
        QDesktopServices::unsetUrlHandler("file");
        boxes->clear();
        click("openFolderButton");
        click("openMixButton");
        const QString cannot = "[Cannot Open] The desktop could not open:\n\n";
        QCOMPARE(boxes->seen(), (QStringList { cannot + bed.savePath, cannot + window->mixResultPath() }));
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

    void lateEstimateOfACancelledRun()
    {
        // The first run's estimate is still on its way when it is cancelled and the next run starts.
        Answer late = Answer::text("99");
        late.pieces << "9";
        late.pieceDelayMs = 800;
        useScriptedServer("/zelk-server/remains.php", late);
        startRun(makeSource());
        QTRY_COMPARE(layer(), "processing");
        click("processingCancel");
        scripted->script("/zelk-server/remains.php", Answer::text("30"));
        click("processButton");
        QTRY_COMPARE(screen->rootProperty("remainingProcessingTime").toInt(), 30);
        QTest::qWait(1000);
        QCOMPARE(screen->rootProperty("remainingProcessingTime").toInt(), 30);
    }

    void openingChecksTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "sound" for a real sound
        QTest::addColumn<bool>("serviceUp");
        QTest::addColumn<QString>("box");

        const QString noSound = "[Unreadable File] This file has no sound ZELK can read: ";
        QTest::newRow("text named mp3")
            << "song.mp3" << QByteArray("just some words\n") << true << noSound + "song.mp3";
        QTest::newRow("empty wav") << "song.wav" << QByteArray() << true << noSound + "song.wav";
        QTest::newRow("dropped text file")
            << "notes.txt" << QByteArray("sound") << true << noSound + "notes.txt";
        QTest::newRow("service stopped") << "song.mp3" << QByteArray("sound") << false
                                         << "[Service Unreachable] The ZELK service at %BASE% cannot be "
                                            "reached: Connection refused. Check that it "
                                            "is running.";
    }

    void openingChecksTheFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, serviceUp);
        QFETCH(QString, box);

        useScriptedServer();
        const QString base = scripted->baseUrl().toString();
        if (!serviceUp)
            scripted.reset();
        const QString path = bed.sourceFolder + '/' + name;
        if (content == "sound")
            QVERIFY(MediaSamples::makeAudio(path, { "-c:a", "libmp3lame", "-f", "mp3" }));
        else
            QVERIFY(writeFile(path, content));
        QVERIFY(!window->openWindow(path));
        QVERIFY(!window->isVisible());
        QCOMPARE(boxes->seen(), QStringList { QString(box).replace("%BASE%", base) });
    }

    // A short text made a box too narrow for its title, which the desktop then cut ("File Pro… ng Error").
    void boxesKeepTheirTitle()
    {
        const QString title = "File Processing Error";
        MessageBoxCustom::critical(nullptr, title, "Refused");
        QFont bold;
        bold.setBold(true);
        // Room for the title in a bold face, a window icon and three title-bar buttons.
        QCOMPARE(boxes->seen().size(), 1);
        QVERIFY(boxes->widths().first() > QFontMetrics(bold).horizontalAdvance(title) + 120);
    }

    void wideWavIsConvertedAndTaken()
    {
        // Against the real service, which takes only 16-bit samples.
        const QString source = bed.sourceFolder + "/wide.wav";
        QVERIFY(MediaSamples::makeAudio(source, { "-c:a", "pcm_s24le", "-ar", "48000" }));
        const QString log = bed.documents + "/ffmpeg.log";
        qputenv("ZELK_FFMPEG_LOG", log.toUtf8());
        const auto unset = qScopeGuard([] { qunsetenv("ZELK_FFMPEG_LOG"); });
        settings->setValue(SettingsKeys::audioFormat(), "WAV");
        startRun(source);
        waitForLayer("success");
        const QString runs = QString::fromUtf8(readFile(log));
        QVERIFY2(runs.contains(QStringLiteral("-i %1 -vn -c:a pcm_s16le").arg(source)), qPrintable(runs));
        QVERIFY(QFileInfo(window->mainResultPath()).size() > 0);
    }

    void cancelBeforeTheId()
    {
        // The real service makes the song as soon as the upload is in; CANCEL comes before its id.
        const QString source = makeSource();
        QQmlProperty(window->rootObject(), "uploadingPercent")
            .connectNotifySignal(this, SLOT(cancelWhenSent()));
        cancelledWhenSent = false;
        cancelledId = 0;
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
            static const QRegularExpression arrived(
                QStringLiteral("The id of a cancelled upload arrived: (\\d+)"));
            if (const auto match = arrived.match(message); match.hasMatch())
                cancelledId = match.captured(1).toInt();
        });
        startRun(source);
        QTRY_VERIFY(cancelledWhenSent);
        disconnect(window->rootObject(), nullptr, this, nullptr);
        QCOMPARE(layer(), choosing);

        // The service's own word on the song, whose id only the window's log names.
        QTRY_VERIFY(cancelledId != 0);
        qInstallMessageHandler(nullptr);
        ZelkServer asker;
        QTRY_COMPARE(songState(asker, cancelledId), QStringLiteral("This song was cancelled"));
        // Longer than the service holds a song: had the cancel not reached it, the song would be listed.
        QTest::qWait(1000);
        for (const QVariant &entry : UserAuth().getArchiveFile(GlobalsInfo::getInstance()->getUserHash()))
            QVERIFY(entry.toMap().value("name").toString() != oddName);
        QCOMPARE(boxes->seen(), QStringList());
    }

    void closeDuringRun_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("busyLayer");
        QTest::addColumn<int>("cancels");

        Answer stalled = Answer::text("RIFF");
        stalled.declaredLength = 1 << 20;
        stalled.end = Answer::End::Stall;
        const QByteArray none;
        QTest::newRow("preparing") << none << Answer() << "hang-prepare"
                                   << "converting" << 1;
        // Sent and waiting for its id, which never comes: nothing to cancel yet.
        QTest::newRow("uploading") << QByteArray("/zelk-server/proceed.php") << Answer::silent() << ""
                                   << "uploading" << 0;
        QTest::newRow("processing") << QByteArray("/zelk-server/remains.php") << Answer::text("30") << ""
                                    << "processing" << 1;
        QTest::newRow("downloading") << QByteArray("/r/mix.wav") << stalled << ""
                                     << "downloading" << 1;
        QTest::newRow("converting") << none << Answer() << "hang-final"
                                    << "converting" << 1;
    }

    void closeDuringRun()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(QString, fault);
        QFETCH(QString, busyLayer);
        QFETCH(int, cancels);

        useScriptedServer(path, answer);
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        startRun(makeSource());
        waitForBusy(busyLayer, fault);
        QSignalSpy parentShown(window.get(), &HostedWindow::showParent);
        const QString question = "[Stop Processing] Stop processing " + oddName + ".mp3?";

        boxes->answerWith(QMessageBox::No);
        QVERIFY(!window->close());
        QCOMPARE(boxes->seen(), QStringList { question });
        QVERIFY(window->isVisible());
        QCOMPARE(layer(), busyLayer);
        QCOMPARE(parentShown.size(), 0);

        boxes->answerWith(QMessageBox::Yes);
        QVERIFY(window->close());
        QCOMPARE(boxes->seen(), (QStringList { question, question }));
        QVERIFY(!window->isVisible());
        QCOMPARE(layer(), choosing);
        QCOMPARE(parentShown.size(), 1);
        QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), cancels);
        QCOMPARE(filesIn(bed.savePath), QStringList());
    }

    void saveFolderChecks_data()
    {
        // clang-format off
        QTest::addColumn<QString>("folder"); // %DOCS% is the documents folder
        QTest::addColumn<QString>("change"); // what happens to it after the window opened
        QTest::addColumn<QString>("box"); // empty: the run succeeds, with the results in the folder

        const QString cannotCreate
            = "[Save Folder Error] ZELK cannot create the folder for \"Save File Location\":\n\n";
        QTest::newRow("missing and creatable") << "%DOCS%/New Folder/Save Here"
                                               << ""
                                               << "";
        QTest::newRow("not creatable") << "/proc/zelk/Save"
                                       << "" << cannotCreate + "/proc/zelk/Save";
        QTest::newRow("not writable")
            << "/proc"
            << ""
            << "[Save Folder Error] ZELK cannot write to the folder for \"Save File Location\":\n\n/proc";
        QTest::newRow("removed after Settings") << "%DOCS%/Chosen"
                                                << "remove"
                                                << "";
        QTest::newRow("replaced by a file after Settings")
            << "%DOCS%/Chosen" << "file"
            << "[Save Folder Error] A file, not a folder, is given for \"Save File Location\":\n\n%DOCS%/Chosen";
        QTest::newRow("removed during the run") << "%DOCS%/Chosen"
                                                << "remove while processing"
                                                << "";
        // clang-format on
    }

    void saveFolderChecks()
    {
        QFETCH(QString, folder);
        QFETCH(QString, change);
        QFETCH(QString, box);
        folder.replace("%DOCS%", bed.documents);
        box.replace("%DOCS%", bed.documents);

        const bool midRun = change == QLatin1String("remove while processing");
        useScriptedServer("/zelk-server/remains.php", Answer::text(midRun ? "30" : "-1"));
        settings->setValue(SettingsKeys::audioFormat(), "WAV");
        settings->setValue(SettingsKeys::pathSave(), folder);
        const auto restore = qScopeGuard([this, folder] {
            settings->setValue(SettingsKeys::pathSave(), bed.savePath);
            // Only what the row made: never a system folder.
            if (folder.startsWith(bed.documents + '/')) {
                QFile::remove(folder);
                QDir(folder).removeRecursively();
            }
        });
        if (!change.isEmpty())
            QVERIFY(QDir().mkpath(folder));
        const QString source = makeSource();
        window->openWindow(source);
        if (change == QLatin1String("remove") || change == QLatin1String("file"))
            QVERIFY(QDir(folder).removeRecursively());
        if (change == QLatin1String("file"))
            QVERIFY(writeFile(folder, "in the way"));
        screen->clearLayers();
        click("instrumentButton");
        click("instrument_vocals");
        click("processButton");
        if (midRun) {
            QTRY_COMPARE(layer(), "processing");
            QVERIFY(QDir(folder).removeRecursively());
            scripted->script("/zelk-server/remains.php", Answer::text("-1"));
            window->getRemainsSeconds();
        }

        if (box.isEmpty()) {
            waitForLayer("success");
            QCOMPARE(QFileInfo(window->mainResultPath()).absolutePath(), folder);
            QVERIFY(QFileInfo(window->mainResultPath()).size() > 0
                && QFileInfo(window->mixResultPath()).size() > 0);
        } else {
            QCOMPARE(boxes->seen(), QStringList { box + "\n\nChoose another save folder in Settings." });
            QCOMPARE(layer(), choosing);
            QCOMPARE(screen->layers(), (QStringList { "instrument_list", "select_instrument" }));
            QCOMPARE(scripted->requestsTo("/zelk-server/proceed.php").size(), 0);
        }
        // Nothing lands anywhere else.
        for (const QString &elsewhere : { QStringLiteral("/"), bed.documents, bed.savePath })
            QCOMPARE(QDir(elsewhere).entryList({ "*vocals*" }, QDir::Files), QStringList());
    }

    void queueGoesOnPastABrokenFile()
    {
        // The real service; the second file is text under a sound file's name.
        const QStringList sources = makeQueue(3);
        QVERIFY(writeFile(sources[1], "not a sound"));
        desktopOpened.clear();
        startQueue(sources);
        click("waitingText");
        QTRY_COMPARE(layer(), "processing");
        picture("queue");
        QTRY_VERIFY_WITH_TIMEOUT(layer() == "success" || !boxes->seen().isEmpty(), 90000);
        QCOMPARE(boxes->seen(), QStringList());
        picture("summary");

        const QVariantList summary = screen->rootProperty("batchSummary").toList();
        QCOMPARE(summary.size(), 3);
        QStringList results;
        for (const QVariant &entry : summary) {
            const QVariantMap outcome = entry.toMap();
            for (const char *part : { "main", "mix" })
                if (!outcome[part].toString().isEmpty()) {
                    QVERIFY(QFileInfo(outcome[part].toString()).size() > 0);
                    results << QFileInfo(outcome[part].toString()).fileName();
                }
        }
        QCOMPARE(summary[1].toMap()["error"].toString(),
            "Unreadable File: This file has no sound ZELK can read: " + QFileInfo(sources[1]).fileName());
        // Two whole pairs and nothing else: no download or conversion half-done, nothing opened.
        results.sort();
        QCOMPARE(filesIn(bed.savePath), results);
        QCOMPARE(results.size(), 4);
        QCOMPARE(screen->rootProperty("waitingFiles").toStringList(), QStringList());

        // Nothing was opened along the way; the summary offers the folder.
        QDesktopServices::setUrlHandler("file", this, "openOnDesktop");
        const auto restore = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
        click("openSavedFolderButton");
        QCOMPARE(desktopOpened, QStringList { bed.savePath });
    }

    void cancelWithFilesWaiting_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QStringList>("outcomes"); // per file: its error, or "ok"

        QTest::newRow("dropping them") << true << QStringList();
        QTest::newRow("keeping them") << false << QStringList { "Cancelled", "ok", "ok" };
    }

    void cancelWithFilesWaiting()
    {
        QFETCH(bool, drop);
        QFETCH(QStringList, outcomes);

        useScriptedServer("/zelk-server/remains.php", Answer::text("30"));
        settings->setValue(SettingsKeys::audioFormat(), "WAV");
        const QStringList sources = makeQueue(3);
        startQueue(sources);
        QTRY_COMPARE(layer(), "processing");
        boxes->answerWith(drop ? QMessageBox::Yes : QMessageBox::No);
        scripted->script("/zelk-server/remains.php", Answer::text("-1"));
        window->cancelProcess();

        QCOMPARE(boxes->seen(),
            QStringList { "[Files Waiting] Processing " + QFileInfo(sources[0]).fileName()
                + " was stopped.\n\nDrop the 2 files still waiting?" });
        QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), 1);
        boxes->clear();
        if (drop) {
            QCOMPARE(layer(), choosing);
            QCOMPARE(screen->rootProperty("waitingFiles").toStringList(), QStringList());
            QCOMPARE(scripted->requestsTo("/zelk-server/proceed.php").size(), 1);
            QCOMPARE(filesIn(bed.savePath), QStringList());
            return;
        }
        QCOMPARE(screen->rootProperty("fileName").toString(), QFileInfo(sources[1]).fileName());
        QCOMPARE(screen->rootProperty("waitingFiles").toStringList(),
            QStringList { QFileInfo(sources[2]).fileName() });
        waitForLayer("success");
        QStringList seen;
        for (const QVariant &entry : screen->rootProperty("batchSummary").toList()) {
            const QVariantMap outcome = entry.toMap();
            seen << (outcome["error"].toString().isEmpty() ? "ok" : outcome["error"].toString());
        }
        QCOMPARE(seen, outcomes);
        QCOMPARE(filesIn(bed.savePath).size(), 4);
    }

private:
    Q_DISABLE_COPY_MOVE(tst_FileProcessing)

    // What remains.php says of a song of the real service: a text, or "not yet" while it has not answered.
    static QString songState(ZelkServer &asker, int id)
    {
        QSignalSpy error(&asker, &ZelkServer::showError);
        QSignalSpy seconds(&asker, &ZelkServer::remainSeconds);
        QSignalSpy ready(&asker, &ZelkServer::filesReady);
        asker.getRemainSeconds(id);
        if (!QTest::qWaitFor(
                [&] { return !error.isEmpty() || !seconds.isEmpty() || !ready.isEmpty(); }, 5000))
            return QStringLiteral("not yet");
        return error.isEmpty() ? QStringLiteral("being processed") : error.first().first().toString();
    }

    void click(const QString &name) { QVERIFY(screen->click(name)); }
    QString layer() const { return screen->rootProperty("currentLayer").toString(); }

    // Until the run is on that busy layer; an upload, until all of it is sent, so that the service has a
    // song to cancel.
    void waitForBusy(const QString &busyLayer, const QString &fault) const
    {
        const QString text = fault == QLatin1String("hang-final") ? "Converting 'vocals" : "";
        QTRY_VERIFY(
            layer() == busyLayer && screen->rootProperty("convertingText").toString().startsWith(text));
        QTRY_VERIFY(busyLayer != "uploading" || screen->rootProperty("uploadingPercent").toDouble() == 100.0);
    }

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
            Answer::text(
                scripted->url("/r/main.wav").toEncoded() + '|' + scripted->url("/r/mix.wav").toEncoded()));
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

    // Keeps a picture of the window when ZELK_SCREENSHOT_DIR names a folder.
    void picture(const QString &name) const
    {
        const QString folder = qEnvironmentVariable("ZELK_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            window->grab().save(QStringLiteral("%1/%2.png").arg(folder, name));
    }

    // Sound files named "<n> <odd name>.mp3".
    QStringList makeQueue(int count)
    {
        QStringList paths;
        for (int n = 1; n <= count; ++n) {
            paths << QStringLiteral("%1/%2 %3.mp3").arg(bed.sourceFolder).arg(n).arg(oddName);
            if (!MediaSamples::makeAudio(paths.last(), { "-c:a", "libmp3lame" }))
                return {};
        }
        return paths;
    }

    // The first file opens the window, the others wait behind it; vocals for all.
    void startQueue(const QStringList &sources)
    {
        QVERIFY(!sources.isEmpty());
        QVERIFY(window->openWindow(sources.first()));
        QStringList names;
        for (const QString &path : sources.mid(1))
            names << QFileInfo(path).fileName();
        window->queueFiles(sources.mid(1));
        QCOMPARE(screen->rootProperty("waitingFiles").toStringList(), names);
        screen->clearLayers();
        click("instrumentButton");
        click("instrument_vocals");
        click("processButton");
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
    bool cancelledWhenSent = false;
    static inline int cancelledId = 0;
};

QTEST_MAIN(tst_FileProcessing)
#include "tst_fileprocessing.moc"
