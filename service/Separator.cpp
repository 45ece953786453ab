#include "Separator.h"

#include "Hpss.h"
#include "Stft.h"
#include "WavAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace {

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

struct Band
{
    double highPass; // 0: none
    double lowPass; // 0: none
};

// Each remaining instrument's share of the spectrum.
std::vector<Band> bandsFor(const std::string &instrument)
{
    if (instrument == "guitar")
        return { { 200, 3000 } };
    if (instrument == "piano")
        return { { 80, 5000 } };
    return { { 250, 4000 } }; // the voice band, for mono vocals
}

// Frames between two looks at the stop flag: a few milliseconds of work.
constexpr std::int64_t chunkFrames = 1 << 16;

bool stopped(const std::atomic<bool> *stop, std::int64_t index)
{
    return index % chunkFrames == 0 && stop && stop->load(std::memory_order_relaxed);
}

bool filterChannel(const WavAudio &audio, int channel, const std::vector<Band> &bands,
    std::vector<double> &out, const std::atomic<bool> *stop)
{
    const std::int64_t frames = audio.frames();
    out.assign(static_cast<size_t>(frames), 0.0);
    for (const Band &band : bands) {
        Biquad high(true, band.highPass > 0 ? band.highPass : 1.0, audio.sampleRate);
        Biquad low(false, band.lowPass > 0 ? band.lowPass : 1.0, audio.sampleRate);
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            if (stopped(stop, frame))
                return false;
            double x = audio.samples[static_cast<size_t>(frame * audio.channels + channel)];
            if (band.highPass > 0)
                x = high.process(x);
            if (band.lowPass > 0)
                x = low.process(x);
            out[static_cast<size_t>(frame)] += x;
        }
    }
    return true;
}

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

// Rounds the isolated part into the range where input - part still fits 16 bits, and takes the mix as
// that exact difference, so the two results add up to the input sample by sample.
void store(const WavAudio &audio, size_t first, size_t count, const float *isolated, Separator::Parts &parts)
{
    for (size_t i = 0; i < count; ++i) {
        const long input = audio.samples[first + i];
        const long low = std::max(-32768L, input - 32767L);
        const long high = std::min(32767L, input + 32768L);
        const long part = std::clamp(std::lround(isolated[i]), low, high);
        parts.instrument[first + i] = static_cast<std::int16_t>(part);
        parts.mix[first + i] = static_cast<std::int16_t>(input - part);
    }
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

// Feeds the whole input to the first stage a slice at a time, looking at the stop flag in between.
bool feed(const WavAudio &audio, StftStream &stage, const std::atomic<bool> *stop)
{
    std::vector<float> slice;
    const std::int64_t frames = audio.frames();
    for (std::int64_t start = 0; start < frames; start += maskFrames * 256) {
        if (stop && stop->load(std::memory_order_relaxed))
            return false;
        const std::int64_t count = std::min<std::int64_t>(maskFrames * 256, frames - start);
        const auto begin = audio.samples.begin() + start * audio.channels;
        slice.assign(begin, begin + count * audio.channels);
        stage.push(slice.data(), count);
    }
    return true;
}

// Drums: a long frame keeps the sustained notes with a margin; what is left is split again with a
// short frame, fine in time, and its percussive part is the drums.
bool drums(const WavAudio &audio, Separator::Parts &parts, const std::atomic<bool> *stop)
{
    const int channels = audio.channels;
    const std::int64_t frames = audio.frames();
    const int size = longFrame(audio.sampleRate);

    std::vector<float> magnitudes, harmonic, percussive;
    auto keep = [&](bool wantHarmonic, int timeWidth, int frequencyWidth, float margin) {
        return [&, wantHarmonic, timeWidth, frequencyWidth, margin](
                   const StftStream::Chunk &chunk, std::vector<float> &gains) {
            Hpss::magnitudes(chunk, magnitudes);
            Hpss::harmonic(chunk, magnitudes, timeWidth, harmonic);
            Hpss::percussive(chunk, magnitudes, frequencyWidth, percussive);
            for (size_t i = 0; i < gains.size(); ++i)
                gains[i] = wantHarmonic ? Hpss::softMask(harmonic[i], percussive[i], margin)
                                        : Hpss::softMask(percussive[i], harmonic[i], margin);
        };
    };

    StftStream percussiveStage(channels, frames, size / 4, shortTimeHalfWidth, maskFrames * 4,
        keep(false, shortTimeHalfWidth, shortFrequencyHalfWidth, 1.0f),
        [&](std::int64_t start, std::int64_t count, const float *data) {
            store(audio, static_cast<size_t>(start * channels), static_cast<size_t>(count * channels), data,
                parts);
        });
    std::vector<float> rest;
    StftStream harmonicStage(channels, frames, size, timeHalfWidth, maskFrames,
        keep(true, timeHalfWidth, frequencyHalfWidth, 2.0f),
        [&](std::int64_t start, std::int64_t count, const float *data) {
            rest.resize(static_cast<size_t>(count * channels));
            const std::int16_t *input = audio.samples.data() + start * channels;
            for (size_t i = 0; i < rest.size(); ++i)
                rest[i] = input[i] - data[i];
            percussiveStage.push(rest.data(), count);
        });
    return feed(audio, harmonicStage, stop);
}

// Bass: the sustained part of the lows, full below 150 Hz and gone by 300 Hz, weighted by how alike
// left and right are, since the bass sits in the centre.
bool bass(const WavAudio &audio, Separator::Parts &parts, const std::atomic<bool> *stop)
{
    const int channels = audio.channels;
    const int size = longFrame(audio.sampleRate);
    const double binWidth = double(audio.sampleRate) / size;
    std::vector<float> lowPass;
    for (int k = 0; k * binWidth < 300.0; ++k) {
        const double f = k * binWidth;
        lowPass.push_back(
            f <= 150.0 ? 1.0f : static_cast<float>(0.5 + 0.5 * std::cos(M_PI * (f - 150.0) / 150.0)));
    }
    const int lowBins = static_cast<int>(lowPass.size());

    std::vector<float> magnitudes, harmonic, percussive;
    StftStream stage(
        channels, audio.frames(), size, timeHalfWidth, maskFrames,
        [&](const StftStream::Chunk &chunk, std::vector<float> &gains) {
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
        },
        [&](std::int64_t start, std::int64_t count, const float *data) {
            store(audio, static_cast<size_t>(start * channels), static_cast<size_t>(count * channels), data,
                parts);
        });
    return feed(audio, stage, stop);
}

} // namespace

namespace Separator {

bool isInstrument(const std::string &instrument)
{
    return instrument == "vocals" || instrument == "drums" || instrument == "bass" || instrument == "guitar"
        || instrument == "piano";
}

bool split(const WavAudio &audio, const std::string &instrument, Parts &parts, const std::atomic<bool> *stop)
{
    const size_t count = audio.samples.size();
    const int channels = audio.channels;
    if (instrument == "drums" || instrument == "bass") {
        parts.instrument.resize(count);
        parts.mix.resize(count);
        return instrument == "drums" ? drums(audio, parts, stop) : bass(audio, parts, stop);
    }
    std::vector<double> isolated(count, 0.0);

    if (instrument == "vocals" && channels >= 2) {
        const int centre = centreChannel(audio);
        for (size_t frame = 0; frame * channels < count; ++frame) {
            if (stopped(stop, static_cast<std::int64_t>(frame)))
                return false;
            const size_t base = frame * channels;
            if (centre >= 0) {
                isolated[base + centre] = audio.samples[base + centre];
            } else {
                const double mid = (audio.samples[base] + audio.samples[base + 1]) / 2.0;
                isolated[base] = mid;
                isolated[base + 1] = mid;
            }
        }
    } else {
        const std::vector<Band> bands = bandsFor(instrument);
        std::vector<double> filtered;
        for (int channel = 0; channel < channels; ++channel) {
            if (!filterChannel(audio, channel, bands, filtered, stop))
                return false;
            for (size_t frame = 0; frame < filtered.size(); ++frame)
                isolated[frame * channels + channel] = filtered[frame];
        }
    }

    // Round the isolated part into the range where input - part still fits 16 bits, then take the mix
    // as that exact difference, so the two results add up to the input sample by sample.
    parts.instrument.resize(count);
    parts.mix.resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (stopped(stop, static_cast<std::int64_t>(i)))
            return false;
        const long input = audio.samples[i];
        const long low = std::max(-32768L, input - 32767L);
        const long high = std::min(32767L, input + 32768L);
        const long part = std::clamp(std::lround(isolated[i]), low, high);
        parts.instrument[i] = static_cast<std::int16_t>(part);
        parts.mix[i] = static_cast<std::int16_t>(input - part);
    }
    return true;
}

} // namespace Separator
