// ConvertingFile against a stand-in ffmpeg: what is kept and deleted on failure, a missing ffmpeg, an
// existing output, and cancelling. What the conversions make is checked with the real ffmpeg.

#include "ConversionWorker.h"
#include "FileBytes.h"

#include "FileProcessing/ConvertingFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

using Entry = ConversionWorker::Entry;

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

void setSwitch(const char *name, const QString &value)
{
    qputenv(QByteArray("FAKE_") + name, value.toLocal8Bit());
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
        Entry entry, const QString &in, const QString &out, const QString &vid) const;
    // Each run of the stand-in: its process id first, then its arguments.
    QList<QStringList> runs() const;

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
    Entry entry, const QString &in, const QString &out, const QString &vid) const
{
    const ConversionWorker::Job job { entry, path(in), path(out), vid.isEmpty() ? QString() : path(vid) };
    writeFile(job.input, "input media\n");
    if (!vid.isEmpty())
        writeFile(job.videoSource, "source video\n");
    return job;
}

QList<QStringList> tst_ConvertingFile::runs() const
{
    QList<QStringList> result;
    for (const QByteArray &line : readFile(path(QStringLiteral("calls.log"))).split('\n')) {
        if (!line.isEmpty())
            result << QString::fromLocal8Bit(line).split(QLatin1Char('\037'));
    }
    return result;
}

void tst_ConvertingFile::failedConversion_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("runCount");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    // Every run fails after writing a partial file, ffmpeg "succeeds" without writing anything, or it
    // is not there at all.
    for (const char *failure : { "FAIL_IF", "NO_OUTPUT", "MISSING" }) {
        QTest::addRow("upload, %s", failure) << upload << "clip.mp4" << "" << "up.wav" << failure << 1;
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
    QTest::newRow("final, ignoring terminate") << final << "a.mov.wav" << "a.mov" << "copy" << true << none;
    QTest::newRow("upload, last run") << upload << "clip.mp4" << "up.wav" << "-i" << false << uploaded;
    QTest::newRow("final, last run") << final << "a.mp3.wav" << "a.mp3" << "-i" << false << main;
    QTest::newRow("archive, last run") << archive << "a.wav" << "a.flac" << "-i" << false << main;
    // A download that completes after the window closed starts a conversion with the flag already set.
    QTest::newRow("upload, before the start") << upload << "a.wav" << "up.wav" << "" << false << uploaded;
    QTest::newRow("final one run, before the start") << final << "a.wav" << "a.mp4" << "" << false << none;
    QTest::newRow("archive, before the start") << archive << "a.wav" << "a.webm" << "" << false << none;
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
