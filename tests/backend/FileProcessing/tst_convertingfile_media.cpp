// ConvertingFile with the real ffmpeg: the upload WAV from every kind of source, every audio output,
// unreadable inputs, awkward file names and stopping an ffmpeg that is stuck.

#include "ConversionWorker.h"
#include "MediaSamples.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Entry = ConversionWorker::Entry;

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

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
    const QByteArray needle = QFile::encodeName(text);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 id = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            ids << id;
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

    void uploadWav_data();
    void uploadWav();
    void audioOutput_data();
    void audioOutput();
    void unreadableInput_data();
    void unreadableInput();
    void existingOutputIsLeftAlone();
    void awkwardFileNames();
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
    for (const MediaSamples::Format &format : MediaSamples::videoSources())
        QVERIFY(
            MediaSamples::makeVideo(path(QStringLiteral("clip.") + format.suffix), format.codecArguments));
    for (const MediaSamples::Format &format : MediaSamples::audioSources())
        QVERIFY(
            MediaSamples::makeAudio(path(QStringLiteral("song.") + format.suffix), format.codecArguments));
    QVERIFY(QFile::copy(path(QStringLiteral("clip.wmv")), path(QStringLiteral("clip-caps.WMV"))));
    QVERIFY(MediaSamples::makeResultWav(path(QStringLiteral("result.wav"))));
    QVERIFY(writeFile(path(QStringLiteral("noise.bin")), noise()));
}

QString tst_ConvertingFileMedia::freshResultWav(const QString &target) const
{
    QFile::remove(target);
    return QFile::copy(path(QStringLiteral("result.wav")), target) ? target : QString();
}

void tst_ConvertingFileMedia::uploadWav_data()
{
    QTest::addColumn<QString>("source");
    for (const MediaSamples::Format &format : MediaSamples::audioSources())
        QTest::newRow(qPrintable(format.suffix)) << QStringLiteral("song.") + format.suffix;
    for (const MediaSamples::Format &format : MediaSamples::videoSources())
        QTest::newRow(qPrintable(format.suffix)) << QStringLiteral("clip.") + format.suffix;
    QTest::newRow("WMV in capitals") << "clip-caps.WMV";
}

void tst_ConvertingFileMedia::uploadWav()
{
    QFETCH(QString, source);

    ConversionWorker::Job job;
    job.entry = Entry::PrepareToUpload;
    job.input = path(source);
    job.output = path(QStringLiteral("upload-%1.wav").arg(source));
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(worker.doneSignals(), QStringList { "doneUploadConverting" });
    const MediaSamples::Info info = MediaSamples::probe(job.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QCOMPARE(info.audioCodec, QStringLiteral("pcm_s16le"));
    QCOMPARE(info.channels, 2);
    QVERIFY(!info.hasVideo);
    QVERIFY2(info.meanVolumeDb > -80, "the sound of the source is in the WAV");
    QVERIFY(QFile::exists(job.input));
}

void tst_ConvertingFileMedia::audioOutput_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("codec");

    const QList<QPair<QString, QString>> formats { { "mp3", "mp3" }, { "wav", "pcm_s16le" }, { "m4a", "aac" },
        { "aiff", "pcm_s16be" }, { "flac", "flac" }, { "wma", "wmav2" } };
    for (const auto &format : formats) {
        QTest::addRow("final %s", qPrintable(format.first))
            << int(Entry::PrepareFinal) << format.first << format.second;
        QTest::addRow("archive %s", qPrintable(format.first))
            << int(Entry::ConvertFile) << format.first << format.second;
    }
}

void tst_ConvertingFileMedia::audioOutput()
{
    QFETCH(int, entry);
    QFETCH(QString, format);
    QFETCH(QString, codec);

    ConversionWorker::Job job;
    job.entry = Entry(entry);
    job.output = path(QStringLiteral("vocals - clip %1 %2.%3").arg(entry).arg(format, format));
    job.input = freshResultWav(job.output + QStringLiteral(".wav"));
    job.videoSource = path(QStringLiteral("clip.mp4"));
    QVERIFY(!job.input.isEmpty());
    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    const MediaSamples::Info info = MediaSamples::probe(job.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QCOMPARE(info.audioCodec, codec);
    QVERIFY(!info.hasVideo);
    QVERIFY(info.meanVolumeDb > MediaSamples::newAudioThresholdDb);
    QCOMPARE(QFile::exists(job.input), Entry(entry) == Entry::ConvertFile);
}

void tst_ConvertingFileMedia::unreadableInput_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("inputIsNoise");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("signal");

    const int upload = int(Entry::PrepareToUpload);
    const int final = int(Entry::PrepareFinal);
    const int archive = int(Entry::ConvertFile);
    for (const bool isNoise : { true, false }) {
        const char *kind = isNoise ? "random bytes" : "empty file";
        QTest::addRow("upload, %s", kind) << upload << "bad.mp3" << isNoise << ""
                                          << "up.wav"
                                          << "doneUploadConverting";
        QTest::addRow("final audio, %s", kind) << final << "bad.mp3.wav" << isNoise << ""
                                               << "bad.mp3"
                                               << "doneMain";
        QTest::addRow("final one run, %s", kind) << final << "bad.mp4.wav" << isNoise << "clip.mp4"
                                                 << "bad.mp4"
                                                 << "doneMain";
        QTest::addRow("final two runs, %s", kind) << final << "bad.mov.wav" << isNoise << "clip.mkv"
                                                  << "bad.mov"
                                                  << "doneMain";
        QTest::addRow("archive audio, %s", kind) << archive << "bad.wav" << isNoise << ""
                                                 << "bad.flac"
                                                 << "doneMain";
        QTest::addRow("archive video file, %s", kind) << archive << "bad.mkv" << isNoise << "clip.mkv"
                                                      << "bad.webm"
                                                      << "doneMain";
        QTest::addRow("archive two runs, %s", kind) << archive << "bad.wav" << isNoise << "clip.avi"
                                                    << "bad.mpg"
                                                    << "doneMain";
    }
    QTest::newRow("final, unreadable picture source") << final << "good.mp4.wav" << false << "noise.bin"
                                                      << "good.mp4"
                                                      << "doneMain";
}

void tst_ConvertingFileMedia::unreadableInput()
{
    QFETCH(int, entry);
    QFETCH(QString, input);
    QFETCH(bool, inputIsNoise);
    QFETCH(QString, video);
    QFETCH(QString, output);
    QFETCH(QString, signal);

    const QTemporaryDir rowDir(path(QStringLiteral("row-XXXXXX")));
    ConversionWorker::Job job;
    job.entry = Entry(entry);
    job.input = rowDir.filePath(input);
    job.output = rowDir.filePath(output);
    job.videoSource = video.isEmpty() ? QString() : path(video);
    if (input.startsWith(QLatin1String("good")))
        QVERIFY(!freshResultWav(job.input).isEmpty());
    else
        QVERIFY(writeFile(job.input, inputIsNoise ? noise() : QByteArray()));

    ConversionWorker worker;
    QVERIFY(worker.run(job, 30000));

    QCOMPARE(worker.doneSignals(), QStringList { signal });
    QVERIFY2(!QFile::exists(job.output), "nothing half-made is left to be opened");
    QVERIFY2(QFile::exists(job.input), "the input is kept when the conversion failed");
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFileMedia::existingOutputIsLeftAlone()
{
    // ffmpeg asks before overwriting; with no input to read it answers no at once.
    ConversionWorker::Job job;
    job.entry = Entry::PrepareFinal;
    job.output = path(QStringLiteral("taken.mp3"));
    job.input = freshResultWav(job.output + QStringLiteral(".wav"));
    QVERIFY(writeFile(job.output, "the user's earlier file"));
    ConversionWorker worker;
    QVERIFY(worker.run(job, 10000));

    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    QFile earlier(job.output);
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("the user's earlier file"));
    QVERIFY(QFile::exists(job.input));
}

void tst_ConvertingFileMedia::awkwardFileNames()
{
    const QString folder = path(QStringLiteral("it's \"odd\" – Ünïcødé 音楽"));
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/my \"clip\" it's ü.mp4");
    QVERIFY(QFile::copy(path(QStringLiteral("clip.mp4")), source));
    ConversionWorker worker;

    ConversionWorker::Job upload;
    upload.entry = Entry::PrepareToUpload;
    upload.input = source;
    upload.output = folder + QStringLiteral("/Ab Cd'\"é.wav");
    QVERIFY(worker.run(upload));
    MediaSamples::Info info = MediaSamples::probe(upload.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QCOMPARE(info.audioCodec, QStringLiteral("pcm_s16le"));

    ConversionWorker::Job final;
    final.entry = Entry::PrepareFinal;
    final.videoSource = source;
    final.output = folder + QStringLiteral("/vocals - my \"clip\" it's ü.mov");
    final.input = freshResultWav(final.output + QStringLiteral(".wav"));
    QVERIFY(worker.run(final));
    info = MediaSamples::probe(final.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QVERIFY(info.hasVideo);
    QVERIFY(info.meanVolumeDb > MediaSamples::newAudioThresholdDb);
    QVERIFY(!QFile::exists(final.input));
    QVERIFY(!QFile::exists(final.output + QStringLiteral(".mp4")));

    ConversionWorker::Job archive;
    archive.entry = Entry::ConvertFile;
    archive.input = final.output;
    archive.videoSource = source;
    archive.output = folder + QStringLiteral("/vocals - my \"clip\" it's ü.webm");
    QVERIFY(worker.run(archive));
    info = MediaSamples::probe(archive.output);
    QVERIFY2(info.decodes, qPrintable(info.problem));
    QVERIFY(info.hasVideo);
    QVERIFY(info.meanVolumeDb > MediaSamples::newAudioThresholdDb);
    QVERIFY(QFile::exists(archive.input));
}

void tst_ConvertingFileMedia::cancelStuckFfmpeg()
{
    // ffmpeg opening a pipe that nobody writes to waits in the kernel and outlasts the terminate request.
    const QString fifo = path(QStringLiteral("stuck.mp3"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ConversionWorker::Job job;
    job.entry = Entry::PrepareToUpload;
    job.input = fifo;
    job.output = path(QStringLiteral("stuck.wav"));
    ConversionWorker worker;
    worker.start(job);
    QTRY_VERIFY(!processesMentioning(fifo).isEmpty());
    QTest::qWait(200);
    QVERIFY2(worker.doneSignals().isEmpty(), "ffmpeg is still waiting for its input");

    const qint64 stopMs = worker.cancel();
    QVERIFY2(stopMs < 1500, qPrintable(QString::number(stopMs)));
    QVERIFY(processesMentioning(fifo).isEmpty());
    QTRY_COMPARE(worker.doneSignals(), QStringList { "doneUploadConverting" });
    QVERIFY(!QFile::exists(job.output));

    // Should anything still wait on the pipe, a writer that opens and closes it releases it.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
}

QTEST_GUILESS_MAIN(tst_ConvertingFileMedia)
#include "tst_convertingfile_media.moc"
