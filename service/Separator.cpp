#include "Separator.h"

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

// Each instrument's share of the spectrum; drums take the kick's lows and the cymbals' highs.
std::vector<Band> bandsFor(const std::string &instrument)
{
    if (instrument == "bass")
        return { { 0, 250 } };
    if (instrument == "drums")
        return { { 0, 120 }, { 5000, 0 } };
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
