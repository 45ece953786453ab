// ConvertingFile against a stand-in ffmpeg: the argument lists, the fallback after a failed picture
// copy, what is kept and deleted on failure, a missing ffmpeg, and cancelling.

#include "ConversionWorker.h"

#include "FileProcessing/ConvertingFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

using Entry = ConversionWorker::Entry;
using Runs = QList<QStringList>;

namespace {

// Logs its process id and arguments, then writes a small file to its last argument, where ffmpeg writes.
// Like ffmpeg, without "-y" it asks on its input before overwriting and ends on no. Switches (environment):
// FAIL_IF / HANG_IF=arg: a run with that argument leaves a partial output and fails or sleeps;
// IGNORE_TERM=1: only a kill ends it; NO_OUTPUT=1: ends well but writes nothing.
const char fakeFfmpeg[] = R"(#!/bin/sh
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

// Placeholders in the expected lists: IN, OUT, VID and TMP (OUT + ".mp4").
const QStringList mapping { "-i", "VID", "-i", "IN", "-map", "0:v:0", "-map", "1:a:0" };
const QStringList h264 { "-c:v", "libx264", "-crf", "23", "-preset", "medium", "-c:a", "aac" };
const QStringList mpeg2 { "-c:v", "mpeg2video", "-qscale:v", "2", "-c:a", "mp2" };
const QStringList vp8 { "-c:v", "libvpx", "-crf", "30", "-b:v", "1M", "-c:a", "libvorbis" };
const QStringList audio { "-i", "IN", "-b:a", "320k", "-vn", "OUT" };

QStringList mux(const QString &target, const QStringList &block = { "-c:v", "copy", "-c:a", "aac" })
{
    return mapping + block << target;
}

QStringList fromTmp(const QStringList &block)
{
    return QStringList { "-y", "-i", "TMP" } + block << "OUT";
}

QStringList withY(const QStringList &list)
{
    return QStringList { "-y" } + list;
}

void setSwitch(const char *name, const QString &value)
{
    qputenv(QByteArray("FAKE_") + name, value.toLocal8Bit());
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
    void cleanupTestCase() { ConvertingFile::setProgramPath(QString()); }

    void programBesideExecutable();
    void arguments_data();
    void arguments();
    void failedConversion_data();
    void failedConversion();
    void existingOutputDoesNotWaitForAnswer();
    void cancelWhileRunning_data();
    void cancelWhileRunning();

private:
    Q_DISABLE_COPY_MOVE(tst_ConvertingFile)

    QString path(const QString &name) const { return dir->filePath(name); }
    // Creates IN and VID (when named) in the test folder and fills in the job's paths.
    ConversionWorker::Job makeJob(
        Entry entry, const QString &in, const QString &out, const QString &vid, bool isMain = true) const;
    // Each run of the stand-in: its process id first, then its arguments.
    Runs runs() const;
    Runs expand(const Runs &lists, const ConversionWorker::Job &job) const;

    std::unique_ptr<QTemporaryDir> dir;
};

void tst_ConvertingFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    for (const char *name : { "FAIL_IF", "HANG_IF", "IGNORE_TERM", "NO_OUTPUT" })
        setSwitch(name, QString());
    setSwitch("LOG", path(QStringLiteral("calls.log")));
    const QString program = path(QStringLiteral("ffmpeg"));
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(fakeFfmpeg) == qint64(sizeof fakeFfmpeg - 1));
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    ConvertingFile::setProgramPath(program);
}

ConversionWorker::Job tst_ConvertingFile::makeJob(
    Entry entry, const QString &in, const QString &out, const QString &vid, bool isMain) const
{
    const ConversionWorker::Job job { entry, path(in), path(out), vid.isEmpty() ? QString() : path(vid), isMain };
    writeFile(job.input, "input media\n");
    if (!vid.isEmpty())
        writeFile(job.videoSource, "source video\n");
    return job;
}

Runs tst_ConvertingFile::runs() const
{
    Runs result;
    for (const QByteArray &line : readFile(path(QStringLiteral("calls.log"))).split('\n')) {
        if (!line.isEmpty())
            result << QString::fromLocal8Bit(line).split(QLatin1Char('\037'));
    }
    return result;
}

Runs tst_ConvertingFile::expand(const Runs &lists, const ConversionWorker::Job &job) const
{
    const QHash<QString, QString> places { { "IN", job.input }, { "OUT", job.output }, { "VID", job.videoSource },
        { "TMP", job.output + QStringLiteral(".mp4") } };
    Runs result;
    for (QStringList list : lists) {
        for (QString &item : list)
            item = places.value(item, item);
        result << list;
    }
    return result;
}

void tst_ConvertingFile::programBesideExecutable()
{
    ConvertingFile::setProgramPath(QString());
    QCOMPARE(ConvertingFile::programPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"));
}

void tst_ConvertingFile::arguments_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("isMain");
    QTest::addColumn<bool>("copyFails"); // every run that copies the picture fails, leaving a partial file
    QTest::addColumn<Runs>("runs");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    const auto toWav = [](const QStringList &codec) { return Runs { QStringList { "-i", "IN" } + codec << "-y" << "OUT" }; };
    QTest::newRow("upload WMV") << upload << "clip.WMV" << "" << "up.wav" << true << false << toWav({});
    QTest::newRow("upload MKV") << upload << "clip.MKV" << "" << "up.wav" << true << false
                                << toWav({ "-vn", "-acodec", "pcm_s16le", "-ac", "2" });
    QTest::newRow("upload FLAC") << upload << "song.FLAC" << "" << "up.wav" << true << false
                                 << toWav({ "-vn", "-c:a", "pcm_s16le" });

    // A downloaded result under the source's picture: one run into the same container or MP4, else two;
    // a stored video file is encoded, any other archive file goes under the picture.
    const auto row = [](const char *name, int entry, const char *video, const char *output, bool isMain,
                         bool copyFails, const Runs &runs) {
        const QString input = entry == int(Entry::ConvertFile) ? QStringLiteral("a.wav") : QLatin1String(output) + ".wav";
        QTest::newRow(name) << entry << input << video << output << isMain << copyFails << runs;
    };
    row("final MKV to mkv, the mix", final, "clip.MKV", "vocals - clip.mkv", false, false, { mux("OUT") });
    row("final avi to mp4", final, "clip.avi", "vocals - clip.mp4", true, false, { mux("OUT") });
    row("final mp4 to mkv", final, "clip.mp4", "vocals - clip.mkv", true, false, { mux("TMP"), fromTmp(h264) });
    row("final mov to webm", final, "clip.mov", "bass - clip.webm", true, false, { mux("TMP"), fromTmp(vp8) });
    row("final video to flac", final, "clip.mp4", "piano - clip.flac", false, false, { audio });
    row("final audio source to mp3", final, "", "guitar - song.mp3", true, false, { audio });
    row("archive to mp4", archive, "clip.avi", "a.mp4", true, false, { withY(mux("OUT")) });
    row("archive to mpg", archive, "clip.mpg", "a.mpg", true, false, { withY(mux("TMP")), fromTmp(mpeg2) });
    row("archive audio source", archive, "", "a.flac", true, false, { audio });
    row("fallback, final webm to webm", final, "clip.webm", "a.webm", true, true, { mux("OUT"), mux("OUT", vp8) });
    row("fallback, final flv to mov", final, "clip.flv", "a.mov", true, true,
        { mux("TMP"), mux("TMP", h264), fromTmp(h264) });
    row("fallback, archive rm to mpg", archive, "clip.rm", "a.mpg", true, true,
        { withY(mux("TMP")), withY(mux("TMP", h264)), fromTmp(mpeg2) });
    QTest::newRow("archive stored mov to mkv") << archive << "a.mov" << "clip.mp4" << "a.mkv" << true << false
                                               << Runs { QStringList { "-y", "-i", "IN" } + h264 << "OUT" };
}

void tst_ConvertingFile::arguments()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(bool, isMain);
    QFETCH(bool, copyFails);
    QFETCH(Runs, runs);

    if (copyFails)
        setSwitch("FAIL_IF", QStringLiteral("copy"));
    const auto job = makeJob(Entry(entry), input, output, video, isMain);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    Runs seen = this->runs();
    for (QStringList &run : seen)
        run.removeFirst();
    QCOMPARE(seen, expand(runs, job));
    const char *signal = Entry(entry) == Entry::PrepareToUpload ? "doneUploadConverting"
        : isMain                                                 ? "doneMain"
                                                                 : "doneMix";
    QCOMPARE(worker.doneSignals(), QStringList { signal });
    QCOMPARE(readFile(job.output), QByteArray("converted media\n"));
    // Only a downloaded result goes once converted; the user's source and archive file stay.
    QCOMPARE(QFile::exists(job.input), Entry(entry) != Entry::PrepareFinal);
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

    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    // Every run fails after writing a partial file, ffmpeg "succeeds" without writing anything, or it
    // is not there at all.
    for (const char *failure : { "FAIL_IF", "NO_OUTPUT", "MISSING" }) {
        QTest::addRow("upload, %s", failure) << int(Entry::PrepareToUpload) << "clip.mp4" << "" << "up.wav" << failure << 1;
        QTest::addRow("final audio, %s", failure) << final << "a.mp3.wav" << "" << "a.mp3" << failure << 1;
        QTest::addRow("final one run, %s", failure) << final << "a.mp4.wav" << "clip.mkv" << "a.mp4" << failure << 2;
        QTest::addRow("final two runs, %s", failure) << final << "a.mov.wav" << "clip.mkv" << "a.mov" << failure << 2;
        QTest::addRow("archive video file, %s", failure) << archive << "a.mov" << "clip.mov" << "a.mkv" << failure << 1;
        QTest::addRow("archive two runs, %s", failure) << archive << "a.wav" << "clip.mp4" << "a.webm" << failure << 2;
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

    const QString missing = path(QStringLiteral("no-such-folder/ffmpeg"));
    if (failure == QLatin1String("MISSING")) {
        ConvertingFile::setProgramPath(missing);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ffmpeg could not be started: ")
                                               + QRegularExpression::escape(missing)));
    } else {
        setSwitch(failure.toLatin1().constData(), failure == QLatin1String("FAIL_IF") ? "-i" : "1");
    }
    const auto job = makeJob(Entry(entry), input, output, video);
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));

    QCOMPARE(runs().size(), failure == QLatin1String("MISSING") ? 0 : runCount);
    QCOMPARE(worker.doneSignals().size(), 1);
    QVERIFY2(!QFile::exists(job.output), "no partial output is left behind");
    QVERIFY2(QFile::exists(job.input), "the input is kept when nothing was produced");
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFile::existingOutputDoesNotWaitForAnswer()
{
    // Without "-y" the stand-in asks on its input, as ffmpeg does; an open input would hang it.
    const auto job = makeJob(Entry::PrepareFinal, QStringLiteral("a.mp3.wav"), QStringLiteral("a.mp3"), QString());
    QVERIFY(writeFile(job.output, "the user's earlier file"));
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));
    QCOMPARE(runs().size(), 1);
    QCOMPARE(readFile(job.output), QByteArray("the user's earlier file"));
    QVERIFY(QFile::exists(job.input));
}

void tst_ConvertingFile::cancelWhileRunning_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("hangIf"); // none: cancelled before the start
    QTest::addColumn<bool>("ignoreTerm");
    QTest::addColumn<QStringList>("expectedSignals");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    // In the first of two runs the conversion ends silently; in the last its signal still comes, and the
    // owner ignores it because its flag is set.
    const QStringList none;
    const QStringList main { "doneMain" };
    const QStringList uploaded { "doneUploadConverting" };
    QTest::newRow("final, first run") << final << "a.mov.wav" << "a.mov" << "copy" << false << none;
    QTest::newRow("archive, first run") << archive << "a.mov.wav" << "a.mov" << "copy" << false << none;
    QTest::newRow("final, ffmpeg ignores terminate") << final << "a.mov.wav" << "a.mov" << "copy" << true << none;
    QTest::newRow("upload, last run") << upload << "clip.mp4" << "up.wav" << "-i" << false << uploaded;
    QTest::newRow("final, last run") << final << "a.mp3.wav" << "a.mp3" << "-i" << false << main;
    QTest::newRow("archive, last run") << archive << "a.wav" << "a.flac" << "-i" << false << main;
    // A download that completes after the window closed starts a conversion with the flag already set.
    QTest::newRow("upload, before the start") << upload << "a.wav" << "up.wav" << "" << false << uploaded;
    QTest::newRow("final one run, before the start") << final << "a.wav" << "a.mp4" << "" << false << none;
    QTest::newRow("archive two runs, before the start") << archive << "a.wav" << "a.webm" << "" << false << none;
}

void tst_ConvertingFile::cancelWhileRunning()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, hangIf);
    QFETCH(bool, ignoreTerm);
    QFETCH(QStringList, expectedSignals);

    const bool beforeStart = hangIf.isEmpty();
    setSwitch("HANG_IF", hangIf);
    setSwitch("IGNORE_TERM", QLatin1String(ignoreTerm ? "1" : ""));
    const auto job = makeJob(Entry(entry), input, output, QStringLiteral("clip.avi"));
    const QString intermediate = job.output + QStringLiteral(".mp4");
    ConversionWorker worker;
    worker.setCancelFlag(beforeStart ? 1 : 0);
    worker.start(job);
    if (beforeStart)
        QTest::qWait(100);
    QTRY_VERIFY(beforeStart || QFile::exists(job.output) || QFile::exists(intermediate));

    // An ignored terminate request is followed by a kill after half a second.
    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs < (ignoreTerm ? 1500 : 1000) && (!ignoreTerm || stopMs >= 450), qPrintable(QString::number(stopMs)));
    QTest::qWait(200);
    QCOMPARE(worker.doneSignals(), expectedSignals);
    QCOMPARE(runs().size(), beforeStart ? 0 : 1);
    if (!beforeStart) {
        const pid_t pid = runs().first().first().toInt();
        QVERIFY(::kill(pid, 0) != 0 && errno == ESRCH);
    }
    QCOMPARE(QFile::exists(job.input), Entry(entry) != Entry::PrepareFinal);
    QVERIFY2(!QFile::exists(job.output) && !QFile::exists(intermediate), "the half-written output is removed");
}

QTEST_GUILESS_MAIN(tst_ConvertingFile)
#include "tst_convertingfile.moc"
