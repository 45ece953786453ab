// ConvertingFile on a worker thread, as the windows run it: real conversions with the real ffmpeg, failures
// and cancelling with a stand-in. Odd names go through the window tests' runs.

#include "FileBytes.h"
#include "MediaSamples.h"

#include "FileProcessing/ConvertingFile.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <tuple>

namespace {

// Logs its process id and arguments, then writes a small file to its last argument, where ffmpeg writes.
// Like ffmpeg, without "-y" it asks on its input before overwriting and ends on no. Switches (environment):
// FAIL_IF / HANG_IF=arg: a run with that argument leaves a partial output and fails or sleeps;
// IGNORE_TERM=1: only a kill ends it; NO_OUTPUT=1: ends well but writes nothing. A look at a source
// (written to the null muxer) finds no tags and is not logged.
const char fakeFfmpeg[] = R"(#!/bin/sh
case "$*" in *"-f null -") exit 0;; esac
{ printf '%s' "$$"; for a; do printf '\037%s' "$a"; done; echo; } >> "$FAKE_LOG"
[ "$FAKE_IGNORE_TERM" = 1 ] && trap '' TERM
yes=; fail=; hang=
for a; do
  out=$a
  [ "$a" = -y ] && yes=1
  [ -n "$FAKE_FAIL_IF" ] && [ "$a" = "$FAKE_FAIL_IF" ] && fail=1
  [ -n "$FAKE_HANG_IF" ] && [ "$a" = "$FAKE_HANG_IF" ] && hang=1
done
if [ -z "$yes" ] && [ -e "$out" ]; then
  printf "File '%s' already exists. Overwrite? [y/N] " "$out" >&2
  read answer && [ "$answer" = y ] || exit 1
fi
[ -n "$fail" ] && { echo partial > "$out"; exit 1; }
[ -n "$hang" ] && { echo partial > "$out"; exec sleep 60; }
[ "$FAKE_NO_OUTPUT" = 1 ] && exit 0
echo 'converted media' > "$out"
)";

void setSwitch(const char *name, const QString &value)
{
    qputenv(QByteArray("FAKE_") + name, value.toLocal8Bit());
}

// The tags of the song sample, which has a cover too.
const QMap<QString, QString> songTags { { "title", "Song" }, { "artist", "The Band" }, { "album", "First" },
    { "track", "3" }, { "date", "2001" }, { "genre", "Rock" }, { "comment", "Live, take 2" } };

// The slot a window starts a conversion with.
enum Entry { Upload, Final, Archive };

struct Job
{
    Entry entry = Final;
    QString input;
    QString output;
    QString videoSource;
};

} // namespace

// Runs one ConvertingFile the way the windows do, on a fresh thread, the done signals queued back here.
class ConversionWorker final : public QObject
{
    Q_OBJECT

public:
    ConversionWorker() = default;
    ~ConversionWorker() override { cancel(); }

    void start(const Job &job)
    {
        // Owned by its thread: deleted there through the finished → deleteLater connection.
        auto *converter = new ConvertingFile(&cancelFlag, job.input, job.output, job.videoSource, true);
        converter->moveToThread(&workerThread);
        const char *entry = job.entry == Upload ? SLOT(prepareToUpload())
            : job.entry == Final                ? SLOT(prepareFinal())
                                                : SLOT(convertFile());
        connect(&workerThread, SIGNAL(started()), converter, entry);
        connect(&workerThread, &QThread::finished, converter, &QObject::deleteLater);
        const auto record = [this](const char *name) { return [this, name] { received << name; }; };
        connect(converter, &ConvertingFile::doneUploadConverting, this, record("doneUploadConverting"),
            Qt::QueuedConnection);
        connect(converter, &ConvertingFile::doneMain, this, record("doneMain"), Qt::QueuedConnection);
        workerThread.start();
    }

    // Starts the job and waits for its done signal, the converter's last step; false on a time-out.
    bool run(const Job &job)
    {
        start(job);
        return QTest::qWaitFor([this] { return !received.isEmpty(); }, 60000);
    }

    // What closing a window does: set the cancel flag, quit the thread and wait. Returns its milliseconds.
    qint64 cancel()
    {
        QElapsedTimer timer;
        timer.start();
        setCancelFlag(1);
        workerThread.quit();
        workerThread.wait();
        return timer.elapsed();
    }

    void setCancelFlag(int value) { cancelFlag.store(value, std::memory_order_release); }
    QStringList doneSignals() const { return received; } // in order

private:
    Q_DISABLE_COPY_MOVE(ConversionWorker)

    std::atomic<int> cancelFlag { 0 };
    QThread workerThread;
    QStringList received;
};

class tst_ConvertingFile final : public QObject
{
    Q_OBJECT

public:
    tst_ConvertingFile() = default;

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid());
        const auto codecs = MediaSamples::sourceCodecs();
        for (auto format = codecs.cbegin(); format != codecs.cend(); ++format) {
            if (format->contains(QStringLiteral("-c:v")))
                QVERIFY(MediaSamples::makeVideo(sample(QStringLiteral("clip.") + format.key()), *format));
        }
        QVERIFY(MediaSamples::makeResultWav(sample(QStringLiteral("result.wav"))));
        QVERIFY(MediaSamples::makeTaggedSong(sample(QStringLiteral("clip.mp3")), songTags));
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    // Back to the real ffmpeg beside the test program.
    void cleanup() { ConvertingFile::setProgramPath(QString()); }

    void conversion_data()
    {
        // clang-format off
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("input"); // a suffix: a fresh sample of that kind; "result": the result WAV
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("codec"); // the output's audio codec, empty for a video
        QTest::addColumn<bool>("mix"); // the mix without the instrument, rather than the instrument
        QTest::addColumn<QString>("title"); // the result's, when the container keeps one
        QTest::addColumn<bool>("cover");

        // The upload WAV from each branch of source kinds, the WMV one in capitals.
        for (const char *source : { "mp3", "flac", "mp4", "webm", "avi" })
            QTest::addRow("upload from %s", source) << Upload << source << "" << "wav" << "pcm_s16le" << false << ""
                                                    << false;
        QTest::newRow("upload from WMV") << Upload << "WMV" << "" << "wav" << "pcm_s16le" << false << "" << false;

        const QList<QPair<const char *, const char *>> audio { { "mp3", "mp3" }, { "wav", "pcm_s16le" },
            { "m4a", "aac" }, { "aiff", "pcm_s16be" }, { "flac", "flac" }, { "wma", "wmav2" } };
        // A video's picture is no cover; without a title the source's name is the title.
        for (qsizetype i = 0; i < audio.size(); ++i) {
            const Entry entry = i % 2 ? Archive : Final;
            QTest::addRow("%s %s", entry == Final ? "final" : "archive", audio.at(i).first)
                << entry << "result" << "mp4" << audio.at(i).first << audio.at(i).second << (i % 3 == 0)
                << (i % 3 == 0 ? "clip (Without Vocals)" : "clip (Vocals)") << false;
        }
        // The song's tags and cover, for both parts.
        for (const auto &[entry, format] : { std::pair(Final, "mp3"), std::pair(Archive, "flac") }) {
            for (const bool mix : { false, true })
                QTest::addRow("%s %s tagged%s", entry == Final ? "final" : "archive", format, mix ? ", mix" : "")
                    << entry << "result" << "mp3" << format << format << mix
                    << (mix ? "Song (Without Vocals)" : "Song (Vocals)") << true;
        }

        // Every source container and every video output at least once through each entry, including the
        // pairs where copying the picture fails and the fallback has to encode it.
        const QList<std::tuple<Entry, const char *, const char *>> videos { { Final, "mkv", "mkv" },
            { Final, "webm", "webm" }, { Final, "webm", "mp4" }, { Final, "flv", "mov" }, { Final, "mpg", "mpg" },
            { Final, "mp4", "wmv" }, { Archive, "mp4", "mkv" }, { Archive, "wmv", "mp4" }, { Archive, "mpg", "mpg" },
            { Archive, "avi", "webm" }, { Archive, "mov", "wmv" }, { Archive, "flv", "mov" } };
        for (const auto &[entry, source, format] : videos)
            QTest::addRow("%s %s picture to %s", entry == Final ? "final" : "archive", source, format)
                << entry << "result" << source << format << "" << false
                << (QLatin1String(format) == "mpg" ? "" : "clip (Vocals)") << false;
        // A stored video re-encoded into another container.
        for (const char *stored : { "mkv", "wmv", "webm" })
            QTest::addRow("archive stored %s to mov", stored)
                << Archive << stored << "mp4" << "mov" << "" << false << "" << false;
        // clang-format on
    }

    void conversion()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, input);
        QFETCH(QString, video);
        QFETCH(QString, output);
        QFETCH(QString, codec);
        QFETCH(bool, mix);
        QFETCH(QString, title);
        QFETCH(bool, cover);

        Job job { entry, {},
            path(QStringLiteral("%1vocals - clip.%2").arg(mix ? "Mix Without " : "", output)),
            video.isEmpty() ? QString() : sample(QStringLiteral("clip.") + video) };
        const bool isResult = input == QLatin1String("result");
        if (isResult) {
            job.input = job.output + QStringLiteral(".wav");
            QVERIFY(QFile::copy(sample(QStringLiteral("result.wav")), job.input));
        } else {
            job.input = path(QStringLiteral("source.") + input);
            const QStringList codecArguments = MediaSamples::sourceCodecs().value(input.toLower());
            QVERIFY(!codecArguments.isEmpty());
            const bool isVideo = codecArguments.contains(QStringLiteral("-c:v"));
            QVERIFY(isVideo ? MediaSamples::makeVideo(job.input, codecArguments)
                            : MediaSamples::makeAudio(job.input, codecArguments));
        }
        ConversionWorker worker;
        QVERIFY(worker.run(job));
        QCOMPARE(worker.doneSignals().size(), 1);
        QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));

        const MediaSamples::Info info = MediaSamples::probe(job.output);
        QVERIFY2(info.decodes, qPrintable(info.problem));
        QVERIFY(info.hasAudio);
        if (!codec.isEmpty())
            QCOMPARE(info.audioCodec, codec);
        if (entry == Upload)
            QCOMPARE(info.channels, 2);
        QCOMPARE(info.hasVideo, codec.isEmpty());
        // The result's loud sound, not the quiet one of the source video; any sound at all from a source.
        QCOMPARE_GT(info.meanVolumeDb, isResult ? MediaSamples::newAudioThresholdDb : -80.0);
        QCOMPARE(QFile::exists(job.input), entry != Final);
        QCOMPARE(info.hasCover, cover);
        if (!title.isEmpty())
            QCOMPARE(info.tags.value(QStringLiteral("title")), title);
        if (video == QLatin1String("mp3")) {
            for (auto tag = songTags.cbegin(); tag != songTags.cend(); ++tag)
                QCOMPARE(
                    info.tags.value(tag.key()), tag.key() == QLatin1String("title") ? title : tag.value());
        }
    }

    void failedConversion_data()
    {
        // clang-format off
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("runCount");

        // Every run fails after writing a partial file, ffmpeg "succeeds" without writing anything, or it
        // is not there at all.
        for (const char *failure : { "FAIL_IF", "NO_OUTPUT", "MISSING" }) {
            QTest::addRow("upload, %s", failure) << Upload << "clip.mp4" << "" << "up.wav" << failure << 1;
            QTest::addRow("final audio, %s", failure) << Final << "a.mp3.wav" << "" << "a.mp3" << failure << 1;
            QTest::addRow("final one run, %s", failure) << Final << "a.mp4.wav" << "clip.mkv" << "a.mp4" << failure << 2;
            QTest::addRow("final two runs, %s", failure) << Final << "a.mov.wav" << "clip.mkv" << "a.mov" << failure << 2;
            QTest::addRow("archive video file, %s", failure)
                << Archive << "a.mov" << "clip.mov" << "a.mkv" << failure << 1;
            QTest::addRow("archive two runs, %s", failure)
                << Archive << "a.wav" << "clip.mp4" << "a.webm" << failure << 2;
        }
        // clang-format on
    }

    void failedConversion()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, input);
        QFETCH(QString, video);
        QFETCH(QString, output);
        QFETCH(QString, failure);
        QFETCH(int, runCount);

        useStandIn();
        const QString missing = path("no-such-folder/ffmpeg");
        if (failure == QLatin1String("MISSING")) {
            ConvertingFile::setProgramPath(missing);
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(
                    QStringLiteral("^ffmpeg could not be started: ") + QRegularExpression::escape(missing)));
        } else {
            setSwitch(failure.toLatin1().constData(), failure == QLatin1String("FAIL_IF") ? "-i" : "1");
        }
        const Job job = makeJob(entry, input, output, video);
        ConversionWorker worker;
        QVERIFY(worker.run(job));

        QCOMPARE(runs().size(), failure == QLatin1String("MISSING") ? 0 : runCount);
        QCOMPARE(worker.doneSignals().size(), 1);
        QVERIFY2(!QFile::exists(job.output), "no partial output is left behind");
        QVERIFY2(QFile::exists(job.input), "the input is kept when nothing was produced");
        QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
    }

    void existingOutputDoesNotWaitForAnswer()
    {
        // Without "-y" the stand-in asks on its input, as ffmpeg does; an open input would hang it.
        useStandIn();
        const Job job = makeJob(Final, "a.mp3.wav", "a.mp3", QString());
        QVERIFY(writeFile(job.output, "the user's earlier file"));
        ConversionWorker worker;
        QVERIFY(worker.run(job));
        QCOMPARE(runs().size(), 1);
        QCOMPARE(readFile(job.output), QByteArray("the user's earlier file"));
        QVERIFY(QFile::exists(job.input));
    }

    void cancelWhileRunning_data()
    {
        // clang-format off
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("hangIf"); // none: cancelled before the start
        QTest::addColumn<bool>("ignoreTerm");
        QTest::addColumn<QStringList>("expectedSignals");

        // In the first of two runs the conversion ends silently; in the last its signal still comes, and
        // the owner ignores it because its flag is set.
        const QStringList none;
        const QStringList main { "doneMain" };
        const QStringList uploaded { "doneUploadConverting" };
        QTest::newRow("final, first run") << Final << "a.mov.wav" << "a.mov" << "copy" << false << none;
        QTest::newRow("archive, first run") << Archive << "a.mov.wav" << "a.mov" << "copy" << false << none;
        QTest::newRow("final, ignoring terminate") << Final << "a.mov.wav" << "a.mov" << "copy" << true << none;
        QTest::newRow("upload, last run") << Upload << "clip.mp4" << "up.wav" << "-i" << false << uploaded;
        QTest::newRow("final, last run") << Final << "a.mp3.wav" << "a.mp3" << "-i" << false << main;
        QTest::newRow("archive, last run") << Archive << "a.wav" << "a.flac" << "-i" << false << main;
        // A download that completes after the window closed starts a conversion with the flag already set.
        QTest::newRow("upload, before the start") << Upload << "a.wav" << "up.wav" << "" << false << uploaded;
        QTest::newRow("final one run, before the start") << Final << "a.wav" << "a.mp4" << "" << false << none;
        QTest::newRow("archive, before the start") << Archive << "a.wav" << "a.webm" << "" << false << none;
        // clang-format on
    }

    void cancelWhileRunning()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, hangIf);
        QFETCH(bool, ignoreTerm);
        QFETCH(QStringList, expectedSignals);

        useStandIn();
        const bool beforeStart = hangIf.isEmpty();
        setSwitch("HANG_IF", hangIf);
        setSwitch("IGNORE_TERM", QLatin1String(ignoreTerm ? "1" : ""));
        const Job job = makeJob(entry, input, output, "clip.avi");
        const QString intermediate = job.output + QStringLiteral(".mp4");
        ConversionWorker worker;
        worker.setCancelFlag(beforeStart ? 1 : 0);
        worker.start(job);
        if (beforeStart)
            QTest::qWait(100);
        QTRY_VERIFY(beforeStart || QFile::exists(job.output) || QFile::exists(intermediate));

        // An ignored terminate request is followed by a kill after half a second.
        const qint64 stopMs = worker.cancel();
        QCOMPARE_LT(stopMs, ignoreTerm ? 1500 : 1000);
        QCOMPARE_GE(stopMs, ignoreTerm ? 450 : 0);
        QTest::qWait(200);
        QCOMPARE(worker.doneSignals(), expectedSignals);
        QCOMPARE(runs().size(), beforeStart ? 0 : 1);
        if (!beforeStart) {
            const pid_t pid = runs().first().first().toInt();
            QVERIFY(::kill(pid, 0) != 0 && errno == ESRCH);
        }
        QCOMPARE(QFile::exists(job.input), entry != Final);
        QVERIFY2(
            !QFile::exists(job.output) && !QFile::exists(intermediate), "the half-written output is removed");
    }

private:
    Q_DISABLE_COPY_MOVE(tst_ConvertingFile)

    QString path(const QString &name) const { return dir->filePath(name); }
    QString sample(const QString &name) const { return samples.filePath(name); }

    void useStandIn()
    {
        for (const char *name : { "FAIL_IF", "HANG_IF", "IGNORE_TERM", "NO_OUTPUT" })
            setSwitch(name, QString());
        setSwitch("LOG", path(QStringLiteral("calls.log")));
        const QString program = path(QStringLiteral("ffmpeg"));
        QVERIFY(writeFile(program, fakeFfmpeg));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner));
        ConvertingFile::setProgramPath(program);
    }

    Job makeJob(Entry entry, const QString &in, const QString &out, const QString &vid) const
    {
        const Job job { entry, path(in), path(out), vid.isEmpty() ? QString() : path(vid) };
        writeFile(job.input, "input media\n");
        if (!vid.isEmpty())
            writeFile(job.videoSource, "source video\n");
        return job;
    }

    // Each run of the stand-in: its process id first, then its arguments.
    QList<QStringList> runs() const
    {
        QList<QStringList> result;
        const QString log = QString::fromLocal8Bit(readFile(path(QStringLiteral("calls.log"))));
        for (const QString &line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            result << line.split(QLatin1Char('\037'));
        return result;
    }

    QTemporaryDir samples;
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_GUILESS_MAIN(tst_ConvertingFile)
#include "tst_convertingfile.moc"
