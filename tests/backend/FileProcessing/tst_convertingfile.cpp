// ConvertingFile against the stand-in ffmpeg: the exact argument lists, the fallback after a failed picture
// copy, what is kept and deleted on failure, a missing ffmpeg, and cancelling.

#include "ConversionWorker.h"
#include "FakeFfmpegSession.h"
#include "MessageCapture.h"

#include "FileProcessing/ConvertingFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Entry = ConversionWorker::Entry;

namespace {

// Placeholders in the expected lists: IN, OUT, VID and TMP (OUT + ".mp4").
QStringList mux(const QString &target)
{
    return { "-i", "VID", "-i", "IN", "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy", "-c:a", "aac",
        target };
}

QStringList h264()
{
    return { "-c:v", "libx264", "-crf", "23", "-preset", "medium", "-c:a", "aac" };
}

QStringList mpeg2()
{
    return { "-c:v", "mpeg2video", "-qscale:v", "2", "-c:a", "mp2" };
}

QStringList vp8()
{
    return { "-c:v", "libvpx", "-crf", "30", "-b:v", "1M", "-c:a", "libvorbis" };
}

QStringList wmv2()
{
    return { "-c:v", "wmv2", "-c:a", "wmav2" };
}

// The fallback: both streams mapped as in mux(), then encoded with the given block.
QStringList reencode(const QStringList &block, const QString &target)
{
    return QStringList { "-i", "VID", "-i", "IN", "-map", "0:v:0", "-map", "1:a:0" } + block << target;
}

QStringList fromTmp(const QStringList &block)
{
    return QStringList { "-y", "-i", "TMP" } + block << "OUT";
}

QStringList audio()
{
    return { "-i", "IN", "-b:a", "320k", "-vn", "OUT" };
}

QStringList withY(const QStringList &list)
{
    return QStringList { "-y" } + list;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_ConvertingFile final : public QObject
{
    Q_OBJECT

public:
    tst_ConvertingFile() = default;

private slots:
    void init();
    void cleanup();

    void programBesideExecutable();
    void prepareToUpload_data();
    void prepareToUpload();
    void prepareFinal_data();
    void prepareFinal();
    void convertFile_data();
    void convertFile();
    void fallbackAfterFailedCopy_data();
    void fallbackAfterFailedCopy();
    void failedConversion_data();
    void failedConversion();
    void missingFfmpegIsLogged_data();
    void missingFfmpegIsLogged();
    void existingOutputDoesNotWaitForAnswer();
    void cancelDuringFirstRun_data();
    void cancelDuringFirstRun();
    void cancelKillsStubbornProcess();
    void cancelDuringLastRun_data();
    void cancelDuringLastRun();
    void cancelBeforeStart_data();
    void cancelBeforeStart();

private:
    Q_DISABLE_COPY_MOVE(tst_ConvertingFile)

    QString path(const QString &name) const { return dir->filePath(name); }
    // Creates IN and VID (when named) in the test folder and fills in the job's paths.
    ConversionWorker::Job makeJob(
        Entry entry, const QString &in, const QString &out, const QString &vid, bool isMain = true) const;
    QList<QStringList> expand(const QList<QStringList> &lists, const ConversionWorker::Job &job) const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakeFfmpegSession> fake;
};

void tst_ConvertingFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    fake = std::make_unique<FakeFfmpegSession>();
}

void tst_ConvertingFile::cleanup()
{
    fake.reset();
    dir.reset();
}

ConversionWorker::Job tst_ConvertingFile::makeJob(
    Entry entry, const QString &in, const QString &out, const QString &vid, bool isMain) const
{
    ConversionWorker::Job job;
    job.entry = entry;
    job.input = path(in);
    job.output = path(out);
    job.videoSource = vid.isEmpty() ? QString() : path(vid);
    job.isMain = isMain;
    writeFile(job.input, "input media\n");
    if (!vid.isEmpty())
        writeFile(job.videoSource, "source video\n");
    return job;
}

QList<QStringList> tst_ConvertingFile::expand(
    const QList<QStringList> &lists, const ConversionWorker::Job &job) const
{
    QList<QStringList> result;
    for (QStringList list : lists) {
        for (QString &item : list) {
            if (item == QLatin1String("IN"))
                item = job.input;
            else if (item == QLatin1String("OUT"))
                item = job.output;
            else if (item == QLatin1String("VID"))
                item = job.videoSource;
            else if (item == QLatin1String("TMP"))
                item = job.output + QStringLiteral(".mp4");
        }
        result << list;
    }
    return result;
}

void tst_ConvertingFile::programBesideExecutable()
{
    fake.reset();
    QCOMPARE(
        ConvertingFile::programPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"));
}

void tst_ConvertingFile::prepareToUpload_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("arguments");

    const QStringList plain { "-i", "IN", "-y", "OUT" };
    const QStringList video { "-i", "IN", "-vn", "-acodec", "pcm_s16le", "-ac", "2", "-y", "OUT" };
    const QStringList other { "-i", "IN", "-vn", "-c:a", "pcm_s16le", "-y", "OUT" };
    QTest::newRow("WMV in capitals") << "clip.WMV" << plain;
    QTest::newRow("wma") << "song.wma" << plain;
    QTest::newRow("mp4") << "clip.mp4" << video;
    QTest::newRow("MKV") << "clip.MKV" << video;
    QTest::newRow("avi") << "clip.avi" << video;
    QTest::newRow("flv") << "clip.flv" << video;
    QTest::newRow("rm") << "clip.rm" << video;
    QTest::newRow("vob") << "clip.vob" << video;
    QTest::newRow("m4v") << "clip.m4v" << video;
    QTest::newRow("webm") << "clip.webm" << video;
    QTest::newRow("mp3") << "song.mp3" << other;
    QTest::newRow("FLAC") << "song.FLAC" << other;
    QTest::newRow("m4a") << "song.m4a" << other;
    QTest::newRow("no suffix") << "recording" << other;
}

void tst_ConvertingFile::prepareToUpload()
{
    QFETCH(QString, source);
    QFETCH(QStringList, arguments);

    const auto job
        = makeJob(Entry::PrepareToUpload, source, QStringLiteral("AbCdEfGhIjKlMnOp.wav"), QString());
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(fake->argumentLists(), expand({ arguments }, job));
    QCOMPARE(worker.doneSignals(), QStringList { "doneUploadConverting" });
    QVERIFY(worker.doneOnOwnThread());
    QVERIFY(worker.converterDeleted());
    QVERIFY(QFile::exists(job.output));
    QVERIFY(QFile::exists(job.input));
}

void tst_ConvertingFile::prepareFinal_data()
{
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("isMain");
    QTest::addColumn<QList<QStringList>>("runs");
    QTest::addColumn<QString>("signal");

    QTest::newRow("mkv to mkv: one run")
        << "clip.mkv"
        << "vocals - clip.mkv" << true << QList<QStringList> { mux("OUT") } << "doneMain";
    QTest::newRow("MKV source to mkv: one run")
        << "clip.MKV"
        << "vocals - clip.mkv" << false << QList<QStringList> { mux("OUT") } << "doneMix";
    QTest::newRow("avi to mp4: one run")
        << "clip.avi"
        << "vocals - clip.mp4" << true << QList<QStringList> { mux("OUT") } << "doneMain";
    QTest::newRow("webm to webm: one run")
        << "clip.webm"
        << "drums - clip.webm" << true << QList<QStringList> { mux("OUT") } << "doneMain";
    QTest::newRow("avi to mov: two runs")
        << "clip.avi"
        << "vocals - clip.mov" << true << QList<QStringList> { mux("TMP"), fromTmp(h264()) } << "doneMain";
    QTest::newRow("mp4 to mov: two runs") << "clip.mp4"
                                          << "Mix Without vocals - clip.mov" << false
                                          << QList<QStringList> { mux("TMP"), fromTmp(h264()) } << "doneMix";
    QTest::newRow("mp4 to mkv: two runs")
        << "clip.mp4"
        << "bass - clip.mkv" << true << QList<QStringList> { mux("TMP"), fromTmp(h264()) } << "doneMain";
    QTest::newRow("mkv to mpg: two runs")
        << "clip.mkv"
        << "bass - clip.mpg" << true << QList<QStringList> { mux("TMP"), fromTmp(mpeg2()) } << "doneMain";
    QTest::newRow("mov to webm: two runs")
        << "clip.mov"
        << "bass - clip.webm" << true << QList<QStringList> { mux("TMP"), fromTmp(vp8()) } << "doneMain";
    QTest::newRow("mp4 to WMV: two runs")
        << "clip.mp4"
        << "bass - clip.WMV" << true << QList<QStringList> { mux("TMP"), fromTmp(wmv2()) } << "doneMain";
    for (const char *format : { "flac", "mp3", "wav", "m4a", "aiff", "wma" }) {
        QTest::addRow("video to %s: audio only", format)
            << "clip.mp4" << QStringLiteral("piano - clip.%1").arg(QLatin1String(format)) << false
            << QList<QStringList> { audio() } << "doneMix";
    }
    QTest::newRow("audio source to mp3")
        << QString() << "guitar - song.mp3" << true << QList<QStringList> { audio() } << "doneMain";
}

void tst_ConvertingFile::prepareFinal()
{
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(bool, isMain);
    QFETCH(QList<QStringList>, runs);
    QFETCH(QString, signal);

    const auto job = makeJob(Entry::PrepareFinal, output + QStringLiteral(".wav"), output, video, isMain);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(fake->argumentLists(), expand(runs, job));
    QCOMPARE(worker.doneSignals(), QStringList { signal });
    QVERIFY(worker.doneOnOwnThread());
    QVERIFY(worker.converterDeleted());
    QCOMPARE(readFile(job.output), QByteArray("converted media\n"));
    QVERIFY2(!QFile::exists(job.input), "the downloaded WAV is deleted after a good conversion");
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFile::convertFile_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<QStringList>>("runs");
    QTest::addColumn<bool>("logsFirstRun");

    const QStringList fromInput { "-y", "-i", "IN" };
    QTest::newRow("mov file to mkv") << "vocals - clip.mov"
                                     << "clip.mp4"
                                     << "vocals - clip.mkv"
                                     << QList<QStringList> { fromInput + h264() << "OUT" } << false;
    QTest::newRow("mp4 file to mpg") << "vocals - clip.mp4"
                                     << "clip.mp4"
                                     << "vocals - clip.mpg"
                                     << QList<QStringList> { fromInput + mpeg2() << "OUT" } << false;
    QTest::newRow("webm file to mp4")
        << "vocals - clip.webm"
        << "clip.webm"
        << "vocals - clip.mp4" << QList<QStringList> { fromInput + h264() << "OUT" } << false;
    QTest::newRow("MKV file to webm")
        << "vocals - clip.MKV"
        << "clip.avi"
        << "vocals - clip.webm" << QList<QStringList> { fromInput + vp8() << "OUT" } << false;
    QTest::newRow("wav to mp4: one run")
        << "vocals - clip.wav"
        << "clip.avi"
        << "vocals - clip.mp4" << QList<QStringList> { withY(mux("OUT")) } << false;
    QTest::newRow("wav to mov: two runs")
        << "vocals - clip.wav"
        << "clip.mov"
        << "vocals - clip.mov" << QList<QStringList> { withY(mux("TMP")), fromTmp(h264()) } << true;
    QTest::newRow("mp3 to wmv: two runs")
        << "vocals - clip.mp3"
        << "clip.mkv"
        << "vocals - clip.wmv" << QList<QStringList> { withY(mux("TMP")), fromTmp(wmv2()) } << true;
    QTest::newRow("flac to webm: two runs")
        << "vocals - clip.flac"
        << "clip.webm"
        << "vocals - clip.webm" << QList<QStringList> { withY(mux("TMP")), fromTmp(vp8()) } << true;
    QTest::newRow("wav to mpg: two runs")
        << "vocals - clip.wav"
        << "clip.mpg"
        << "vocals - clip.mpg" << QList<QStringList> { withY(mux("TMP")), fromTmp(mpeg2()) } << true;
    QTest::newRow("mp3 to flac") << "vocals - song.mp3" << QString() << "vocals - song.flac"
                                 << QList<QStringList> { audio() } << false;
    QTest::newRow("mov file to wav") << "vocals - clip.mov"
                                     << "clip.mov"
                                     << "vocals - clip.wav" << QList<QStringList> { audio() } << false;
}

void tst_ConvertingFile::convertFile()
{
    QFETCH(QString, input);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(QList<QStringList>, runs);
    QFETCH(bool, logsFirstRun);

    const MessageCapture capture;
    const auto job = makeJob(Entry::ConvertFile, input, output, video);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    const QList<QStringList> expected = expand(runs, job);
    QCOMPARE(fake->argumentLists(), expected);
    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    QVERIFY(worker.doneOnOwnThread());
    QCOMPARE(readFile(job.output), QByteArray("converted media\n"));
    QVERIFY2(QFile::exists(job.input), "the archive file stays");
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));

    const QStringList debug = capture.messages(QtDebugMsg);
    QVERIFY(debug.contains(expected.last().join(QLatin1Char(' '))));
    QCOMPARE(debug.contains(QStringLiteral("Pre init commad:")), logsFirstRun);
    if (logsFirstRun)
        QVERIFY(debug.contains(expected.first().join(QLatin1Char(' '))));
}

void tst_ConvertingFile::fallbackAfterFailedCopy_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<QStringList>>("runs");

    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    QTest::newRow("final webm to webm")
        << final << "a.webm.wav"
        << "clip.webm"
        << "a.webm" << QList<QStringList> { mux("OUT"), reencode(vp8(), "OUT") };
    QTest::newRow("final mpg to mpg")
        << final << "a.mpg.wav"
        << "clip.mpg"
        << "a.mpg" << QList<QStringList> { mux("OUT"), reencode(mpeg2(), "OUT") };
    QTest::newRow("final wmv to mp4")
        << final << "a.mp4.wav"
        << "clip.wmv"
        << "a.mp4" << QList<QStringList> { mux("OUT"), reencode(h264(), "OUT") };
    QTest::newRow("final flv to mov")
        << final << "a.mov.wav"
        << "clip.flv"
        << "a.mov" << QList<QStringList> { mux("TMP"), reencode(h264(), "TMP"), fromTmp(h264()) };
    QTest::newRow("final webm to wmv")
        << final << "a.wmv.wav"
        << "clip.webm"
        << "a.wmv" << QList<QStringList> { mux("TMP"), reencode(h264(), "TMP"), fromTmp(wmv2()) };
    QTest::newRow("archive webm picture to mp4")
        << archive << "a.wav"
        << "clip.webm"
        << "a.mp4" << QList<QStringList> { withY(mux("OUT")), withY(reencode(h264(), "OUT")) };
    QTest::newRow("archive rm picture to mpg")
        << archive << "a.wav"
        << "clip.rm"
        << "a.mpg"
        << QList<QStringList> { withY(mux("TMP")), withY(reencode(h264(), "TMP")), fromTmp(mpeg2()) };
}

void tst_ConvertingFile::fallbackAfterFailedCopy()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(QList<QStringList>, runs);

    // Every run that copies the picture fails and leaves a partial file, as ffmpeg does for these pairs.
    fake->setSwitch("FAIL_IF", QStringLiteral("copy"));
    const auto job = makeJob(Entry(entry), input, output, video);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(fake->argumentLists(), expand(runs, job));
    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    QCOMPARE(readFile(job.output), QByteArray("converted media\n"));
    QCOMPARE(QFile::exists(job.input), Entry(entry) == Entry::ConvertFile);
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFile::failedConversion_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("runCount");
    QTest::addColumn<QString>("signal");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    for (const char *failure : { "FAIL_IF", "NO_OUTPUT" }) {
        const QString name = QLatin1String(failure);
        QTest::addRow("upload, %s", failure) << upload << "clip.mp4"
                                             << ""
                                             << "up.wav" << name << 1 << "doneUploadConverting";
        QTest::addRow("final audio, %s", failure) << final << "a.mp3.wav"
                                                  << ""
                                                  << "a.mp3" << name << 1 << "doneMain";
        QTest::addRow("final one run, %s", failure) << final << "a.mp4.wav"
                                                    << "clip.mkv"
                                                    << "a.mp4" << name << 2 << "doneMain";
        QTest::addRow("final two runs, %s", failure) << final << "a.mov.wav"
                                                     << "clip.mkv"
                                                     << "a.mov" << name << 2 << "doneMain";
        QTest::addRow("archive audio, %s", failure) << archive << "a.wav"
                                                    << ""
                                                    << "a.flac" << name << 1 << "doneMain";
        QTest::addRow("archive video file, %s", failure) << archive << "a.mov"
                                                         << "clip.mov"
                                                         << "a.mkv" << name << 1 << "doneMain";
        QTest::addRow("archive two runs, %s", failure) << archive << "a.wav"
                                                       << "clip.mp4"
                                                       << "a.webm" << name << 2 << "doneMain";
    }
}

void tst_ConvertingFile::failedConversion()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(QString, failure);
    QFETCH(int, runCount);
    QFETCH(QString, signal);

    // Either every run fails after writing a partial file, or ffmpeg "succeeds" without writing anything.
    fake->setSwitch(failure.toLatin1().constData(), failure == QLatin1String("FAIL_IF") ? "-i" : "1");
    const auto job = makeJob(Entry(entry), input, output, video);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(fake->runs().size(), runCount);
    QCOMPARE(worker.doneSignals(), QStringList { signal });
    QVERIFY2(!QFile::exists(job.output), "no partial output is left behind");
    QVERIFY2(QFile::exists(job.input), "the input is kept when nothing was produced");
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFile::missingFfmpegIsLogged_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("signal");
    QTest::newRow("upload") << int(Entry::PrepareToUpload) << "doneUploadConverting";
    QTest::newRow("final") << int(Entry::PrepareFinal) << "doneMain";
    QTest::newRow("archive") << int(Entry::ConvertFile) << "doneMain";
}

void tst_ConvertingFile::missingFfmpegIsLogged()
{
    QFETCH(int, entry);
    QFETCH(QString, signal);

    const QString missing = path(QStringLiteral("no-such-folder/ffmpeg"));
    ConvertingFile::setProgramPath(missing);
    const MessageCapture capture;
    const auto job = makeJob(
        Entry(entry), QStringLiteral("a.mp4.wav"), QStringLiteral("a.mp4"), QStringLiteral("clip.mp4"));
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));

    QCOMPARE(worker.doneSignals(), QStringList { signal });
    QVERIFY(QFile::exists(job.input));
    QVERIFY(!QFile::exists(job.output));
    const QStringList warnings = capture.messages(QtWarningMsg);
    QVERIFY2(!warnings.filter(missing).isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void tst_ConvertingFile::existingOutputDoesNotWaitForAnswer()
{
    // Without "-y" the stand-in asks on its input, as ffmpeg does; an open input would hang it.
    const auto job
        = makeJob(Entry::PrepareFinal, QStringLiteral("a.mp3.wav"), QStringLiteral("a.mp3"), QString());
    QVERIFY(writeFile(job.output, "the user's earlier file"));
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));

    QCOMPARE(fake->runs().size(), 1);
    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    QCOMPARE(readFile(job.output), QByteArray("the user's earlier file"));
    QVERIFY(QFile::exists(job.input));
}

void tst_ConvertingFile::cancelDuringFirstRun_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("inputKept");
    QTest::newRow("final") << int(Entry::PrepareFinal) << false;
    QTest::newRow("archive") << int(Entry::ConvertFile) << true;
}

void tst_ConvertingFile::cancelDuringFirstRun()
{
    QFETCH(int, entry);
    QFETCH(bool, inputKept);

    fake->setSwitch("HANG_IF", QStringLiteral("copy"));
    const auto job = makeJob(
        Entry(entry), QStringLiteral("a.mov.wav"), QStringLiteral("a.mov"), QStringLiteral("clip.avi"));
    const QString intermediate = job.output + QStringLiteral(".mp4");
    ConversionWorker worker;
    worker.start(job);
    QTRY_COMPARE(fake->runs().size(), 1);
    QTRY_VERIFY(QFile::exists(intermediate));

    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs < 1000, qPrintable(QString::number(stopMs)));
    QTest::qWait(200);

    QCOMPARE(fake->runs().size(), 1);
    QVERIFY(!processExists(fake->runs().first().pid));
    QVERIFY(worker.doneSignals().isEmpty());
    QVERIFY(worker.converterDeleted());
    QCOMPARE(QFile::exists(job.input), inputKept);
    QVERIFY(!QFile::exists(intermediate));
    QVERIFY(!QFile::exists(job.output));
}

void tst_ConvertingFile::cancelKillsStubbornProcess()
{
    fake->setSwitch("HANG_IF", QStringLiteral("copy"));
    fake->setSwitch("IGNORE_TERM", QStringLiteral("1"));
    const auto job = makeJob(Entry::PrepareFinal, QStringLiteral("a.mov.wav"), QStringLiteral("a.mov"),
        QStringLiteral("clip.avi"));
    ConversionWorker worker;
    worker.start(job);
    QTRY_COMPARE(fake->runs().size(), 1);

    // The terminate request is ignored: the kill follows after half a second.
    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs >= 450 && stopMs < 1500, qPrintable(QString::number(stopMs)));
    QVERIFY(!processExists(fake->runs().first().pid));
    QCOMPARE(fake->runs().size(), 1);
    QVERIFY(!QFile::exists(job.input));
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFile::cancelDuringLastRun_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<bool>("inputKept");
    QTest::newRow("upload") << int(Entry::PrepareToUpload) << "clip.mp4"
                            << "up.wav"
                            << "doneUploadConverting" << true;
    QTest::newRow("final") << int(Entry::PrepareFinal) << "a.mp3.wav"
                           << "a.mp3"
                           << "doneMain" << false;
    QTest::newRow("archive") << int(Entry::ConvertFile) << "a.wav"
                             << "a.flac"
                             << "doneMain" << true;
}

void tst_ConvertingFile::cancelDuringLastRun()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, signal);
    QFETCH(bool, inputKept);

    fake->setSwitch("HANG_IF", QStringLiteral("-i"));
    const auto job = makeJob(Entry(entry), input, output, QString());
    ConversionWorker worker;
    worker.start(job);
    QTRY_VERIFY(QFile::exists(job.output));

    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs < 1000, qPrintable(QString::number(stopMs)));
    // The signal still comes; the owner ignores it because its flag is set.
    QTRY_COMPARE(worker.doneSignals(), QStringList { signal });
    QVERIFY(!processExists(fake->runs().first().pid));
    QVERIFY2(!QFile::exists(job.output), "the half-written output is removed");
    QCOMPARE(QFile::exists(job.input), inputKept);
}

void tst_ConvertingFile::cancelBeforeStart_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("expectedSignals");
    QTest::newRow("upload") << int(Entry::PrepareToUpload) << "up.wav"
                            << QStringList { "doneUploadConverting" };
    QTest::newRow("final one run") << int(Entry::PrepareFinal) << "a.mp4" << QStringList();
    QTest::newRow("final two runs") << int(Entry::PrepareFinal) << "a.mkv" << QStringList();
    QTest::newRow("archive two runs") << int(Entry::ConvertFile) << "a.webm" << QStringList();
}

void tst_ConvertingFile::cancelBeforeStart()
{
    QFETCH(int, entry);
    QFETCH(QString, output);
    QFETCH(QStringList, expectedSignals);

    // A download that completes after the window closed starts a conversion with the flag already set.
    const auto job = makeJob(Entry(entry), QStringLiteral("a.wav"), output, QStringLiteral("clip.avi"));
    ConversionWorker worker;
    worker.setCancelFlag(1);
    worker.start(job);
    QTest::qWait(300);
    worker.stop();
    QTest::qWait(100);

    QVERIFY(fake->runs().isEmpty());
    QCOMPARE(worker.doneSignals(), expectedSignals);
    QVERIFY(!QFile::exists(job.output));
}

QTEST_GUILESS_MAIN(tst_ConvertingFile)
#include "tst_convertingfile.moc"
