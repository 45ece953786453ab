// ConvertingFile against the stand-in ffmpeg: the exact argument lists, the fallback after a failed picture
// copy, what is kept and deleted on failure, a missing ffmpeg, and cancelling.

#include "ConversionWorker.h"
#include "FakeFfmpegSession.h"

#include "FileProcessing/ConvertingFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Entry = ConversionWorker::Entry;
using Runs = QList<QStringList>;

namespace {

// Placeholders in the expected lists: IN, OUT, VID and TMP (OUT + ".mp4").
const QStringList mapping { "-i", "VID", "-i", "IN", "-map", "0:v:0", "-map", "1:a:0" };
const QStringList h264 { "-c:v", "libx264", "-crf", "23", "-preset", "medium", "-c:a", "aac" };
const QStringList mpeg2 { "-c:v", "mpeg2video", "-qscale:v", "2", "-c:a", "mp2" };
const QStringList vp8 { "-c:v", "libvpx", "-crf", "30", "-b:v", "1M", "-c:a", "libvorbis" };
const QStringList wmv2 { "-c:v", "wmv2", "-c:a", "wmav2" };
const QStringList audio { "-i", "IN", "-b:a", "320k", "-vn", "OUT" };

QStringList mux(const QString &target)
{
    return mapping + QStringList { "-c:v", "copy", "-c:a", "aac", target };
}

// The fallback: both streams mapped as in mux(), then encoded with the given block.
QStringList reencode(const QStringList &block, const QString &target)
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
    Runs expand(const Runs &lists, const ConversionWorker::Job &job) const;

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
    const ConversionWorker::Job job { entry, path(in), path(out), vid.isEmpty() ? QString() : path(vid), isMain };
    writeFile(job.input, "input media\n");
    if (!vid.isEmpty())
        writeFile(job.videoSource, "source video\n");
    return job;
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
    fake.reset();
    QCOMPARE(ConvertingFile::programPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg"));
}

void tst_ConvertingFile::arguments_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("isMain");
    QTest::addColumn<bool>("copyFails");
    QTest::addColumn<Runs>("runs");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    const auto toWav = [](const QStringList &codec) { return Runs { QStringList { "-i", "IN" } + codec << "-y" << "OUT" }; };
    for (const char *source : { "clip.WMV", "song.wma" })
        QTest::addRow("upload %s", source) << upload << source << "" << "up.wav" << true << false << toWav({});
    for (const char *source : { "clip.mp4", "clip.MKV", "clip.avi", "clip.flv", "clip.rm", "clip.vob", "clip.m4v",
             "clip.webm", "clip.mov", "clip.mpg" })
        QTest::addRow("upload %s", source) << upload << source << "" << "up.wav" << true << false
                                           << toWav({ "-vn", "-acodec", "pcm_s16le", "-ac", "2" });
    for (const char *source : { "song.mp3", "song.FLAC", "recording" })
        QTest::addRow("upload %s", source) << upload << source << "" << "up.wav" << true << false
                                           << toWav({ "-vn", "-c:a", "pcm_s16le" });

    // A downloaded result under the source's picture: one run into the same container or MP4, else two.
    const auto final_ = [&](const char *name, const char *video, const char *output, bool isMain, const Runs &runs) {
        QTest::newRow(name) << final << QStringLiteral("%1.wav").arg(QLatin1String(output)) << video << output
                            << isMain << false << runs;
    };
    final_("final mkv to mkv", "clip.mkv", "vocals - clip.mkv", true, { mux("OUT") });
    final_("final MKV to mkv, the mix", "clip.MKV", "vocals - clip.mkv", false, { mux("OUT") });
    final_("final avi to mp4", "clip.avi", "vocals - clip.mp4", true, { mux("OUT") });
    final_("final avi to mov", "clip.avi", "vocals - clip.mov", true, { mux("TMP"), fromTmp(h264) });
    final_("final mp4 to mkv, the mix", "clip.mp4", "Mix Without vocals - clip.mkv", false,
        { mux("TMP"), fromTmp(h264) });
    final_("final mkv to mpg", "clip.mkv", "bass - clip.mpg", true, { mux("TMP"), fromTmp(mpeg2) });
    final_("final mov to webm", "clip.mov", "bass - clip.webm", true, { mux("TMP"), fromTmp(vp8) });
    final_("final mp4 to WMV", "clip.mp4", "bass - clip.WMV", true, { mux("TMP"), fromTmp(wmv2) });
    for (const char *format : { "flac", "mp3", "wav", "m4a", "aiff", "wma" })
        QTest::addRow("final video to %s", format) << final << "a.wav" << "clip.mp4"
                                                   << QStringLiteral("piano - clip.%1").arg(QLatin1String(format)) << false
                                                   << false << Runs { audio };
    final_("final audio source to mp3", "", "guitar - song.mp3", true, { audio });

    // An archive file: a stored video is encoded, any other goes under the source's picture.
    const auto archive_ = [&](const char *input, const char *video, const char *output, const Runs &runs) {
        QTest::addRow("archive %s to %s", input, output) << archive << input << video << output << true << false
                                                         << runs;
    };
    archive_("a.mov", "clip.mp4", "a.mkv", { QStringList { "-y", "-i", "IN" } + h264 << "OUT" });
    archive_("a.mp4", "clip.mp4", "a.mpg", { QStringList { "-y", "-i", "IN" } + mpeg2 << "OUT" });
    archive_("a.webm", "clip.webm", "a.mp4", { QStringList { "-y", "-i", "IN" } + h264 << "OUT" });
    archive_("a.MKV", "clip.avi", "a.webm", { QStringList { "-y", "-i", "IN" } + vp8 << "OUT" });
    archive_("a.wav", "clip.avi", "a.mp4", { withY(mux("OUT")) });
    archive_("a.wav", "clip.mov", "a.mov", { withY(mux("TMP")), fromTmp(h264) });
    archive_("a.mp3", "clip.mkv", "a.wmv", { withY(mux("TMP")), fromTmp(wmv2) });
    archive_("a.flac", "clip.webm", "a.webm", { withY(mux("TMP")), fromTmp(vp8) });
    archive_("a.wav", "clip.mpg", "a.mpg", { withY(mux("TMP")), fromTmp(mpeg2) });
    archive_("a.mp3", "", "a.flac", { audio });
    archive_("a.mov", "clip.mov", "a.wav", { audio });

    // Every run that copies the picture fails and leaves a partial file, as ffmpeg does for these pairs.
    const auto fallback = [&](const char *name, int entry, const char *video, const char *output, const Runs &runs) {
        QTest::newRow(name) << entry << QStringLiteral("%1.wav").arg(QLatin1String(output)) << video << output
                            << true << true << runs;
    };
    fallback("fallback, final webm to webm", final, "clip.webm", "a.webm", { mux("OUT"), reencode(vp8, "OUT") });
    fallback("fallback, final mpg to mpg", final, "clip.mpg", "a.mpg", { mux("OUT"), reencode(mpeg2, "OUT") });
    fallback("fallback, final wmv to mp4", final, "clip.wmv", "a.mp4", { mux("OUT"), reencode(h264, "OUT") });
    fallback("fallback, final flv to mov", final, "clip.flv", "a.mov",
        { mux("TMP"), reencode(h264, "TMP"), fromTmp(h264) });
    fallback("fallback, final webm to wmv", final, "clip.webm", "a.wmv",
        { mux("TMP"), reencode(h264, "TMP"), fromTmp(wmv2) });
    fallback("fallback, archive webm picture to mp4", archive, "clip.webm", "a.mp4",
        { withY(mux("OUT")), withY(reencode(h264, "OUT")) });
    fallback("fallback, archive rm picture to mpg", archive, "clip.rm", "a.mpg",
        { withY(mux("TMP")), withY(reencode(h264, "TMP")), fromTmp(mpeg2) });
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
        fake->setSwitch("FAIL_IF", QStringLiteral("copy"));
    const auto job = makeJob(Entry(entry), input, output, video, isMain);
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(fake->argumentLists(), expand(runs, job));
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
        QTest::addRow("archive audio, %s", failure) << archive << "a.wav" << "" << "a.flac" << failure << 1;
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
        fake->setSwitch(failure.toLatin1().constData(), failure == QLatin1String("FAIL_IF") ? "-i" : "1");
    }
    const auto job = makeJob(Entry(entry), input, output, video);
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));

    QCOMPARE(fake->runs().size(), failure == QLatin1String("MISSING") ? 0 : runCount);
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
    QCOMPARE(fake->runs().size(), 1);
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
    QTest::addColumn<bool>("inputKept");

    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    // In the first of two runs the conversion ends silently; in the last its signal still comes, and the
    // owner ignores it because its flag is set.
    const QStringList none;
    const QStringList main { "doneMain" };
    QTest::newRow("final, first run") << final << "a.mov.wav" << "a.mov" << "copy" << false << none << false;
    QTest::newRow("archive, first run") << archive << "a.mov.wav" << "a.mov" << "copy" << false << none << true;
    QTest::newRow("final, ffmpeg ignores terminate") << final << "a.mov.wav" << "a.mov" << "copy" << true << none
                                                     << false;
    QTest::newRow("upload, last run") << int(Entry::PrepareToUpload) << "clip.mp4" << "up.wav" << "-i" << false
                                      << QStringList { "doneUploadConverting" } << true;
    QTest::newRow("final, last run") << final << "a.mp3.wav" << "a.mp3" << "-i" << false << main << false;
    QTest::newRow("archive, last run") << archive << "a.wav" << "a.flac" << "-i" << false << main << true;
    // A download that completes after the window closed starts a conversion with the flag already set.
    QTest::newRow("upload, before the start") << int(Entry::PrepareToUpload) << "a.wav" << "up.wav" << "" << false
                                              << QStringList { "doneUploadConverting" } << true;
    QTest::newRow("final one run, before the start") << final << "a.wav" << "a.mp4" << "" << false << none << false;
    QTest::newRow("final two runs, before the start") << final << "a.wav" << "a.mkv" << "" << false << none << false;
    QTest::newRow("archive two runs, before the start") << archive << "a.wav" << "a.webm" << "" << false << none
                                                        << true;
}

void tst_ConvertingFile::cancelWhileRunning()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, hangIf);
    QFETCH(bool, ignoreTerm);
    QFETCH(QStringList, expectedSignals);
    QFETCH(bool, inputKept);

    const bool beforeStart = hangIf.isEmpty();
    fake->setSwitch("HANG_IF", hangIf);
    if (ignoreTerm)
        fake->setSwitch("IGNORE_TERM", QStringLiteral("1"));
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
    QCOMPARE(fake->runs().size(), beforeStart ? 0 : 1);
    QVERIFY(beforeStart || !processExists(fake->runs().first().pid));
    QCOMPARE(QFile::exists(job.input), inputKept);
    QVERIFY2(!QFile::exists(job.output) && !QFile::exists(intermediate), "the half-written output is removed");
}

QTEST_GUILESS_MAIN(tst_ConvertingFile)
#include "tst_convertingfile.moc"
