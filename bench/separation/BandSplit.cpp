#include "BandSplit.h"

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

std::vector<Band> bandsFor(const std::string &instrument)
{
    if (instrument == "bass")
        return { { 0, 250 } };
    if (instrument == "drums")
        return { { 0, 120 }, { 5000, 0 } }; // the kick's lows and the cymbals' highs
    if (instrument == "guitar")
        return { { 200, 3000 } };
    if (instrument == "piano")
        return { { 80, 5000 } };
    return { { 250, 4000 } }; // the voice band, for mono vocals
}

int centreChannel(const WavAudio &audio)
{
    if (audio.channels < 3)
        return -1;
    for (size_t i = 0; i < audio.channelMap.size(); ++i) {
        if (audio.channelMap[i] == SF_CHANNEL_MAP_CENTER)
            return static_cast<int>(i);
    }
    return audio.channelMap.empty() ? 2 : -1;
}

} // namespace

namespace BandSplit {

std::vector<std::int16_t> isolate(const WavAudio &audio, const std::string &instrument)
{
    const size_t count = audio.samples.size();
    const int channels = audio.channels;
    std::vector<double> isolated(count, 0.0);
    if (instrument == "vocals" && channels >= 2) {
        const int centre = centreChannel(audio);
        for (size_t base = 0; base < count; base += static_cast<size_t>(channels)) {
            if (centre >= 0) {
                isolated[base + static_cast<size_t>(centre)]
                    = audio.samples[base + static_cast<size_t>(centre)];
            } else {
                const double mid = (audio.samples[base] + audio.samples[base + 1]) / 2.0;
                isolated[base] = mid;
                isolated[base + 1] = mid;
            }
        }
    } else {
        for (int channel = 0; channel < channels; ++channel) {
            for (const Band &band : bandsFor(instrument)) {
                Biquad high(true, band.highPass > 0 ? band.highPass : 1.0, audio.sampleRate);
                Biquad low(false, band.lowPass > 0 ? band.lowPass : 1.0, audio.sampleRate);
                for (size_t i = static_cast<size_t>(channel); i < count; i += static_cast<size_t>(channels)) {
                    double x = audio.samples[i];
                    if (band.highPass > 0)
                        x = high.process(x);
                    if (band.lowPass > 0)
                        x = low.process(x);
                    isolated[i] += x;
                }
            }
        }
    }

    std::vector<std::int16_t> part(count);
    for (size_t i = 0; i < count; ++i) {
        const long input = audio.samples[i];
        part[i] = static_cast<std::int16_t>(std::clamp(
            std::lround(isolated[i]), std::max(-32768L, input - 32767L), std::min(32767L, input + 32768L)));
    }
    return part;
}

} // namespace BandSplit
