#include "Separator.h"
#include "Stft.h"
#include "SyntheticMix.h"
#include "WavAudio.h"

#include <QTest>

#include <random>

Q_DECLARE_METATYPE(std::string)

// The separation called directly: the transform, silence, and how much of an instrument it recovers.
class tst_Separation : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void silence_data();
    void silence();
    void quality_data();
    void quality();
};

void tst_Separation::roundTrip_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("frameSize");
    QTest::addColumn<int>("chunkFrames");
    QTest::addColumn<int>("slice");

    QTest::newRow("stereo, many chunks") << 2 << 100000 << 1024 << 7 << 4000;
    QTest::newRow("mono, one chunk") << 1 << 30000 << 4096 << 128 << 30000;
    QTest::newRow("5.1, shorter than a frame") << 6 << 1000 << 4096 << 3 << 333;
    QTest::newRow("stereo, one frame") << 2 << 1 << 256 << 1 << 1;
}

// Unmasked, the spectra rebuild the input, in order and whole, however it is sliced.
void tst_Separation::roundTrip()
{
    QFETCH(int, channels);
    QFETCH(int, length);
    QFETCH(int, frameSize);
    QFETCH(int, chunkFrames);
    QFETCH(int, slice);

    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-20000.0f, 20000.0f);
    std::vector<float> input(static_cast<size_t>(length) * channels);
    for (float &sample : input)
        sample = uniform(random);

    std::vector<float> output;
    std::int64_t next = 0;
    bool inOrder = true;
    StftStream stream(
        channels, length, frameSize, 4, chunkFrames, [](const StftStream::Chunk &, std::vector<float> &) {},
        [&](std::int64_t start, std::int64_t count, const float *data) {
            inOrder = inOrder && start == next;
            next = start + count;
            output.insert(output.end(), data, data + count * channels);
        });
    for (int start = 0; start < length; start += slice)
        stream.push(input.data() + static_cast<size_t>(start) * channels, std::min(slice, length - start));

    QVERIFY(inOrder);
    QCOMPARE(output.size(), input.size());
    float worst = 0.0f;
    for (size_t i = 0; i < input.size(); ++i)
        worst = std::max(worst, std::abs(output[i] - input[i]));
    QVERIFY2(worst < 0.05f, qPrintable(QString::number(worst)));
}

void tst_Separation::silence_data()
{
    QTest::addColumn<std::string>("instrument");
    QTest::addColumn<int>("channels");

    for (const char *instrument : { "vocals", "drums", "bass", "guitar", "piano" })
        for (int channels : { 1, 2, 6 })
            QTest::addRow("%s, %d channels", instrument, channels) << std::string(instrument) << channels;
}

void tst_Separation::silence()
{
    QFETCH(std::string, instrument);
    QFETCH(int, channels);

    WavAudio audio;
    audio.channels = channels;
    audio.sampleRate = 44100;
    audio.samples.assign(static_cast<size_t>(channels) * 20000, 0);
    Separator::Parts parts;
    QVERIFY(Separator::split(audio, instrument, parts));
    QCOMPARE(parts.instrument, audio.samples);
    QCOMPARE(parts.mix, audio.samples);
}

void tst_Separation::quality_data()
{
    QTest::addColumn<std::string>("instrument");
    QTest::addColumn<double>("floor"); // dB of SI-SDR gained over the mixture

    QTest::newRow("drums") << std::string("drums") << 3.0;
    QTest::newRow("bass") << std::string("bass") << 3.0;
}

// A loose floor on a small seeded mix; the full figures come from the evaluation tool.
void tst_Separation::quality()
{
    QFETCH(std::string, instrument);
    QFETCH(double, floor);

    const SyntheticMix song = SyntheticMix::make(16, 44100, 4.0);
    WavAudio audio;
    audio.channels = song.channels;
    audio.sampleRate = song.sampleRate;
    audio.samples = song.mixture();
    Separator::Parts parts;
    QVERIFY(Separator::split(audio, instrument, parts));

    const std::vector<double> &reference = instrument == "drums" ? song.drums : song.bass;
    const std::vector<double> mixture(audio.samples.begin(), audio.samples.end());
    const std::vector<double> estimate(parts.instrument.begin(), parts.instrument.end());
    const double before = siSdr(reference, mixture);
    const double after = siSdr(reference, estimate);
    qInfo("%s: SI-SDR %.1f dB, mixture %.1f dB", instrument.c_str(), after, before);
    QVERIFY2(after - before >= floor, qPrintable(QStringLiteral("gained %1 dB").arg(after - before)));
}

QTEST_APPLESS_MAIN(tst_Separation)
#include "tst_separation.moc"
