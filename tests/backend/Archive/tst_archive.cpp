#include "Archive/Archive.h"
#include "Archive/ArchiveHandler.h"
#include "FileBytes.h"
#include "FileProcessing/ConvertingFile.h"
#include "FileProcessing/ZelkServer.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MediaSamples.h"
#include "ModalBoxCloser.h"
#include "QuickWidgetHarness.h"
#include "ScriptedHttpServer.h"
#include "ServiceTestBed.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>

#include <tuple>

using Answer = ScriptedHttpServer::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {

// Odd characters in the save folder and in every song name.
const QString oddName = QStringLiteral("Björk's \"Song\" %2 + & Säng.live");

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// The Archive window worked through its document as a user would: the rows the service lists, the
// format choice, and fetching a result again through the download-and-convert window. One fetch against
// the local service is the journey tests' part.
class tst_Archive final : public QObject
{
    Q_OBJECT

public:
    tst_Archive() = default;

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void rowsFromTheService();
    void listFailures_data();
    void listFailures();
    void fetch_data();
    void fetch();
    void cancel_data();
    void cancel();

private:
    Q_DISABLE_COPY_MOVE(tst_Archive)

    // A scripted service whose archive answers as given, by default with one song (id 7) whose result
    // WAV it serves.
    void useScripted(const QString &extension, const QString &localPath, const Answer &list = Answer());
    void openArchive();
    void choose(int row, const QString &format);
    QString icon(const QString &button) const;
    QString result(const QString &kind, const QString &extension) const;
    QStringList ffmpegRuns() const;

    ServiceTestBed bed;
    std::unique_ptr<ScriptedHttpServer> scripted;
    std::unique_ptr<Archive> window;
    std::unique_ptr<QuickWidgetHarness> screen;
    std::unique_ptr<ModalBoxCloser> boxes;
    QString ffmpegLog;
};

void tst_Archive::initTestCase()
{
    QVERIFY(bed.setUp());
    ffmpegLog = bed.documents + QStringLiteral("/ffmpeg-runs.txt");
    qputenv("ZELK_FFMPEG_LOG", ffmpegLog.toUtf8());

    window = std::make_unique<Archive>();
    screen = std::make_unique<QuickWidgetHarness>(window.get());
    QVERIFY2(window->rootObject(), "the document did not load");
}

void tst_Archive::init()
{
    ServiceTestBed::useService(bed.service.url(QString()));
    // The download-and-convert window is modal itself: only message boxes are closed.
    boxes = std::make_unique<ModalBoxCloser>(nullptr, ModalBoxCloser::Scope::MessageBoxesOnly);
    qunsetenv("ZELK_FFMPEG_FAULT");
    QFile::remove(ffmpegLog);
}

void tst_Archive::cleanup()
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

void tst_Archive::cleanupTestCase()
{
    screen.reset();
    window.reset();
    QVERIFY(bed.service.stop());
}

void tst_Archive::useScripted(const QString &extension, const QString &localPath, const Answer &list)
{
    scripted = std::make_unique<ScriptedHttpServer>();
    QVERIFY(scripted->listen());
    scripted->script("/generate_204", Answer::text({}, 204));
    const QJsonObject song { { "ai_id", 7 }, { "name", oddName }, { "instrument", "vocals" },
        { "extension", extension }, { "local_file_path", localPath }, { "deleted", "2027-01-05" } };
    scripted->script("/zelk-server/auth/archive.php",
        list.pieces.isEmpty() && list.mode == Answer::Mode::Respond
            ? Answer::text(QJsonDocument(QJsonArray { song }).toJson())
            : list);
    scripted->script("/zelk-server/download.php",
        Answer::text(scripted->url("/r/main.wav").toEncoded() + '|' + scripted->url("/r/mix.wav").toEncoded()));
    scripted->script("/zelk-server/cancel.php", Answer::text("success"));
    scripted->script("/r/main.wav", Answer::text(readFile(bed.resultWav)));
    scripted->script("/r/mix.wav", Answer::text(readFile(bed.resultWav)));
    ServiceTestBed::useService(scripted->baseUrl());
}

void tst_Archive::openArchive()
{
    window->openWindow();
    QVERIFY(window->isVisible());
    QVERIFY(!screen->rootProperty("isProcessing").toBool());
    // The list lays its rows out at the next frame.
    QTest::qWait(50);
}

void tst_Archive::choose(int row, const QString &format)
{
    QQuickItem *box = screen->item(QStringLiteral("format_%1").arg(row));
    QVERIFY(box);
    int index = -1;
    QVERIFY(QMetaObject::invokeMethod(box, "find", Q_RETURN_ARG(int, index), Q_ARG(QString, format)));
    QVERIFY2(index >= 0, qPrintable(format));
    box->setProperty("currentIndex", index);
    QVERIFY(QMetaObject::invokeMethod(box, "activated", Q_ARG(int, index)));
}

QString tst_Archive::icon(const QString &button) const
{
    const QQuickItem *item = screen->item(button);
    return item ? item->property("icon").toString() : QStringLiteral("<no %1>").arg(button);
}

QString tst_Archive::result(const QString &kind, const QString &extension) const
{
    const QString pattern = kind == QLatin1String("mix") ? QStringLiteral("%1/Mix Without vocals - %2.%3")
                                                         : QStringLiteral("%1/vocals - %2.%3");
    return pattern.arg(bed.savePath, oddName, extension);
}

// Each ffmpeg run by what it read: the downloaded WAV ("download") or the stored-format file ("stored").
QStringList tst_Archive::ffmpegRuns() const
{
    QStringList runs;
    for (const QByteArray &line : readFile(ffmpegLog).split('\n')) {
        if (!line.isEmpty())
            runs << (QString::fromUtf8(line).contains(QStringLiteral(".wav -")) ? "download" : "stored");
    }
    return runs;
}

void tst_Archive::rowsFromTheService()
{
    const QString video = bed.sourceFolder + QStringLiteral("/clip.mp4");
    QVERIFY(MediaSamples::makeVideo(video, { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac" }));
    // Two songs through the local service, each from upload to its results being ready.
    const auto songs = { std::tuple { "drums", "mp3", bed.sourceFolder + "/gone.mp3" },
        std::tuple { "vocals", "flac", video } };
    for (const auto &[instrument, extension, localPath] : songs) {
        ZelkServer server;
        QSignalSpy saved(&server, &ZelkServer::savedWithId);
        QSignalSpy ready(&server, &ZelkServer::filesReady);
        const QString hash = GlobalsInfo::getInstance()->getUserHash();
        QVERIFY(server.proceedFile(instrument, bed.resultWav, oddName, hash, "full", localPath, extension));
        QVERIFY(saved.wait(10000));
        const int id = saved.first().first().toInt();
        QVERIFY(QTest::qWaitFor([&] {
            server.getRemainSeconds(id);
            return ready.wait(500);
        }, 20000));
    }
    // Of the newer song, the instrument track lies in its stored format and both tracks in WAV.
    for (const QString &present : { result("vocals", "flac"), result("vocals", "wav"), result("mix", "wav") })
        QVERIFY(writeFile(present, "on disk"));

    openArchive();
    QCOMPARE(boxes->seen(), QStringList());
    QTRY_VERIFY(screen->item(QStringLiteral("row_1")));
    QVERIFY(!screen->item(QStringLiteral("emptyText"))->isVisible());
    // Newest first, as the service sends them.
    QCOMPARE(screen->item(QStringLiteral("title_0"))->property("text").toString(), oddName);
    QCOMPARE(screen->item(QStringLiteral("instrumentButton_0"))->property("text").toString(), QStringLiteral("Vocals"));
    QCOMPARE(screen->item(QStringLiteral("instrumentButton_1"))->property("text").toString(), QStringLiteral("Drums"));
    const QStringList icons { icon("instrumentButton_0"), icon("mixButton_0"), icon("instrumentButton_1"),
        icon("mixButton_1") };
    QCOMPARE(icons, (QStringList { "play", "download", "download", "download" }));
    // The video source offers every format, the vanished audio source the audio ones only.
    QCOMPARE(screen->item(QStringLiteral("format_0"))->property("count").toInt(), 12);
    QCOMPARE(screen->item(QStringLiteral("format_0"))->property("currentText").toString(), QStringLiteral("FLAC"));
    QCOMPARE(screen->item(QStringLiteral("format_1"))->property("count").toInt(), 6);

    // A format change looks at the disk only.
    choose(0, QStringLiteral("WAV"));
    QCOMPARE(icon("instrumentButton_0") + icon("mixButton_0"), QStringLiteral("playplay"));
    choose(0, QStringLiteral("M4A"));
    QCOMPARE(icon("instrumentButton_0") + icon("mixButton_0"), QStringLiteral("downloaddownload"));
    QVERIFY(!window->handlerWindow());
}

void tst_Archive::listFailures_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("box");

    QTest::newRow("empty list") << Answer::text("[]") << QString();
    QTest::newRow("not a list") << Answer::text("Unknown user") << "[Archive Error] Unknown user";
    QTest::newRow("connection dropped") << Answer::reset() << "[Archive Error] Error: ";
}

void tst_Archive::listFailures()
{
    QFETCH(Answer, answer);
    QFETCH(QString, box);

    useScripted(QStringLiteral("mp3"), QString(), answer);
    openArchive();

    QCOMPARE(boxes->seen().size(), box.isEmpty() ? 0 : 1);
    QVERIFY(boxes->seen().value(0).startsWith(box));
    const QQuickItem *empty = screen->item(QStringLiteral("emptyText"));
    QVERIFY(empty && empty->isVisible());
    QCOMPARE(empty->property("text").toString(), QStringLiteral("No processed files for last 30 days"));
    QVERIFY(!screen->item(QStringLiteral("row_0")));
}

void tst_Archive::fetch_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QStringList>("onDisk");
    QTest::addColumn<QString>("localSuffix");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("downloads");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("icon");

    const QString noBox;
    const QString made = "play";
    const QString missing = "download";
    const QStringList none;
    QTest::newRow("stored missing, same format") << "mp3" << "MP3" << none << "" << "" << QStringList { "download" }
                                                 << 1 << noBox << made;
    QTest::newRow("stored present, target missing") << "mp3" << "FLAC" << QStringList { "mp3" } << "" << ""
                                                    << QStringList { "stored" } << 0 << noBox << made;
    QTest::newRow("stored WAV is moved") << "wav" << "WAV" << none << "" << "" << none << 1 << noBox << made;
    QTest::newRow("avi source, MP4 chosen")
        << "mp3" << "MP4" << none << "avi" << "" << none << 0
        << "[File Format Error] Cannot download and convert file to mp4, because original video file is missed:\n\n"
        << missing;
    QTest::newRow("conversion makes nothing") << "mp3" << "FLAC" << QStringList { "mp3" } << "" << "fail-final"
                                              << QStringList { "stored" } << 0
                                              << "[File Processing Error] Could not convert the file to:\n\n"
                                              << missing;
    // The user's own file under the download's name stays as it is.
    QTest::newRow("user's file at the download name") << "mp3" << "MP3" << QStringList { "mp3.wav" } << "" << ""
                                                      << QStringList { "download" } << 1 << noBox << made;
}

void tst_Archive::fetch()
{
    QFETCH(QString, stored);
    QFETCH(QString, chosen);
    QFETCH(QStringList, onDisk);
    QFETCH(QString, localSuffix);
    QFETCH(QString, fault);
    QFETCH(QStringList, runs);
    QFETCH(int, downloads);
    QFETCH(QString, box);
    QFETCH(QString, icon);

    QString local = bed.sourceFolder + QStringLiteral("/gone.mp3");
    if (!localSuffix.isEmpty()) {
        local = bed.sourceFolder + QStringLiteral("/clip.") + localSuffix;
        QVERIFY(MediaSamples::makeVideo(local, { "-c:v", "mpeg4", "-c:a", "libmp3lame" }));
    }
    for (const QString &suffix : onDisk) {
        const QString path = result("main", suffix);
        QVERIFY(suffix.endsWith(".wav") ? writeFile(path, "the user's own")
                                        : MediaSamples::makeAudio(path, { "-c:a", "libmp3lame" }));
    }
    const QStringList before = filesIn(bed.savePath);
    useScripted(stored, local);
    qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
    openArchive();
    QTRY_VERIFY(screen->item(QStringLiteral("format_0")));
    QCOMPARE(screen->item(QStringLiteral("format_0"))->property("count").toInt(), localSuffix.isEmpty() ? 6 : 12);

    choose(0, chosen);
    QVERIFY(screen->click(QStringLiteral("instrumentButton_0")));
    const QString target = result("main", chosen.toLower());
    QVERIFY(QTest::qWaitFor([&] {
        return !boxes->seen().isEmpty() || (window->handlerWindow() && !window->handlerWindow()->isVisible());
    }, 20000));

    QCOMPARE(boxes->seen().size(), box.isEmpty() ? 0 : 1);
    QVERIFY2(boxes->seen().value(0).startsWith(box), qPrintable(boxes->seen().value(0)));
    QCOMPARE(ffmpegRuns(), runs);
    QCOMPARE(scripted->requestsTo("/zelk-server/download.php").size(), downloads);
    QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), downloads);
    QCOMPARE(this->icon(QStringLiteral("instrumentButton_0")), icon);
    const bool made = icon == QLatin1String("play");
    QCOMPARE(QFileInfo::exists(target), made);
    if (made && !target.endsWith(".wav"))
        QCOMPARE(MediaSamples::probe(target).decodes, true);
    // Besides the result, nothing new stays in the folder, and what was there is untouched.
    QStringList expected = before;
    if (made && !before.contains(QFileInfo(target).fileName()))
        expected << QFileInfo(target).fileName();
    const QString storedFile = result("main", stored);
    if (downloads && QFileInfo::exists(storedFile) && !expected.contains(QFileInfo(storedFile).fileName()))
        expected << QFileInfo(storedFile).fileName();
    expected.sort();
    QCOMPARE(filesIn(bed.savePath), expected);
    if (onDisk.contains("mp3.wav"))
        QCOMPARE(readFile(result("main", "mp3.wav")), QByteArray("the user's own"));
}

void tst_Archive::cancel_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("mode");

    Answer stalled = Answer::text("RIFF");
    stalled.declaredLength = 1 << 20;
    stalled.end = Answer::End::Stall;
    QTest::newRow("asking for the result") << QByteArray("/zelk-server/download.php") << Answer::silent() << ""
                                           << "downloading";
    QTest::newRow("downloading") << QByteArray("/r/main.wav") << stalled << "" << "downloading";
    QTest::newRow("converting") << QByteArray() << Answer() << "hang-final" << "converting";
}

void tst_Archive::cancel()
{
    QFETCH(QByteArray, path);
    QFETCH(Answer, answer);
    QFETCH(QString, fault);
    QFETCH(QString, mode);

    useScripted(QStringLiteral("mp3"), bed.sourceFolder + QStringLiteral("/gone.mp3"));
    if (!path.isEmpty())
        scripted->script(path, answer);
    qputenv("ZELK_FFMPEG_FAULT", fault.toUtf8());
    openArchive();
    QTRY_VERIFY(screen->item(QStringLiteral("instrumentButton_0")));
    QVERIFY(screen->click(QStringLiteral("instrumentButton_0")));
    ArchiveHandler *handler = window->handlerWindow();
    QVERIFY(handler && handler->isVisible());
    QuickWidgetHarness handlerScreen(handler);
    QTRY_COMPARE(handlerScreen.rootProperty("mode").toString(), mode);
    if (path == "/r/main.wav")
        QTRY_VERIFY(!scripted->requestsTo(path).isEmpty());
    if (!fault.isEmpty())
        QTRY_VERIFY(QFileInfo::exists(ffmpegLog));

    QVERIFY(handlerScreen.click(QStringLiteral("cancelButton")));
    QTRY_VERIFY(!handler->isVisible());
    QTest::qWait(300);
    QCOMPARE(boxes->seen(), QStringList());
    QCOMPARE(filesIn(bed.savePath), QStringList());
    QCOMPARE(icon(QStringLiteral("instrumentButton_0")), QStringLiteral("download"));
    QTRY_COMPARE(scripted->requestsTo("/zelk-server/cancel.php").size(), 1);
}

QTEST_MAIN(tst_Archive)
#include "tst_archive.moc"
