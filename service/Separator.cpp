#include "Separator.h"

#include "Hpss.h"
#include "Stft.h"
#include "WavAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Input frames from a base on, kept until their results are written: the mix is the input minus the
// instrument, exactly, so the input waits for the instrument to come out of the transforms.
class History
{
public:
    explicit History(int channels)
        : channels(channels)
    { }

    void append(const std::int16_t *interleaved, std::int64_t frames)
    {
        samples.insert(samples.end(), interleaved, interleaved + frames * channels);
    }
    // Valid for frames from the base on, up to those appended.
    const std::int16_t *at(std::int64_t frame) const
    {
        return samples.data() + static_cast<size_t>((frame - base) * channels);
    }
    void dropBefore(std::int64_t frame)
    {
        if (frame <= base)
            return;
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>((frame - base) * channels));
        base = frame;
    }

private:
    const int channels;
    std::vector<std::int16_t> samples;
    std::int64_t base = 0;
};

// Receives the isolated instrument, in order, as it becomes final.
using Emit = std::function<void(std::int64_t start, std::int64_t count, const float *isolated)>;

// One way of isolating an instrument: takes the input in order and emits the instrument in order.
class Method
{
public:
    virtual ~Method() = default;
    virtual void push(const float *interleaved, std::int64_t frames) = 0;
};

// A second-order low- or high-pass section (the audio cookbook's formulas, Q = 1/sqrt 2).
class Biquad
{
public:
    Biquad(bool highPass, double cutoff, int sampleRate)
    {
        const double frequency = std::min(cutoff, 0.45 * sampleRate);
        const double omega = 2.0 * M_PI * frequency / sampleRate;
        const double alpha = std::sin(omega) / std::sqrt(2.0);
        const double cosine = std::cos(omega);
        const double a0 = 1.0 + alpha;
        const double edge = highPass ? (1.0 + cosine) / 2.0 : (1.0 - cosine) / 2.0;
        b0 = edge / a0;
        b1 = (highPass ? -2.0 * edge : 2.0 * edge) / a0;
        b2 = edge / a0;
        a1 = -2.0 * cosine / a0;
        a2 = (1.0 - alpha) / a0;
    }

    double process(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }

private:
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

int centreChannel(const WavAudio &audio)
{
    if (audio.channels < 3)
        return -1;
    for (size_t i = 0; i < audio.channelMap.size(); ++i) {
        if (audio.channelMap[i] == SF_CHANNEL_MAP_CENTER)
            return static_cast<int>(i);
    }
    // Without a map, surround WAVs put the front centre third.
    return audio.channelMap.empty() ? 2 : -1;
}

// About 90 ms frames: fine enough in frequency to tell notes apart.
int longFrame(int sampleRate)
{
    return sampleRate > 32000 ? 4096 : 2048;
}

// Median windows of the long frames: 17 frames (about 0.4 s) along time, 17 bins along frequency.
constexpr int timeHalfWidth = 8;
constexpr int frequencyHalfWidth = 8;
// The short frames' windows: as long in time as the long ones, and a few bins across, so that a kick
// only a few bins wide still reads as a hit.
constexpr int shortTimeHalfWidth = 24;
constexpr int shortFrequencyHalfWidth = 3;
// Frames masked per call: a chunk of a few megabytes.
constexpr int maskFrames = 128;
// Frames read from the input at a time.
constexpr std::int64_t blockFrames = 1 << 14;

// Drums: a long frame keeps the sustained notes with a margin; what is left is split again with a
// short frame, fine in time, and its percussive part is the drums.
class Drums final : public Method
{
public:
    Drums(const WavAudio &shape, std::int64_t frames, const History &history, Emit emit)
        : channels(shape.channels)
        , percussiveStage(channels, frames, longFrame(shape.sampleRate) / 4, shortTimeHalfWidth, maskFrames * 4,
              keep(false, shortTimeHalfWidth, shortFrequencyHalfWidth, 1.0f), std::move(emit))
        , harmonicStage(channels, frames, longFrame(shape.sampleRate), timeHalfWidth, maskFrames,
              keep(true, timeHalfWidth, frequencyHalfWidth, 2.0f),
              [this, &history](std::int64_t start, std::int64_t count, const float *data) {
                  rest.resize(static_cast<size_t>(count * channels));
                  const std::int16_t *input = history.at(start);
                  for (size_t i = 0; i < rest.size(); ++i)
                      rest[i] = input[i] - data[i];
                  percussiveStage.push(rest.data(), count);
              })
    { }

    void push(const float *interleaved, std::int64_t frames) override { harmonicStage.push(interleaved, frames); }

private:
    StftStream::Mask keep(bool wantHarmonic, int timeWidth, int frequencyWidth, float margin)
    {
        return [this, wantHarmonic, timeWidth, frequencyWidth, margin](
                   const StftStream::Chunk &chunk, std::vector<float> &gains) {
            Hpss::magnitudes(chunk, magnitudes);
            Hpss::harmonic(chunk, magnitudes, timeWidth, harmonic);
            Hpss::percussive(chunk, magnitudes, frequencyWidth, percussive);
            for (size_t i = 0; i < gains.size(); ++i)
                gains[i] = wantHarmonic ? Hpss::softMask(harmonic[i], percussive[i], margin)
                                        : Hpss::softMask(percussive[i], harmonic[i], margin);
        };
    }

    const int channels;
    std::vector<float> magnitudes, harmonic, percussive, rest;
    StftStream percussiveStage;
    StftStream harmonicStage;
};

// Bass: the sustained part of the lows, full below 150 Hz and gone by 300 Hz, weighted by how alike
// left and right are, since the bass sits in the centre.
class Bass final : public Method
{
public:
    Bass(const WavAudio &shape, std::int64_t frames, Emit emit)
        : channels(shape.channels)
        , stage(channels, frames, longFrame(shape.sampleRate), timeHalfWidth, maskFrames,
              [this](const StftStream::Chunk &chunk, std::vector<float> &gains) { mask(chunk, gains); },
              std::move(emit))
    {
        const double binWidth = double(shape.sampleRate) / longFrame(shape.sampleRate);
        for (int k = 0; k * binWidth < 300.0; ++k) {
            const double f = k * binWidth;
            lowPass.push_back(
                f <= 150.0 ? 1.0f : static_cast<float>(0.5 + 0.5 * std::cos(M_PI * (f - 150.0) / 150.0)));
        }
    }

    void push(const float *interleaved, std::int64_t frames) override { stage.push(interleaved, frames); }

private:
    void mask(const StftStream::Chunk &chunk, std::vector<float> &gains)
    {
        const int lowBins = static_cast<int>(lowPass.size());
        Hpss::magnitudes(chunk, magnitudes);
        Hpss::harmonic(chunk, magnitudes, timeHalfWidth, harmonic, lowBins);
        Hpss::percussive(chunk, magnitudes, frequencyHalfWidth, percussive, lowBins);
        std::fill(gains.begin(), gains.end(), 0.0f);
        for (int i = 0; i < chunk.count; ++i) {
            const std::complex<float> *left = chunk.at(chunk.first + i, 0);
            const std::complex<float> *right = chunk.at(chunk.first + i, channels == 2 ? 1 : 0);
            for (int k = 0; k < lowBins; ++k) {
                const size_t at = static_cast<size_t>(i) * chunk.bins + k;
                const float l = std::abs(left[k]);
                const float r = std::abs(right[k]);
                const float centre = l * l + r * r > 1e-12f ? 2.0f * l * r / (l * l + r * r) : 0.0f;
                gains[at] = lowPass[static_cast<size_t>(k)] * centre
                    * Hpss::softMask(harmonic[at], percussive[at], 1.0f);
            }
        }
    }

    const int channels;
    std::vector<float> lowPass;
    std::vector<float> magnitudes, harmonic, percussive;
    StftStream stage;
};

// Vocals in stereo or surround: the mid of left and right, or a surround file's centre channel.
class Centre final : public Method
{
public:
    Centre(const WavAudio &shape, Emit emit)
        : channels(shape.channels)
        , centre(centreChannel(shape))
        , emit(std::move(emit))
    { }

    void push(const float *interleaved, std::int64_t frames) override
    {
        out.assign(static_cast<size_t>(frames * channels), 0.0f);
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            const size_t base = static_cast<size_t>(frame * channels);
            if (centre >= 0) {
                out[base + centre] = interleaved[base + centre];
            } else {
                const float mid = (interleaved[base] + interleaved[base + 1]) / 2.0f;
                out[base] = mid;
                out[base + 1] = mid;
            }
        }
        emit(position, frames, out.data());
        position += frames;
    }

private:
    const int channels;
    const int centre;
    Emit emit;
    std::vector<float> out;
    std::int64_t position = 0;
};

// Guitar, piano, and vocals in mono: a band of the spectrum, by second-order filters.
class Band final : public Method
{
public:
    Band(const WavAudio &shape, double highPass, double lowPass, Emit emit)
        : channels(shape.channels)
        , emit(std::move(emit))
    {
        for (int c = 0; c < channels; ++c) {
            highs.emplace_back(true, highPass, shape.sampleRate);
            lows.emplace_back(false, lowPass, shape.sampleRate);
        }
    }

    void push(const float *interleaved, std::int64_t frames) override
    {
        out.resize(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < out.size(); ++i) {
            const size_t c = i % static_cast<size_t>(channels);
            out[i] = static_cast<float>(lows[c].process(highs[c].process(interleaved[i])));
        }
        emit(position, frames, out.data());
        position += frames;
    }

private:
    const int channels;
    Emit emit;
    std::vector<Biquad> highs, lows;
    std::vector<float> out;
    std::int64_t position = 0;
};

std::unique_ptr<Method> makeMethod(
    const std::string &instrument, const WavAudio &shape, std::int64_t frames, const History &history, Emit emit)
{
    if (instrument == "drums")
        return std::make_unique<Drums>(shape, frames, history, std::move(emit));
    if (instrument == "bass")
        return std::make_unique<Bass>(shape, frames, std::move(emit));
    if (instrument == "vocals" && shape.channels >= 2)
        return std::make_unique<Centre>(shape, std::move(emit));
    if (instrument == "guitar")
        return std::make_unique<Band>(shape, 200, 3000, std::move(emit));
    if (instrument == "piano")
        return std::make_unique<Band>(shape, 80, 5000, std::move(emit));
    return std::make_unique<Band>(shape, 250, 4000, std::move(emit)); // the voice band, for mono vocals
}

// Rounds the isolated part into the range where input - part still fits 16 bits, and takes the mix as
// that exact difference, so the two results add up to the input sample by sample. The range always
// holds 0 and the input itself, so it is never empty; only an instrument louder than 16 bits allow
// beside its input is clipped, and what it loses stays in the mix.
void store(const std::int16_t *input, const float *isolated, size_t count, std::int16_t *instrument,
    std::int16_t *mix)
{
    for (size_t i = 0; i < count; ++i) {
        const long sample = input[i];
        const long low = std::max(-32768L, sample - 32767L);
        const long high = std::min(32767L, sample + 32768L);
        const float value = isolated[i];
        const long part = std::isfinite(value)
            ? std::clamp(std::lround(std::clamp(value, -65536.0f, 65536.0f)), low, high)
            : 0L;
        instrument[i] = static_cast<std::int16_t>(part);
        mix[i] = static_cast<std::int16_t>(sample - part);
    }
}

} // namespace

namespace Separator {

bool isInstrument(const std::string &instrument)
{
    return instrument == "vocals" || instrument == "drums" || instrument == "bass" || instrument == "guitar"
        || instrument == "piano";
}

Outcome separate(const WavAudio &shape, std::int64_t frames, const std::string &instrument,
    const Reader &read, const Writer &write, const std::atomic<bool> *stop)
{
    const int channels = shape.channels;
    if (!isInstrument(instrument) || channels < 1 || shape.sampleRate < 1 || frames < 0)
        return Outcome::Failed;

    History history(channels);
    std::vector<std::int16_t> instrumentOut, mixOut;
    std::int64_t written = 0;
    bool writeFailed = false;
    const auto method = makeMethod(
        instrument, shape, frames, history, [&](std::int64_t start, std::int64_t count, const float *isolated) {
            if (writeFailed)
                return;
            const size_t samples = static_cast<size_t>(count * channels);
            instrumentOut.resize(samples);
            mixOut.resize(samples);
            store(history.at(start), isolated, samples, instrumentOut.data(), mixOut.data());
            if (!write(instrumentOut.data(), mixOut.data(), count))
                writeFailed = true;
            written = start + count;
            history.dropBefore(written);
        });

    std::vector<std::int16_t> block(static_cast<size_t>(blockFrames * channels));
    std::vector<float> input;
    for (std::int64_t done = 0; done < frames;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return Outcome::Stopped;
        if (writeFailed)
            return Outcome::Failed;
        const std::int64_t got = read(block.data(), std::min(blockFrames, frames - done));
        if (got <= 0)
            return Outcome::Failed;
        history.append(block.data(), got);
        input.assign(block.begin(), block.begin() + got * channels);
        method->push(input.data(), got);
        done += got;
    }
    return !writeFailed && written == frames ? Outcome::Done : Outcome::Failed;
}

bool split(const WavAudio &audio, const std::string &instrument, Parts &parts, const std::atomic<bool> *stop)
{
    const int channels = audio.channels;
    const std::int64_t frames = audio.frames();
    parts.instrument.resize(audio.samples.size());
    parts.mix.resize(audio.samples.size());
    std::int64_t readAt = 0;
    std::int64_t writeAt = 0;
    const Outcome outcome = separate(
        audio, frames, instrument,
        [&](std::int16_t *data, std::int64_t count) {
            std::copy_n(audio.samples.begin() + readAt * channels, count * channels, data);
            readAt += count;
            return count;
        },
        [&](const std::int16_t *instrumentPart, const std::int16_t *mixPart, std::int64_t count) {
            std::copy_n(instrumentPart, count * channels, parts.instrument.begin() + writeAt * channels);
            std::copy_n(mixPart, count * channels, parts.mix.begin() + writeAt * channels);
            writeAt += count;
            return true;
        },
        stop);
    return outcome == Outcome::Done;
}

Outcome splitFile(const std::string &inputPath, const std::string &instrument, const std::string &instrumentPath,
    const std::string &mixPath, std::string &error, const std::atomic<bool> *stop,
    const std::function<void(std::int64_t done, std::int64_t total)> &progress)
{
    error.clear();
    WavReader reader;
    WavAudio shape;
    if (!reader.open(inputPath, shape, error))
        return Outcome::Failed;
    WavWriter instrumentFile, mixFile;
    if (!instrumentFile.open(instrumentPath, shape, error) || !mixFile.open(mixPath, shape, error))
        return Outcome::Failed;
    const std::int64_t total = reader.frames();
    std::int64_t done = 0;
    bool readShort = false;
    bool writeFailed = false;
    Outcome outcome = separate(
        shape, total, instrument,
        [&](std::int16_t *data, std::int64_t count) {
            std::int64_t got = 0;
            while (got < count) {
                const std::int64_t more = reader.read(data + got * shape.channels, count - got);
                if (more <= 0)
                    break;
                got += more;
            }
            readShort = got < count;
            return got;
        },
        [&](const std::int16_t *instrumentPart, const std::int16_t *mixPart, std::int64_t count) {
            if (!instrumentFile.write(instrumentPart, count) || !mixFile.write(mixPart, count)) {
                writeFailed = true;
                return false;
            }
            done += count;
            if (progress)
                progress(done, total);
            return true;
        },
        stop);
    const bool closed = instrumentFile.close() & mixFile.close();
    if (outcome == Outcome::Done && !closed) {
        writeFailed = true;
        outcome = Outcome::Failed;
    }
    if (outcome == Outcome::Failed)
        error = readShort ? "The uploaded WAV file is truncated"
            : writeFailed ? "cannot write a result: disk full?"
                          : "the separation failed";
    return outcome;
}

} // namespace Separator
