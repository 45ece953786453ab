// ConvertingFile with the real ffmpeg: the upload WAV from each kind of source, every audio output, the new
// audio under a video's picture in every container, unreadable inputs and a stuck ffmpeg. Odd names go
// through the window tests' runs.

#include "ConversionWorker.h"
#include "FileBytes.h"
#include "MediaSamples.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Entry = ConversionWorker::Entry;

namespace {

QByteArray noise()
{
    QRandomGenerator generator(20240611);
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

// Ids of the running processes whose command line contains the text.
QList<qint64> processesMentioning(const QString &text)
{
    QList<qint64> ids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly)
            && cmdline.readAll().contains(QFile::encodeName(text)))
            ids << entry.toLongLong();
    }
    return ids;
}

} // namespace

class tst_ConvertingFileMedia final : public QObject
{
    Q_OBJECT

public:
    tst_ConvertingFileMedia() = default;

private slots:
    void initTestCase();
    void conversion_data();
    void conversion();
    void cancelStuckFfmpeg();

private:
    Q_DISABLE_COPY_MOVE(tst_ConvertingFileMedia)

    QString path(const QString &name) const { return dir.filePath(name); }
    QString freshResultWav(const QString &path) const;

    QTemporaryDir dir;
};

void tst_ConvertingFileMedia::initTestCase()
{
    QVERIFY(dir.isValid());
    const auto codecs = MediaSamples::sourceCodecs();
    for (auto format = codecs.cbegin(); format != codecs.cend(); ++format) {
        if (format->contains(QStringLiteral("-c:v")))
            QVERIFY(MediaSamples::makeVideo(path(QStringLiteral("clip.") + format.key()), *format));
    }
    QVERIFY(MediaSamples::makeResultWav(path(QStringLiteral("result.wav"))));
    QVERIFY(writeFile(path(QStringLiteral("noise.bin")), noise()));
}

QString tst_ConvertingFileMedia::freshResultWav(const QString &target) const
{
    QFile::remove(target);
    return QFile::copy(path(QStringLiteral("result.wav")), target) ? target : QString();
}

void tst_ConvertingFileMedia::conversion_data()
{
    QTest::addColumn<int>("entry");
    // A suffix: a fresh sample of that kind; "result": the result WAV; "noise."/"empty." and a name:
    // random bytes or nothing under that name.
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("codec"); // the output's audio codec, empty for a video, "fails" for none

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    // The upload WAV from each branch of source kinds, the WMV one in capitals.
    for (const char *source : { "mp3", "flac", "mp4", "webm", "avi" })
        QTest::addRow("upload from %s", source) << upload << source << "" << "wav" << "pcm_s16le";
    QTest::newRow("upload from WMV") << upload << "WMV" << "" << "wav" << "pcm_s16le";

    const QList<QPair<const char *, const char *>> audio { { "mp3", "mp3" }, { "wav", "pcm_s16le" },
        { "m4a", "aac" }, { "aiff", "pcm_s16be" }, { "flac", "flac" }, { "wma", "wmav2" } };
    for (qsizetype i = 0; i < audio.size(); ++i) {
        const int entry = i % 2 ? archive : final;
        QTest::addRow("%s %s", entry == final ? "final" : "archive", audio.at(i).first)
            << entry << "result" << "mp4" << audio.at(i).first << audio.at(i).second;
    }

    // Every source container and every video output at least once through each entry, including the pairs
    // where copying the picture fails and the fallback has to encode it.
    const QList<std::tuple<int, const char *, const char *>> videos { { final, "mkv", "mkv" },
        { final, "webm", "webm" }, { final, "webm", "mp4" }, { final, "flv", "mov" }, { final, "mpg", "mpg" },
        { final, "mp4", "wmv" }, { archive, "mp4", "mkv" }, { archive, "wmv", "mp4" }, { archive, "mpg", "mpg" },
        { archive, "avi", "webm" }, { archive, "mov", "wmv" }, { archive, "flv", "mov" } };
    for (const auto &[entry, source, format] : videos)
        QTest::addRow("%s %s picture to %s", entry == final ? "final" : "archive", source, format)
            << entry << "result" << source << format << "";
    // A stored video re-encoded into another container.
    for (const char *stored : { "mkv", "wmv", "webm" })
        QTest::addRow("archive stored %s to mov", stored) << archive << stored << "mp4" << "mov" << "";

    // What ffmpeg cannot read leaves nothing half-made to be opened, and the input stays.
    QTest::newRow("upload, noise") << upload << "noise.mp3" << "" << "wav" << "fails";
    QTest::newRow("final, empty WAV") << final << "empty.mov.wav" << "mkv" << "mov" << "fails";
    QTest::newRow("final, unreadable picture") << final << "result" << "noise.bin" << "mp4" << "fails";
    QTest::newRow("archive, noise") << archive << "noise.wav" << "" << "flac" << "fails";
    QTest::newRow("archive, empty video file") << archive << "empty.mkv" << "mkv" << "webm" << "fails";
}

void tst_ConvertingFileMedia::conversion()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(QString, codec);

    const QTemporaryDir rowDir(path(QStringLiteral("row-XXXXXX")));
    ConversionWorker::Job job { Entry(entry), {}, rowDir.filePath(QStringLiteral("vocals - clip.") + output),
        video.isEmpty() ? QString() : path(video.contains('.') ? video : QStringLiteral("clip.") + video) };
    const bool isResult = input == QLatin1String("result");
    if (isResult) {
        job.input = freshResultWav(job.output + QStringLiteral(".wav"));
    } else if (input.contains('.')) {
        job.input = rowDir.filePath(input);
        QVERIFY(writeFile(job.input, input.startsWith(QLatin1String("noise")) ? noise() : QByteArray()));
    } else {
        job.input = rowDir.filePath(QStringLiteral("source.") + input);
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
    if (codec == QLatin1String("fails")) {
        QVERIFY(!QFile::exists(job.output));
        QVERIFY(QFile::exists(job.input));
        return;
    }

    const MediaSamples::Info info = MediaSamples::probe(job.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QVERIFY(info.hasAudio);
    if (!codec.isEmpty())
        QCOMPARE(info.audioCodec, codec);
    if (Entry(entry) == Entry::PrepareToUpload)
        QCOMPARE(info.channels, 2);
    const bool videoOutput = codec.isEmpty();
    QCOMPARE(info.hasVideo, videoOutput);
    // The result's loud sound, not the quiet one of the source video; any sound at all from a source.
    QVERIFY2(info.meanVolumeDb > (isResult ? MediaSamples::newAudioThresholdDb : -80),
        qPrintable(QStringLiteral("%1 dB").arg(info.meanVolumeDb)));
    QCOMPARE(QFile::exists(job.input), Entry(entry) != Entry::PrepareFinal);
}

void tst_ConvertingFileMedia::cancelStuckFfmpeg()
{
    // ffmpeg opening a pipe that nobody writes to waits in the kernel and outlasts the terminate request.
    const QString fifo = path(QStringLiteral("stuck.mp3"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ConversionWorker worker;
    worker.start({ Entry::PrepareToUpload, fifo, path(QStringLiteral("stuck.wav")), QString() });
    QTRY_VERIFY(!processesMentioning(fifo).isEmpty());
    QTest::qWait(200);
    QVERIFY2(worker.doneSignals().isEmpty(), "ffmpeg is still waiting for its input");

    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs < 1500, qPrintable(QString::number(stopMs)));
    QVERIFY(processesMentioning(fifo).isEmpty());
    QTRY_COMPARE(worker.doneSignals(), QStringList { "doneUploadConverting" });
    QVERIFY(!QFile::exists(path(QStringLiteral("stuck.wav"))));

    // Should anything still wait on the pipe, a writer that opens and closes it releases it.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
}

QTEST_GUILESS_MAIN(tst_ConvertingFileMedia)
#include "tst_convertingfile_media.moc"
