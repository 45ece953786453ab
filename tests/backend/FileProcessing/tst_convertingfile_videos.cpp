// Every video source into every video output with the real ffmpeg, the new audio under the source's
// picture. Built twice: once through prepareFinal (a downloaded result) and once through convertFile (an
// archive file), chosen by ZELK_VIDEO_ENTRY, so that CTest can run the two halves side by side.

#include "ConversionWorker.h"
#include "MediaSamples.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using Entry = ConversionWorker::Entry;

namespace {

constexpr Entry entryUnderTest = Entry::ZELK_VIDEO_ENTRY;

const QStringList videoOutputs { "mp4", "mkv", "mov", "wmv", "mpg", "webm" };

// Decodes to the end, with a picture and a sound.
MediaSamples::Info verifyPlayableVideo(const QString &file)
{
    const MediaSamples::Info info = MediaSamples::probe(file);
    [&] {
        QVERIFY2(info.decodes, qPrintable(info.problem));
        QVERIFY(info.hasVideo);
        QVERIFY(info.hasAudio);
    }();
    return info;
}

} // namespace

class tst_ConvertingFileVideos final : public QObject
{
    Q_OBJECT

public:
    tst_ConvertingFileVideos() = default;

private slots:
    void initTestCase();
    void newAudioUnderPicture_data();
    void newAudioUnderPicture();
    void storedVideoToOtherFormat_data();
    void storedVideoToOtherFormat();

private:
    Q_DISABLE_COPY_MOVE(tst_ConvertingFileVideos)

    QString path(const QString &name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

void tst_ConvertingFileVideos::initTestCase()
{
    QVERIFY(dir.isValid());
    for (const MediaSamples::Format &format : MediaSamples::videoSources())
        QVERIFY(
            MediaSamples::makeVideo(path(QStringLiteral("clip.") + format.suffix), format.codecArguments));
    QVERIFY(MediaSamples::makeResultWav(path(QStringLiteral("result.wav"))));
}

void tst_ConvertingFileVideos::newAudioUnderPicture_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    for (const MediaSamples::Format &source : MediaSamples::videoSources()) {
        for (const QString &format : videoOutputs)
            QTest::addRow("%s to %s", qPrintable(source.suffix), qPrintable(format))
                << source.suffix << format;
    }
}

void tst_ConvertingFileVideos::newAudioUnderPicture()
{
    QFETCH(QString, source);
    QFETCH(QString, format);

    const QString rowDir = path(source + QStringLiteral("-to-") + format);
    QVERIFY(QDir().mkpath(rowDir));
    ConversionWorker::Job job;
    job.entry = entryUnderTest;
    job.videoSource = path(QStringLiteral("clip.") + source);
    job.output = QStringLiteral("%1/vocals - clip.%2").arg(rowDir, format);
    job.input = job.output + QStringLiteral(".wav");
    QVERIFY(QFile::copy(path(QStringLiteral("result.wav")), job.input));

    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    const MediaSamples::Info info = verifyPlayableVideo(job.output);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(info.meanVolumeDb > MediaSamples::newAudioThresholdDb,
        qPrintable(QStringLiteral("the old sound came through: %1 dB").arg(info.meanVolumeDb)));
    QCOMPARE(QFile::exists(job.input), entryUnderTest == Entry::ConvertFile);
    QVERIFY(!QFile::exists(job.output + QStringLiteral(".mp4")));
}

void tst_ConvertingFileVideos::storedVideoToOtherFormat_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("format");
    // Each video output once as the stored file, into the next format in the list.
    for (int i = 0; i < videoOutputs.size(); ++i) {
        const QString &format = videoOutputs.at((i + 1) % videoOutputs.size());
        QTest::addRow("%s to %s", qPrintable(videoOutputs.at(i)), qPrintable(format))
            << videoOutputs.at(i) << format;
    }
}

void tst_ConvertingFileVideos::storedVideoToOtherFormat()
{
    if (entryUnderTest != Entry::ConvertFile)
        QSKIP("only the archive converts a stored video into another format");
    QFETCH(QString, stored);
    QFETCH(QString, format);

    const QString rowDir = path(QStringLiteral("stored-") + stored);
    QVERIFY(QDir().mkpath(rowDir));
    const QList<MediaSamples::Format> sources = MediaSamples::videoSources();
    const auto source = std::find_if(
        sources.cbegin(), sources.cend(), [&](const MediaSamples::Format &f) { return f.suffix == stored; });
    QVERIFY(source != sources.cend());
    ConversionWorker::Job job;
    job.entry = entryUnderTest;
    job.input = QStringLiteral("%1/vocals - clip.%2").arg(rowDir, stored);
    job.output = QStringLiteral("%1/vocals - clip.%2").arg(rowDir, format);
    job.videoSource = path(QStringLiteral("clip.mp4"));
    QVERIFY(MediaSamples::makeVideo(job.input, source->codecArguments));

    ConversionWorker worker;
    QVERIFY(worker.run(job));

    QCOMPARE(worker.doneSignals(), QStringList { "doneMain" });
    verifyPlayableVideo(job.output);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QFile::exists(job.input));
}

QTEST_GUILESS_MAIN(tst_ConvertingFileVideos)
#include "tst_convertingfile_videos.moc"
