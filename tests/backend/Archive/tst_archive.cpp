#include "Archive/Archive.h"
#include "Archive/ArchiveHandler.h"
#include "FileBytes.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
QJsonObject song(const QString &extension, const QString &localPath, const char *instrument = "vocals")
{
    return { { "ai_id", 7 }, { "name", oddName }, { "instrument", instrument }, { "extension", extension },
        { "local_file_path", localPath }, { "deleted", "2027-01-05" } };
}

Answer archiveList(const QJsonArray &songs)
{
    return Answer::text(QJsonDocument(songs).toJson());
}

} // namespace

// The Archive window worked through its document as a user would, against a scripted service. The local
// service's list and one fetch against it are the journey tests' part.
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

        window = std::make_unique<Archive>();
        screen = std::make_unique<QuickWidgetHarness>(window.get());
        QVERIFY2(window->rootObject(), "the document did not load");
    }

    void init()
    {
        ServiceTestBed::useService(bed.service.url(QString()));
        // The download-and-convert window is modal itself: only message boxes are closed.
        boxes = std::make_unique<ModalBoxCloser>(nullptr, ModalBoxCloser::Scope::MessageBoxesOnly);
        QFile::remove(ffmpegLog);
    }

    void cleanup()
    {
        if (window->handlerWindow())
            window->handlerWindow()->close();
        window->close();
        for (const QString &folder : { bed.savePath, bed.sourceFolder }) {
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

    void rowsFromTheService()
    {
        // A video source still in place, and an audio source gone.
        const QString video = bed.sourceFolder + "/clip.mp4";
        QVERIFY(writeFile(video, "a video"));
        useScripted(archiveList({ song("flac", video), song("mp3", bed.sourceFolder + "/gone.mp3", "drums") }));
        // Of the first song, the instrument track lies in its stored format and both tracks in WAV.
        for (const QString &present : { result("main", "flac"), result("main", "wav"), result("mix", "wav") })
            QVERIFY(writeFile(present, "on disk"));

        openArchive();
        QCOMPARE(boxes->seen(), QStringList());
        QTRY_VERIFY(screen->item("row_1"));
        QCOMPARE(shown("emptyText", "visible"), "false");
        // In the order the service sends them.
        QCOMPARE(shown("title_0"), oddName);
        QCOMPARE(shown("instrumentButton_0"), "Vocals");
        QCOMPARE(shown("instrumentButton_1"), "Drums");
        QCOMPARE(icons(0) + icons(1), (QStringList { "play", "download", "download", "download" }));
        // The video source offers every format, the vanished audio source the audio ones only.
        QCOMPARE(shown("format_0", "count"), "12");
        QCOMPARE(shown("format_0", "currentText"), "FLAC");
        QCOMPARE(shown("format_1", "count"), "6");

        // A format change looks at the disk only.
        QVERIFY(screen->choose("format_0", "WAV"));
        QCOMPARE(icons(0), (QStringList { "play", "play" }));
        QVERIFY(screen->choose("format_0", "M4A"));
        QCOMPARE(icons(0), (QStringList { "download", "download" }));
        QVERIFY(!window->handlerWindow());
    }

    void listFailures_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("box");

        QTest::newRow("empty list") << Answer::text("[]") << QString();
        QTest::newRow("not a list") << Answer::text("Unknown user") << "[Archive Error] Unknown user";
        QTest::newRow("connection dropped") << Answer::reset() << "[Archive Error] Error: ";
    }

    void listFailures()
    {
        QFETCH(Answer, answer);
        QFETCH(QString, box);

        useScripted(answer);
        openArchive();

        QCOMPARE(boxes->seen().size(), box.isEmpty() ? 0 : 1);
        QVERIFY(boxes->seen().value(0).startsWith(box));
        QCOMPARE(shown("emptyText", "visible"), "true");
        QCOMPARE(shown("emptyText"), "No processed files for last 30 days");
        QVERIFY(!screen->item("row_0"));
    }

    void fetch_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("onDisk");
        QTest::addColumn<QString>("localSuffix");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<QString>("box"); // none: the result is made
        QTest::addColumn<QStringList>("after"); // the results in the folder afterwards, by suffix

        const QStringList none;
        const QStringList mp3 { "mp3" };
        const QStringList download { "download" };
        const QStringList stored { "stored" };
        QTest::newRow("stored missing, same format") << "mp3" << "MP3" << none << "" << "" << download << 1 << "" << mp3;
        QTest::newRow("stored present, target missing")
            << "mp3" << "FLAC" << mp3 << "" << "" << stored << 0 << "" << QStringList { "flac", "mp3" };
        QTest::newRow("stored WAV is moved")
            << "wav" << "WAV" << none << "" << "" << none << 1 << "" << QStringList { "wav" };
        QTest::newRow("avi source, MP4 chosen")
            << "mp3" << "MP4" << none << "avi" << "" << none << 0
            << "[File Format Error] Cannot download and convert file to mp4, because original video file is missed:\n\n"
            << none;
        QTest::newRow("conversion makes nothing")
            << "mp3" << "FLAC" << mp3 << "" << "fail-final" << stored << 0
            << "[File Processing Error] Could not convert the file to:\n\n" << mp3;
        // The user's own file under the download's name stays as it is.
        QTest::newRow("user's file at the download name")
            << "mp3" << "MP3" << QStringList { "mp3.wav" } << "" << "" << download << 1 << ""
            << QStringList { "mp3", "mp3.wav" };
    }

    void fetch()
    {
        QFETCH(QString, stored);
        QFETCH(QString, chosen);
        QFETCH(QStringList, onDisk);
        QFETCH(QString, localSuffix);
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
        for (const QString &suffix : onDisk) {
            const QString path = result("main", suffix);
            QVERIFY(suffix.endsWith(".wav") ? writeFile(path, "the user's own")
                                            : MediaSamples::makeAudio(path, { "-c:a", "libmp3lame" }));
        }
        useScripted(archiveList({ song(stored, local) }));
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        openArchive();
        QTRY_VERIFY(screen->item("format_0"));
        QCOMPARE(shown("format_0", "count"), localSuffix.isEmpty() ? "6" : "12");

        QVERIFY(screen->choose("format_0", chosen));
        QVERIFY(screen->click("instrumentButton_0"));
        const QString target = result("main", chosen.toLower());
        QTRY_VERIFY_WITH_TIMEOUT(
            !boxes->seen().isEmpty() || (window->handlerWindow() && !window->handlerWindow()->isVisible()), 20000);

        QCOMPARE(boxes->seen().size(), box.isEmpty() ? 0 : 1);
        QVERIFY2(box.isEmpty() || boxes->seen().first().startsWith(box), qPrintable(boxes->seen().value(0)));
        QCOMPARE(ffmpegRuns(), runs);
        QCOMPARE(scripted->requestsTo("/zelk-server/download.php").size(), downloads);
        QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), downloads);
        const bool made = box.isEmpty();
        QCOMPARE(shown("instrumentButton_0", "icon"), made ? "play" : "download");
        QCOMPARE(QFileInfo::exists(target), made);
        if (made && !target.endsWith(".wav"))
            QCOMPARE(MediaSamples::probe(target).decodes, true);
        // Besides the results, nothing new stays in the folder, and what was there is untouched.
        QStringList expected;
        for (const QString &suffix : after)
            expected << QFileInfo(result("main", suffix)).fileName();
        QCOMPARE(filesIn(bed.savePath), expected);
        if (onDisk.contains("mp3.wav"))
            QCOMPARE(readFile(result("main", "mp3.wav")), QByteArray("the user's own"));
    }

    void cancel_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mode");

        Answer stalled = Answer::text("RIFF");
        stalled.declaredLength = 1 << 20;
        stalled.end = Answer::End::Stall;
        QTest::newRow("asking for the result")
            << QByteArray("/zelk-server/download.php") << Answer::silent() << "" << "downloading";
        QTest::newRow("downloading") << QByteArray("/r/main.wav") << stalled << "" << "downloading";
        QTest::newRow("converting") << QByteArray() << Answer() << "hang-final" << "converting";
    }

    void cancel()
    {
        QFETCH(QByteArray, path);
        QFETCH(Answer, answer);
        QFETCH(QString, fault);
        QFETCH(QString, mode);

        useScripted(archiveList({ song("mp3", bed.sourceFolder + "/gone.mp3") }));
        if (!path.isEmpty())
            scripted->script(path, answer);
        qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
        openArchive();
        QTRY_VERIFY(screen->item("instrumentButton_0"));
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
        QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), 1);
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
            Answer::text(scripted->url("/r/main.wav").toEncoded() + '|' + scripted->url("/r/mix.wav").toEncoded()));
        scripted->script("/zelk-server/cancel.php", Answer::text("success"));
        scripted->script("/r/main.wav", Answer::text(readFile(bed.resultWav)));
        scripted->script("/r/mix.wav", Answer::text(readFile(bed.resultWav)));
        ServiceTestBed::useService(scripted->baseUrl());
    }

    void openArchive()
    {
        window->openWindow();
        QVERIFY(window->isVisible());
        QVERIFY(!screen->rootProperty("isProcessing").toBool());
        // The list lays its rows out at the next frame.
        QTest::qWait(50);
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

    QString result(const QString &kind, const QString &extension) const
    {
        const QString mix = kind == QLatin1String("mix") ? QStringLiteral("Mix Without ") : QString();
        return QStringLiteral("%1/%2vocals - %3.%4").arg(bed.savePath, mix, oddName, extension);
    }

    // Each ffmpeg run by what it read: the downloaded WAV ("download") or the stored-format file ("stored").
    QStringList ffmpegRuns() const
    {
        QStringList runs;
        for (const QString &line : QString::fromUtf8(readFile(ffmpegLog)).split('\n', Qt::SkipEmptyParts))
            runs << (line.contains(".wav -") ? "download" : "stored");
        return runs;
    }

    ServiceTestBed bed;
    std::unique_ptr<ScriptedHttpServer> scripted;
    std::unique_ptr<Archive> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<ModalBoxCloser> boxes;
    QString ffmpegLog;
};

QTEST_MAIN(tst_Archive)
#include "tst_archive.moc"
