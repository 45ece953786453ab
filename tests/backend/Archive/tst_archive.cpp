#include "Archive/Archive.h"
#include "Archive/ArchiveHandler.h"
#include "Archive/ResultRecord.h"
#include "FileBytes.h"
#include "FileProcessing/FileProcessing.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QStyleHints>
#include <QTest>

using Answer = ScriptedHttpServer::Answer;

namespace {

// Odd characters in the save folder and in every song name.
const QString oddName = QStringLiteral("Björk's \"Song\" %2 + & Säng.live");

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

// One entry of the archive list, as the service sends it.
QJsonObject song(
    int id, const QString &extension, const QString &localPath, const char *instrument = "vocals")
{
    return { { "ai_id", id }, { "name", oddName }, { "instrument", instrument }, { "extension", extension },
        { "local_file_path", localPath }, { "deleted", "2027-01-05" } };
}

Answer archiveList(const QJsonArray &songs)
{
    return Answer::text(QJsonDocument(songs).toJson());
}

// A source of the given length: a sine, under a test pattern for the video suffixes.
bool makeSource(const QString &path, double seconds)
{
    const QString length = QString::number(seconds);
    const QString suffix = QFileInfo(path).suffix();
    QStringList arguments { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=" + length, "-ac", "2" };
    if (suffix == "mp4" || suffix == "avi")
        arguments << "-f"
                  << "lavfi"
                  << "-i"
                  << "testsrc=size=64x48:rate=25:duration=" + length << "-c:v"
                  << (suffix == "mp4" ? "libx264" : "mpeg4") << "-pix_fmt"
                  << "yuv420p";
    QProcess ffmpeg;
    ffmpeg.start(QCoreApplication::applicationDirPath() + "/ffmpeg", arguments << path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && ffmpeg.waitForFinished(60000)
        && ffmpeg.exitCode() == 0;
}

struct Played
{
    double seconds = 0;
    QString sampleFormat;
    bool hasVideo = false;
};

Played probe(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral(ZELK_FFPROBE),
        { "-v", "error", "-show_entries", "stream=codec_type,sample_fmt:format=duration", "-of", "json",
            path });
    ffprobe.waitForFinished(60000);
    const QJsonObject info = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    Played played { info.value("format").toObject().value("duration").toString().toDouble(), {}, false };
    for (const QJsonValue &stream : info.value("streams").toArray()) {
        if (stream.toObject().value("codec_type") == "video")
            played.hasVideo = true;
        else
            played.sampleFormat = stream.toObject().value("sample_fmt").toString();
    }
    return played;
}

} // namespace

// The Archive window worked through its document as a user would, against the local service (songs
// processed by the processing window) and a scripted one (what the local service never answers).
class tst_Archive final : public QObject
{
    Q_OBJECT

public:
    tst_Archive() = default;

private slots:
    void initTestCase()
    {
        QVERIFY(bed.setUp());
        // The harness waits out the double-click time between clicks; a short one keeps the runs quick.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(10);
        ffmpegLog = bed.documents + "/ffmpeg-runs.txt";
        qputenv("ZELK_FFMPEG_LOG", ffmpegLog.toUtf8());

        // Both players stand for the user's: they write down what they were asked to open.
        playerLog = bed.documents + "/played.txt";
        const QString player = bed.documents + "/player.sh";
        QVERIFY(writeFile(player, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$ZELK_PLAYER_LOG\"\n"));
        QVERIFY(QFile::setPermissions(player, QFile::permissions(player) | QFileDevice::ExeOwner));
        qputenv("ZELK_PLAYER_LOG", playerLog.toUtf8());
        GlobalsInfo::getInstance()->appSettings()->setValue("TestPlayer", player);

        window = std::make_unique<Archive>();
        screen = std::make_unique<QuickWidgetHarness>(window.get());
        QVERIFY2(window->rootObject(), "the document did not load");
    }

    void init()
    {
        ServiceTestBed::useService(bed.service.url(QString()));
        for (const QString &kind : { SettingsKeys::audioPlayer(), SettingsKeys::videoPlayer() })
            GlobalsInfo::getInstance()->appSettings()->setValue(kind, "Test Player");
        // The download-and-convert window is modal itself: only message boxes are closed.
        boxes = std::make_unique<ModalBoxCloser>(nullptr, ModalBoxCloser::Scope::MessageBoxesOnly);
        for (const QString &log : { ffmpegLog, playerLog })
            QFile::remove(log);
        qunsetenv("ZELK_FFMPEG_FAULT");
    }

    void cleanup()
    {
        if (window->handlerWindow())
            window->handlerWindow()->close();
        window->close();
        for (const QString &folder : { bed.savePath, bed.sourceFolder }) {
            QFile::remove(folder);
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QFile::remove(ResultRecord::defaultPath());
        boxes.reset();
        scripted.reset();
    }

    void cleanupTestCase()
    {
        processing.reset();
        screen.reset();
        window.reset();
        QVERIFY(bed.service.stop());
    }

    void fromTheService_data()
    {
        QTest::addColumn<QStringList>("sources"); // in the source folder; the n-th is n + 1 seconds long
        QTest::addColumn<QString>("runFormat");
        QTest::addColumn<bool>("removeAll"); // the sources and results are deleted before the Archive opens
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("offered");
        QTest::addColumn<QString>("sampleFormat"); // of what plays; empty: not looked at

        const QStringList twoFolders { "A/song.mp3", "B/song.mp3" };
        QTest::newRow("one name in two folders: own MP3") << twoFolders << "MP3" << false << "MP3" << 6 << "";
        // Made from the service's 16-bit WAV, not from the MP3 on disk.
        QTest::newRow("one name in two folders: FLAC")
            << twoFolders << "MP3" << false << "FLAC" << 6 << "s16";
        QTest::newRow("one name in two folders: WAV") << twoFolders << "MP3" << false << "WAV" << 6 << "s16";
        QTest::newRow("avi source given MP4")
            << QStringList { "clip.avi" } << "MP3" << false << "MP4" << 12 << "fltp";
        QTest::newRow("video stored, all gone, MP3")
            << QStringList { "clip.mp4" } << "MP4" << true << "MP3" << 6 << "";
    }

    void fromTheService()
    {
        QFETCH(QStringList, sources);
        QFETCH(QString, runFormat);
        QFETCH(bool, removeAll);
        QFETCH(QString, chosen);
        QFETCH(int, offered);
        QFETCH(QString, sampleFormat);

        for (QString &source : sources) {
            source = bed.sourceFolder + '/' + source;
            QVERIFY(makeSource(source, 1 + sources.indexOf(source)));
            process(source, runFormat);
        }
        if (removeAll) {
            for (const QString &folder : { bed.savePath, bed.sourceFolder }) {
                QDir(folder).removeRecursively();
                QDir().mkpath(folder);
            }
        }
        QFile::remove(ffmpegLog);
        openArchive();

        QStringList processedTimes;
        for (int n = 0; n < sources.size(); ++n) {
            const QString row = QString::number(rowOf(sources.at(n)));
            QCOMPARE(shown("title_" + row), QFileInfo(sources.at(n)).completeBaseName());
            processedTimes << shown("processed_" + row);
            QCOMPARE(shown("format_" + row, "count").toInt(), offered);
            if (shown("format_" + row, "currentText") != chosen)
                QVERIFY(screen->choose("format_" + row, chosen));

            const bool fetch = removeAll || chosen != runFormat;
            QCOMPARE(shown("instrumentButton_" + row, "icon"), fetch ? "download" : "play");
            if (fetch) {
                QFile::remove(ffmpegLog);
                QVERIFY(screen->click("instrumentButton_" + row));
                waitForFetch();
                QCOMPARE(ffmpegRuns(), chosen == "WAV" ? QStringList() : QStringList { "download" });
                QCOMPARE(shown("instrumentButton_" + row, "icon"), "play");
            }
            QFile::remove(playerLog);
            QVERIFY(screen->click("instrumentButton_" + row));
            // The stand-in player makes its log before it writes the path into it.
            QTRY_VERIFY(readFile(playerLog).endsWith('\n'));
            // Each row's own result: as long as its own source.
            const Played played = probe(QString::fromUtf8(readFile(playerLog)).trimmed());
            QVERIFY2(qAbs(played.seconds - (n + 1)) < 0.3, qPrintable(QString::number(played.seconds)));
            QCOMPARE(played.hasVideo, chosen == "MP4");
            if (!sampleFormat.isEmpty())
                QCOMPARE(played.sampleFormat, sampleFormat);
        }
        // Rows of one name are told apart by when they were processed.
        QVERIFY(!processedTimes.contains(QString()));
        QCOMPARE(processedTimes.removeDuplicates(), 0);
        if (sources.size() > 1)
            saveShot("archive-same-name");
    }

    void rowsFromTheRecord()
    {
        // A video source still in place, and an audio source gone.
        const QString video = bed.sourceFolder + "/clip.mp4";
        QVERIFY(writeFile(video, "a video"));
        useScripted(
            archiveList({ song(7, "flac", video), song(8, "mp3", bed.sourceFolder + "/gone.mp3", "drums") }));
        // The first song made its FLAC pair (the mix since deleted) and fetched a WAV pair.
        ResultRecord record;
        QVERIFY(record.addRun(7, video, "flac", result("", ".flac"), result("mix", ".flac"),
            QDateTime(QDate(2026, 12, 1), QTime(9, 5, 7))));
        for (const char *kind : { "", "mix" })
            QVERIFY(record.addFile(7, video, "wav", *kind != 0, result(kind, ".wav")));
        // An id that named a song from another source elsewhere (another service or account) is not this
        // song.
        QVERIFY(record.addRun(
            8, "/elsewhere/gone.mp3", "mp3", result("", ".mp3", "drums"), result("mix", ".mp3", "drums")));
        for (const QString &present : { result("", ".flac"), result("", ".wav"), result("mix", ".wav"),
                 result("", ".mp3", "drums"), result("mix", ".mp3", "drums") })
            QVERIFY(writeFile(present, "on disk"));

        openArchive();
        QCOMPARE(boxes->seen(), QStringList());
        QCOMPARE(shown("emptyText", "visible"), "false");
        // In the order the service sends them.
        QCOMPARE(shown("title_0"), oddName);
        QCOMPARE(shown("processed_0"),
            QDateTime(QDate(2026, 12, 1), QTime(9, 5, 7)).toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(shown("processed_1"), "");
        QCOMPARE(shown("instrumentButton_1"), "Drums");
        QCOMPARE(icons(0) + icons(1), (QStringList { "play", "download", "download", "download" }));
        // The video source offers every format, the vanished audio source the audio ones only.
        QCOMPARE(shown("format_0", "count"), "12");
        QCOMPARE(shown("format_0", "currentText"), "FLAC");
        QCOMPARE(shown("format_1", "count"), "6");

        // A format change looks at the disk only, and so does the window each time it comes back.
        QVERIFY(screen->choose("format_0", "WAV"));
        QCOMPARE(icons(0), (QStringList { "play", "play" }));
        QVERIFY(QFile::remove(result("mix", ".wav")));
        QEvent activation(QEvent::WindowActivate);
        QCoreApplication::sendEvent(window.get(), &activation);
        QCOMPARE(icons(0), (QStringList { "play", "download" }));
        QVERIFY(screen->choose("format_0", "M4A"));
        QCOMPARE(icons(0), (QStringList { "download", "download" }));
        QVERIFY(scripted->requestsTo("/zelk-server/download.php").isEmpty());
    }

    // A file written for one song is no longer another's whose deleted result had its name; the record
    // outlives the program, and a damaged one counts as empty.
    void recordClaimsFiles()
    {
        QVERIFY(writeFile(ResultRecord::defaultPath(), "{ damaged"));
        QVERIFY(ResultRecord().addRun(1, "/a/song.mp3", "mp3", "/s/v.mp3", "/s/m.mp3"));
        QVERIFY(ResultRecord().addFile(2, "/b/song.mp3", "mp3", false, "/s/v.mp3"));
        const ResultRecord restarted;
        QCOMPARE(restarted.song(1, "/a/song.mp3")->files.values(), QStringList { "/s/m.mp3" });
        QCOMPARE(restarted.song(2, "/b/song.mp3")->file("mp3", false), "/s/v.mp3");
    }

    // Without a player or a file manager the desktop opens nothing: a box says so.
    void cannotOpen_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("play") << "instrumentButton_0";
        QTest::newRow("Open Saved Folder") << "openFolderButton";
    }

    void cannotOpen()
    {
        QFETCH(QString, button);

        const QString source = bed.sourceFolder + "/song.mp3";
        useScripted(archiveList({ song(7, "mp3", source) }));
        QVERIFY(ResultRecord().addRun(7, source, "mp3", result("", ".mp3"), result("mix", ".mp3")));
        QVERIFY(writeFile(result("", ".mp3"), "on disk"));
        GlobalsInfo::getInstance()->appSettings()->setValue(
            SettingsKeys::audioPlayer(), "Default Audio Player");
        openArchive();
        QVERIFY(screen->click(button));

        const QString shownPath = button == "openFolderButton" ? bed.savePath : result("", ".mp3");
        QTRY_COMPARE(
            boxes->seen(), QStringList { "[Cannot Open] The desktop could not open:\n\n" + shownPath });
    }

    void listFailures_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("stopped"); // nothing listens at the service's address
        QTest::addColumn<QString>("text"); // in the box and in place of the list

        const QString empty = QStringLiteral("No processed files for last 30 days");
        QTest::newRow("empty list") << Answer::text("[]") << false << "";
        QTest::newRow("not a list") << Answer::text("Unknown user") << false << "Unknown user";
        QTest::newRow("connection dropped") << Answer::reset() << false << "Error: Connection closed";
        QTest::newRow("empty answer")
            << Answer::text("") << false << "The service gave no answer while loading the archive list.";
        QTest::newRow("service stopped")
            << Answer() << true
            << "The ZELK service at %1 cannot be reached: Connection refused. Check that it is running.";
    }

    void listFailures()
    {
        QFETCH(Answer, answer);
        QFETCH(bool, stopped);
        QFETCH(QString, text);

        // Rows of an earlier opening never stay after a failed one.
        useScripted(archiveList({ song(7, "mp3", bed.sourceFolder + "/gone.mp3") }));
        openArchive();
        QVERIFY(screen->item("row_0"));
        window->close();
        const QUrl base = scripted->baseUrl();
        if (stopped) {
            scripted.reset();
            text = text.arg(base.adjusted(QUrl::RemovePath).toString());
        } else {
            scripted->script("/zelk-server/auth/archive.php", answer);
        }
        openArchive();

        QCOMPARE(boxes->seen(), text.isEmpty() ? QStringList() : QStringList { "[Archive Error] " + text });
        QCOMPARE(shown("emptyText", "visible"), "true");
        QCOMPARE(shown("emptyText"), text.isEmpty() ? "No processed files for last 30 days" : text);
        QVERIFY(!screen->item("row_0"));
        if (stopped)
            saveShot("archive-unreachable");
    }

    void fetch_data()
    {
        // clang-format off
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("onDisk"); // unrecorded files, by what follows the song's name
        QTest::addColumn<QString>("localSuffix"); // of a source video in place; empty: the source is gone
        QTest::addColumn<bool>("removeLocal"); // after the list came; with no source, the save folder becomes a file
        QTest::addColumn<QByteArray>("silent"); // a step the service answers with nothing
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<QString>("box"); // none: the result is made
        QTest::addColumn<QStringList>("after"); // the results in the folder afterwards

        const QStringList none;
        const QStringList download { "download" };
        const QString failed = QStringLiteral("[File Processing Error] ");
        QTest::newRow("MP3 from the WAV") << "MP3" << none << "" << false << QByteArray() << "" << download
                                          << 1 << "" << QStringList { ".mp3" };
        QTest::newRow("WAV moved into place") << "WAV" << none << "" << false << QByteArray() << "" << none
                                              << 1 << "" << QStringList { ".wav" };
        QTest::newRow("another song's file has the name")
            << "MP3" << QStringList { ".mp3" } << "" << false << QByteArray() << "" << download << 1 << ""
            << QStringList { " (1).mp3", ".mp3" };
        QTest::newRow("the user's file at the download's name")
            << "MP3" << QStringList { ".mp3.wav" } << "" << false << QByteArray() << "" << download << 1 << ""
            << QStringList { ".mp3", ".mp3.wav" };
        QTest::newRow("conversion makes nothing")
            << "FLAC" << none << "" << false << QByteArray() << "fail-final" << download << 1
            << failed + "Could not convert the file to:\n\n"
            << none;
        QTest::newRow("no answer for the URLs")
            << "MP3" << none << "" << false << QByteArray("/zelk-server/download.php") << "" << none << 1
            << failed + "The service gave no answer while asking for the results." << none;
        QTest::newRow("no answer for the result")
            << "MP3" << none << "" << false << QByteArray("/r/main.wav") << "" << none << 1
            << failed + "The service gave no answer while downloading the result." << none;
        QTest::newRow("save folder made a file after the list came")
            << "MP3" << none << "" << true << QByteArray() << "" << none << 0
            << "[Save Folder Error] A file, not a folder, is given for \"Save File Location\"" << none;
        QTest::newRow("picture gone after the list came")
            << "MP4" << none << "avi" << true << QByteArray() << "" << none << 0
            << "[File Format Error] Cannot download and convert file to mp4, because original video file is "
               "missed:\n\n"
            << none;
        // clang-format on
    }

    void fetch()
    {
        QFETCH(QString, chosen);
        QFETCH(QStringList, onDisk);
        QFETCH(QString, localSuffix);
        QFETCH(bool, removeLocal);
        QFETCH(QByteArray, silent);
        QFETCH(QString, fault);
        QFETCH(QStringList, runs);
        QFETCH(int, downloads);
        QFETCH(QString, box);
        QFETCH(QStringList, after);

        QString local = bed.sourceFolder + "/gone.mp3";
        if (!localSuffix.isEmpty()) {
            local = bed.sourceFolder + "/clip." + localSuffix;
            QVERIFY(MediaSamples::makeVideo(local, { "-c:v", "mpeg4", "-c:a", "libmp3lame" }));
        }
        for (const QString &tail : onDisk)
            QVERIFY(writeFile(result("", tail), "the user's own"));
        useScripted(archiveList({ song(7, "mp3", local) }));
        if (!silent.isEmpty())
            scripted->script(silent, Answer::text(""));
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        openArchive();
        if (removeLocal && localSuffix.isEmpty()) {
            QVERIFY(QDir(bed.savePath).removeRecursively());
            QVERIFY(writeFile(bed.savePath, "not a folder"));
        } else if (removeLocal) {
            QVERIFY(QFile::remove(local));
        }

        QVERIFY(screen->choose("format_0", chosen));
        QVERIFY(screen->click("instrumentButton_0"));
        waitForFetch(box.isEmpty());

        QCOMPARE(boxes->seen().size(), box.isEmpty() ? 0 : 1);
        QVERIFY2(box.isEmpty() || boxes->seen().first().startsWith(box), qPrintable(boxes->seen().value(0)));
        QCOMPARE(ffmpegRuns(), runs);
        QCOMPARE(scripted->requestsTo("/zelk-server/download.php").size(), downloads);
        QCOMPARE(shown("instrumentButton_0", "icon"), box.isEmpty() ? "play" : "download");
        // Besides the results, nothing new stays in the folder, and what was there is untouched.
        QStringList expected;
        for (const QString &tail : after)
            expected << QFileInfo(result("", tail)).fileName();
        if (QFileInfo(bed.savePath).isDir())
            QCOMPARE(filesIn(bed.savePath), expected);
        for (const QString &tail : onDisk)
            QCOMPARE(readFile(result("", tail)), QByteArray("the user's own"));
        if (box.isEmpty() && chosen != "WAV")
            QCOMPARE(MediaSamples::probe(result("", after.first())).decodes, true);
        // A fetch that ended, well or not, leaves the service's song alone.
        QTest::qWait(300);
        QCOMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), 0);
    }

    void cancel_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("cancels"); // only a transfer cut short tells the service

        Answer stalled = Answer::text("RIFF");
        stalled.declaredLength = 1 << 20;
        stalled.end = Answer::End::Stall;
        QTest::newRow("asking for the result")
            << QByteArray("/zelk-server/download.php") << Answer::silent() << ""
            << "downloading" << 1;
        QTest::newRow("downloading") << QByteArray("/r/main.wav") << stalled << ""
                                     << "downloading" << 1;
        QTest::newRow("converting") << QByteArray() << Answer() << "hang-final"
                                    << "converting" << 0;
    }

    void cancel()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(QString, fault);
        QFETCH(QString, mode);
        QFETCH(int, cancels);

        useScripted(archiveList({ song(7, "mp3", bed.sourceFolder + "/gone.mp3") }));
        if (!path.isEmpty())
            scripted->script(path, answer);
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        openArchive();
        QVERIFY(screen->click("instrumentButton_0"));
        ArchiveHandler *handler = window->handlerWindow();
        QVERIFY(handler && handler->isVisible());
        QuickWidgetHarness handlerScreen(handler);
        QTRY_COMPARE(handlerScreen.rootProperty("mode").toString(), mode);
        if (path == "/r/main.wav")
            QTRY_VERIFY(!scripted->requestsTo(path).isEmpty());
        if (!fault.isEmpty())
            QTRY_VERIFY(QFileInfo::exists(ffmpegLog));

        QVERIFY(handlerScreen.click("cancelButton"));
        QTRY_VERIFY(!handler->isVisible());
        QTest::qWait(300);
        QCOMPARE(boxes->seen(), QStringList());
        QCOMPARE(filesIn(bed.savePath), QStringList());
        QCOMPARE(shown("instrumentButton_0", "icon"), "download");
        QCOMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), cancels);
    }

private:
    Q_DISABLE_COPY_MOVE(tst_Archive)

    // A scripted service whose archive answers as given, and which serves the result WAV of any song.
    void useScripted(const Answer &list)
    {
        scripted = std::make_unique<ScriptedHttpServer>();
        QVERIFY(scripted->listen());
        scripted->script("/generate_204", Answer::text({}, 204));
        scripted->script("/zelk-server/auth/archive.php", list);
        scripted->script("/zelk-server/download.php",
            Answer::text(
                scripted->url("/r/main.wav").toEncoded() + '|' + scripted->url("/r/mix.wav").toEncoded()));
        scripted->script("/zelk-server/cancel.php", Answer::text("success"));
        scripted->script("/r/main.wav", Answer::text(readFile(bed.resultWav)));
        scripted->script("/r/mix.wav", Answer::text(readFile(bed.resultWav)));
        ServiceTestBed::useService(scripted->baseUrl());
    }

    // A whole run of the processing window on the local service, vocals into the format given.
    void process(const QString &source, const QString &format)
    {
        QSettings *settings = GlobalsInfo::getInstance()->appSettings();
        for (const QString &kind : { SettingsKeys::audioFormat(), SettingsKeys::videoFormat() })
            settings->setValue(kind, format);
        if (!processing) {
            processing = std::make_unique<FileProcessing>();
            processingScreen = std::make_unique<QuickWidgetHarness>(processing.get());
        }
        processing->openWindow(source);
        for (const char *button : { "instrumentButton", "instrument_vocals", "processButton" })
            QVERIFY(processingScreen->click(button));
        QTRY_VERIFY_WITH_TIMEOUT(
            processingScreen->rootProperty("currentLayer") == "success" || !boxes->seen().isEmpty(), 60000);
        QCOMPARE(boxes->seen(), QStringList());
        processing->close();
    }

    void openArchive()
    {
        window->openWindow();
        QVERIFY(window->isVisible());
        QVERIFY(!screen->rootProperty("isProcessing").toBool());
        // The list lays its rows out at the next frame.
        QTest::qWait(50);
    }

    // With ZELK_SCREENSHOT_DIR set, the window as it is now, for a person to look at.
    void saveShot(const QString &name) const
    {
        if (!qEnvironmentVariableIsEmpty("ZELK_SCREENSHOT_DIR"))
            window->grab().save(qEnvironmentVariable("ZELK_SCREENSHOT_DIR") + '/' + name + ".png");
    }

    // Until the fetch's window has closed, or a box has told why it could not.
    void waitForFetch(bool made = true)
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            !boxes->seen().isEmpty() || (window->handlerWindow() && !window->handlerWindow()->isVisible()),
            30000);
        if (made)
            QCOMPARE(boxes->seen(), QStringList());
    }

    // The row of the song made from source, scrolled into sight; -1 when the list has none.
    int rowOf(const QString &source)
    {
        QQuickItem *list = screen->item("songList");
        const auto *model = list ? list->property("model").value<QAbstractItemModel *>() : nullptr;
        if (!model)
            return -1;
        const int role = model->roleNames().key("local_file_path", -1);
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->data(model->index(row, 0), role).toString() == source) {
                QMetaObject::invokeMethod(
                    list, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 4 /* Contain */));
                QTest::qWait(50);
                return row;
            }
        }
        return -1;
    }

    // A property of a named item as text, for comparing what the user sees.
    QString shown(const QString &name, const char *property = "text") const
    {
        const QQuickItem *item = screen->item(name);
        return item ? item->property(property).toString() : "<no " + name + ">";
    }

    QStringList icons(int row) const
    {
        const QString number = QString::number(row);
        return { shown("instrumentButton_" + number, "icon"), shown("mixButton_" + number, "icon") };
    }

    // A result of the song in the save folder: "mix" or the instrument's track, and what follows the name.
    QString result(const QString &kind, const QString &tail, const QString &instrument = "vocals") const
    {
        const QString mix = kind == QLatin1String("mix") ? QStringLiteral("Mix Without ") : QString();
        return QStringLiteral("%1/%2%3 - %4%5").arg(bed.savePath, mix, instrument, oddName, tail);
    }

    // Each ffmpeg run by what it read: a downloaded WAV ("download") or a file already in the folder
    // ("stored").
    QStringList ffmpegRuns() const
    {
        QStringList runs;
        for (const QString &line : QString::fromUtf8(readFile(ffmpegLog)).split('\n', Qt::SkipEmptyParts)) {
            if (!line.endsWith("-f null -")) // a look at the source for its tags
                runs << (line.contains(".wav -") ? "download" : "stored");
        }
        return runs;
    }

    ServiceTestBed bed;
    std::unique_ptr<ScriptedHttpServer> scripted;
    std::unique_ptr<Archive> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<FileProcessing> processing;
    std::unique_ptr<QuickWidgetHarness> processingScreen;
    std::unique_ptr<ModalBoxCloser> boxes;
    QString ffmpegLog;
    QString playerLog;
};

QTEST_MAIN(tst_Archive)
#include "tst_archive.moc"
