#include "SyntheticMix.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// A note with partials falling as 1/k, a 10 ms attack and a slow decay.
void addNote(std::vector<double> &out, int channels, int rate, double start, double length, double f0,
    int partials, double level, double pan)
{
    const int from = static_cast<int>(start * rate);
    const int count = static_cast<int>(length * rate);
    for (int i = 0; i < count && from + i < static_cast<int>(out.size()) / channels; ++i) {
        const double t = double(i) / rate;
        const double envelope
            = std::min(1.0, t / 0.01) * std::exp(-1.5 * t) * std::min(1.0, (length - t) / 0.01);
        double value = 0.0;
        for (int k = 1; k <= partials; ++k)
            value += std::sin(2 * M_PI * f0 * k * t) / k;
        value *= level * envelope;
        out[static_cast<size_t>((from + i) * channels)] += value * (1.0 - pan);
        out[static_cast<size_t>((from + i) * channels + 1)] += value * pan;
    }
}

} // namespace

SyntheticMix SyntheticMix::make(unsigned seed, int sampleRate, double seconds)
{
    SyntheticMix mix;
    mix.sampleRate = sampleRate;
    const size_t count = static_cast<size_t>(seconds * sampleRate) * 2;
    mix.keys.assign(count, 0.0);
    mix.drums.assign(count, 0.0);
    mix.bass.assign(count, 0.0);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);

    const double keyNotes[] = { 220.0, 261.6, 329.6, 392.0, 440.0 };
    const double bassNotes[] = { 55.0, 61.7, 73.4, 82.4 };
    const double keyPan = 0.2 + 0.6 * uniform(random);
    for (double start = 0.0; start < seconds; start += 0.5) {
        addNote(mix.keys, 2, sampleRate, start, 0.5, keyNotes[random() % 5], 8, 5000.0, keyPan);
        addNote(mix.bass, 2, sampleRate, start, 0.5, bassNotes[random() % 4], 4, 5000.0, 0.5);
    }
    // A kick on the beat, a noise hit between.
    for (double start = 0.0; start < seconds; start += 0.25) {
        const bool kick = static_cast<int>(start * 4) % 2 == 0;
        const int from = static_cast<int>(start * sampleRate);
        for (int i = 0; i < sampleRate / 5 && from + i < static_cast<int>(count / 2); ++i) {
            const double t = double(i) / sampleRate;
            const double value = kick
                ? 9000.0 * std::exp(-t / 0.05) * std::sin(2 * M_PI * (50.0 + 80.0 * std::exp(-t / 0.03)) * t)
                : 3000.0 * std::exp(-t / 0.03) * noise(random);
            mix.drums[static_cast<size_t>(from + i) * 2] += value;
            mix.drums[static_cast<size_t>(from + i) * 2 + 1] += value;
        }
    }
    return mix;
}

std::vector<std::int16_t> SyntheticMix::mixture() const
{
    std::vector<std::int16_t> out(keys.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(
            std::lround(std::clamp(keys[i] + drums[i] + bass[i], -32768.0, 32767.0)));
    return out;
}

double siSdr(const std::vector<double> &reference, const std::vector<double> &estimate)
{
    double dot = 0.0, energy = 0.0;
    for (size_t i = 0; i < reference.size(); ++i) {
        dot += reference[i] * estimate[i];
        energy += reference[i] * reference[i];
    }
    const double scale = energy > 0.0 ? dot / energy : 0.0;
    double target = 0.0, error = 0.0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const double wanted = scale * reference[i];
        target += wanted * wanted;
        error += (estimate[i] - wanted) * (estimate[i] - wanted);
    }
    return 10.0 * std::log10((target + 1e-12) / (error + 1e-12));
}
