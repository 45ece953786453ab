#include "SyntheticSong.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace {

constexpr double rate = SyntheticSong::sampleRate;
constexpr double twoPi = 2.0 * M_PI;

enum Stem { Vocals, Drums, Bass, Guitar, Piano };

// Drawn from the engine by hand: the standard distributions may differ between libraries, the engine
// does not.
double uniform(std::mt19937 &random, double low, double high)
{
    return low + (high - low) * (random() / 4294967296.0);
}

int pick(std::mt19937 &random, int count)
{
    return static_cast<int>(random() % static_cast<unsigned>(count));
}

double pitch(double midiNote)
{
    return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0);
}

// Adds a mono sound into a stereo stem at a constant-power pan from -1 (left) to 1 (right).
void place(std::vector<double> &stereo, const std::vector<double> &mono, std::int64_t start, double pan)
{
    const double left = std::cos((pan + 1.0) * M_PI / 4.0);
    const double right = std::sin((pan + 1.0) * M_PI / 4.0);
    const std::int64_t frames = static_cast<std::int64_t>(stereo.size()) / 2;
    for (size_t i = 0; i < mono.size(); ++i) {
        const std::int64_t frame = start + static_cast<std::int64_t>(i);
        if (frame < 0 || frame >= frames)
            continue;
        stereo[static_cast<size_t>(frame * 2)] += left * mono[i];
        stereo[static_cast<size_t>(frame * 2 + 1)] += right * mono[i];
    }
}

std::int64_t at(double seconds)
{
    return static_cast<std::int64_t>(std::lround(seconds * rate));
}

// The song's harmony: a key, a tempo and one chord root per bar, relative to the key.
struct Harmony
{
    int key = 0; // semitones above C
    double beat = 0.5; // seconds
    std::vector<int> roots; // per bar
    std::vector<bool> minor;

    double bar() const { return 4.0 * beat; }
    // The chord's notes as semitones above its root.
    std::vector<int> chord(int barIndex) const
    {
        return { 0, minor[static_cast<size_t>(barIndex)] ? 3 : 4, 7 };
    }
};

Harmony makeHarmony(std::mt19937 &random, double seconds)
{
    Harmony harmony;
    harmony.key = pick(random, 12);
    harmony.beat = 60.0 / uniform(random, 88.0, 132.0);
    // Degrees of the major scale with their chords' quality.
    const int degrees[] = { 0, 2, 4, 5, 7, 9 };
    const bool minorDegree[] = { false, true, true, false, false, true };
    const int bars = static_cast<int>(std::ceil(seconds / harmony.bar())) + 1;
    for (int b = 0; b < bars; ++b) {
        const int degree = b % 4 == 0 ? 0 : pick(random, 6);
        harmony.roots.push_back(degrees[degree]);
        harmony.minor.push_back(minorDegree[degree]);
    }
    return harmony;
}

// A sung line: harmonic tones whose partials are shaped by a vowel's three formants, with vibrato that
// sets in after the onset, sung in phrases with rests between.
void sing(std::vector<double> &out, std::mt19937 &random, const Harmony &harmony, double seconds, double pan)
{
    struct Vowel
    {
        double formant[3];
    };
    const Vowel vowels[] = { { { 800, 1150, 2900 } }, { { 400, 1600, 2700 } }, { { 350, 2000, 2800 } },
        { { 450, 800, 2830 } }, { { 325, 700, 2530 } } };
    const double bandwidth[] = { 80, 100, 140 };
    const double weight[] = { 1.0, 0.7, 0.4 };
    const int scale[] = { 0, 2, 4, 5, 7, 9, 11 };
    const double vibratoRate = uniform(random, 4.8, 6.4);
    const double vibratoDepth = uniform(random, 0.25, 0.6); // semitones
    const int lowest = 55 + pick(random, 8);

    int step = pick(random, 7);
    for (int b = 0; b * harmony.bar() < seconds; ++b) {
        if (uniform(random, 0, 1) < 0.25)
            continue; // a breath
        double time = b * harmony.bar();
        while (time < (b + 1) * harmony.bar() - 0.1) {
            const double length = harmony.beat * (pick(random, 3) == 0 ? 0.5 : 1.0 + pick(random, 2));
            step = std::clamp(step + pick(random, 5) - 2, 0, 13);
            const double f = pitch(lowest + harmony.key + 12 * (step / 7) + scale[step % 7]);
            const Vowel &vowel = vowels[pick(random, 5)];
            const int partials = std::max(1, static_cast<int>(8000.0 / f));
            std::vector<double> amplitude(static_cast<size_t>(partials) + 1, 0.0);
            for (int k = 1; k <= partials; ++k) {
                double gain = 0.03;
                for (int i = 0; i < 3; ++i) {
                    const double distance = (k * f - vowel.formant[i]) / (bandwidth[i] / 2.0);
                    gain += weight[i] / (1.0 + distance * distance);
                }
                amplitude[static_cast<size_t>(k)] = gain / std::pow(k, 0.6);
            }
            const double sung = length - 0.04;
            std::vector<double> note(static_cast<size_t>(at(sung)), 0.0);
            double phase = uniform(random, 0, twoPi);
            for (size_t n = 0; n < note.size(); ++n) {
                const double t = n / rate;
                const double onset = std::min(1.0, std::max(0.0, (t - 0.15) / 0.2));
                const double bend = onset * vibratoDepth * std::sin(twoPi * vibratoRate * t);
                phase += twoPi * f * std::pow(2.0, bend / 12.0) / rate;
                const double envelope = std::min(1.0, t / 0.04) * std::min(1.0, (sung - t) / 0.06)
                    * (1.0 + 0.1 * onset * std::sin(twoPi * vibratoRate * t));
                // sin(k phase) by the Chebyshev recurrence: one sine and one cosine per sample.
                const double s1 = std::sin(phase), c1 = std::cos(phase);
                double previous = 0.0, current = s1, value = 0.0;
                for (int k = 1; k <= partials; ++k) {
                    value += amplitude[static_cast<size_t>(k)] * current;
                    const double next = 2.0 * c1 * current - previous;
                    previous = current;
                    current = next;
                }
                note[n] = envelope * value;
            }
            place(out, note, at(time), pan);
            time += length;
        }
    }
}

// Kick, snare and hats on a sixteenth grid; kick and snare in the centre, the hats to one side.
void drum(
    std::vector<double> &out, std::mt19937 &random, const Harmony &harmony, double seconds, bool allCentre)
{
    const double hatPan = allCentre ? 0.0 : (pick(random, 2) ? 1 : -1) * uniform(random, 0.2, 0.5);
    const double snarePan = allCentre ? 0.0 : uniform(random, -0.1, 0.1);
    const double sixteenth = harmony.beat / 4.0;
    for (int s = 0; s * sixteenth < seconds; ++s) {
        const int position = s % 16;
        const std::int64_t start = at(s * sixteenth);
        const bool kick
            = position == 0 || position == 8 || ((position == 6 || position == 10) && pick(random, 3) == 0);
        if (kick) {
            std::vector<double> hit(static_cast<size_t>(at(0.4)));
            double phase = 0.0;
            for (size_t n = 0; n < hit.size(); ++n) {
                const double t = n / rate;
                phase += twoPi * (45.0 + 90.0 * std::exp(-t / 0.025)) / rate;
                hit[n] = std::exp(-t / 0.16) * std::sin(phase)
                    + (t < 0.003 ? 0.3 * uniform(random, -1, 1) : 0.0);
            }
            place(out, hit, start, 0.0);
        }
        if (position == 4 || position == 12) {
            std::vector<double> hit(static_cast<size_t>(at(0.3)));
            double low = 0.0;
            for (size_t n = 0; n < hit.size(); ++n) {
                const double t = n / rate;
                const double noise = uniform(random, -1, 1);
                low += 0.1 * (noise - low);
                hit[n] = 0.5 * std::exp(-t / 0.05) * std::sin(twoPi * 185.0 * t)
                    + 0.8 * std::exp(-t / 0.09) * (noise - low);
            }
            place(out, hit, start, snarePan);
        }
        if (position % 2 == 0) {
            const bool open = position == 14 && pick(random, 2) == 0;
            const double level = uniform(random, 0.15, 0.3);
            std::vector<double> hit(static_cast<size_t>(at(open ? 0.3 : 0.08)));
            double last = 0.0, lastDifference = 0.0;
            for (size_t n = 0; n < hit.size(); ++n) {
                const double t = n / rate;
                // Twice differenced noise: little left below a few kilohertz.
                const double noise = uniform(random, -1, 1);
                const double difference = noise - last;
                hit[n] = level * std::exp(-t / (open ? 0.12 : 0.025)) * (difference - lastDifference);
                last = noise;
                lastDifference = difference;
            }
            place(out, hit, start, hatPan);
        }
    }
}

// A picked bass line on the chords' roots, now and then a fifth or an octave.
void playBass(
    std::vector<double> &out, std::mt19937 &random, const Harmony &harmony, double seconds, double pan)
{
    const int lowest = 28 + 5 * pick(random, 2); // E1 or A1
    const double eighth = harmony.beat / 2.0;
    for (int e = 0; e * eighth < seconds; ++e) {
        if (e % 2 == 1 && pick(random, 2) == 0)
            continue;
        const int bar = static_cast<int>(e * eighth / harmony.bar());
        const int interval = pick(random, 6) == 0 ? 7 : (pick(random, 8) == 0 ? 12 : 0);
        const double f
            = pitch(lowest + (harmony.key + harmony.roots[static_cast<size_t>(bar)]) % 12 + interval);
        const double length = (e % 2 == 0 ? 2.0 : 1.0) * eighth - 0.02;
        std::vector<double> note(static_cast<size_t>(at(length)), 0.0);
        for (int k = 1; k <= 12 && k * f < 5000.0; ++k) {
            const double amplitude = 1.0 / std::pow(k, 1.3);
            for (size_t n = 0; n < note.size(); ++n) {
                const double t = n / rate;
                note[n] += amplitude * std::exp(-t * (1.0 + 0.8 * k)) * std::sin(twoPi * k * f * t);
            }
        }
        for (size_t n = 0; n < note.size(); ++n) {
            const double t = n / rate;
            note[n] *= std::min(1.0, t / 0.005) * std::min(1.0, (length - t) / 0.02);
        }
        place(out, note, at(e * eighth), pan);
    }
}

// Strummed chords, each string a plucked delay line (Karplus-Strong): harmonics that decay, the high
// ones first.
void strum(std::vector<double> &out, std::mt19937 &random, const Harmony &harmony, double seconds, double pan)
{
    const double decay = uniform(random, 0.994, 0.998);
    const int perBar = 1 + pick(random, 3);
    const double every = harmony.bar() / perBar;
    for (int s = 0; s * every < seconds; ++s) {
        const int bar = static_cast<int>(s * every / harmony.bar());
        const std::vector<int> chord = harmony.chord(bar);
        const int root = 52 + (harmony.key + harmony.roots[static_cast<size_t>(bar)]) % 12;
        const bool down = pick(random, 2) == 0;
        for (int string = 0; string < 4; ++string) {
            const int index = down ? string : 3 - string;
            const double f = pitch(root + chord[static_cast<size_t>(index % 3)] + 12 * (index / 3));
            const double length = every - 0.03 * string;
            const int period = std::max(2, static_cast<int>(std::lround(rate / f)));
            // A soft pick: the noise the string starts from, low-passed.
            std::vector<double> line(static_cast<size_t>(period));
            double mean = 0.0, soft = 0.0, softer = 0.0;
            for (double &sample : line) {
                soft += 0.4 * (uniform(random, -1, 1) - soft);
                softer += 0.4 * (soft - softer);
                sample = softer;
                mean += sample / period;
            }
            for (double &sample : line)
                sample -= mean;
            std::vector<double> note(static_cast<size_t>(at(length)), 0.0);
            size_t head = 0;
            for (size_t n = 0; n < note.size(); ++n) {
                const double t = n / rate;
                const size_t next = (head + 1) % line.size();
                const double sample = line[head];
                line[head] = decay * 0.5 * (sample + line[next]);
                head = next;
                note[n] = sample * std::min(1.0, (length - t) / 0.03);
            }
            place(out, note, at(s * every + 0.015 * string), pan);
        }
    }
}

// Chords of struck strings: partials stretched above the harmonic series (f_k = k f sqrt(1 + B k²)),
// each decaying faster than the one below.
void playPiano(
    std::vector<double> &out, std::mt19937 &random, const Harmony &harmony, double seconds, double pan)
{
    const double inharmonicity = uniform(random, 2e-4, 8e-4);
    const int perBar = 1 + pick(random, 2);
    const double every = harmony.bar() / perBar;
    for (int s = 0; s * every < seconds; ++s) {
        const int bar = static_cast<int>(s * every / harmony.bar());
        const std::vector<int> chord = harmony.chord(bar);
        const int root
            = 60 + (harmony.key + harmony.roots[static_cast<size_t>(bar)]) % 12 - 12 * pick(random, 2);
        for (int voice = 0; voice < 3; ++voice) {
            const double f = pitch(root + chord[static_cast<size_t>(voice)] + (voice == 0 ? 12 : 0));
            const double length = every + 0.1;
            std::vector<double> note(static_cast<size_t>(at(length)), 0.0);
            for (int k = 1; k <= 20; ++k) {
                const double partial = k * f * std::sqrt(1.0 + inharmonicity * k * k);
                if (partial > 10000.0)
                    break;
                const double amplitude = 1.0 / k;
                const double damping = 0.6 + 0.35 * k;
                const std::complex<double> turn = std::polar(1.0, twoPi * partial / rate);
                std::complex<double> phasor = std::polar(1.0, uniform(random, 0, twoPi));
                for (size_t n = 0; n < note.size(); ++n) {
                    note[n] += amplitude * std::exp(-damping * n / rate) * phasor.imag();
                    phasor *= turn;
                }
            }
            for (size_t n = 0; n < note.size(); ++n) {
                const double t = n / rate;
                note[n] *= std::min(1.0, t / 0.002) * std::min(1.0, (length - t) / 0.1);
            }
            place(out, note, at(s * every), pan);
        }
    }
}

double rms(const std::vector<double> &samples)
{
    double sum = 0.0;
    for (const double sample : samples)
        sum += sample * sample;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

} // namespace

SyntheticSong SyntheticSong::make(unsigned seed, double seconds, bool allCentre)
{
    SyntheticSong song;
    song.centred = allCentre;
    std::mt19937 random(seed);
    const size_t samples = static_cast<size_t>(at(seconds)) * channels;
    for (std::vector<double> &stem : song.stems)
        stem.assign(samples, 0.0);

    const Harmony harmony = makeHarmony(random, seconds);
    const double side = pick(random, 2) ? 1.0 : -1.0;
    auto panned = [&](double low, double high, double towards) {
        return allCentre ? 0.0 : towards * uniform(random, low, high);
    };
    const double vocalPan = panned(-0.1, 0.1, 1.0);
    const double bassPan = panned(-0.1, 0.1, 1.0);
    const double guitarPan = panned(0.3, 0.8, side);
    const double pianoPan = panned(0.2, 0.7, -side);

    sing(song.stems[Vocals], random, harmony, seconds, vocalPan);
    drum(song.stems[Drums], random, harmony, seconds, allCentre);
    playBass(song.stems[Bass], random, harmony, seconds, bassPan);
    strum(song.stems[Guitar], random, harmony, seconds, guitarPan);
    playPiano(song.stems[Piano], random, harmony, seconds, pianoPan);

    // Each stem to its own loudness, then all together to a peak well below full scale.
    const double levels[][2] = { { 0, 3 }, { -2, 2 }, { -3, 1 }, { -5, 0 }, { -5, 0 } };
    for (size_t i = 0; i < song.stems.size(); ++i) {
        const double level = rms(song.stems[i]);
        const double gain
            = level > 0.0 ? std::pow(10.0, uniform(random, levels[i][0], levels[i][1]) / 20.0) / level : 0.0;
        for (double &sample : song.stems[i])
            sample *= gain;
    }
    double peak = 0.0;
    for (size_t i = 0; i < samples; ++i) {
        double sum = 0.0;
        for (const std::vector<double> &stem : song.stems)
            sum += stem[i];
        peak = std::max(peak, std::abs(sum));
    }
    const double scale = peak > 0.0 ? 0.7 * 32767.0 / peak : 0.0;
    for (std::vector<double> &stem : song.stems)
        for (double &sample : stem)
            sample *= scale;
    return song;
}

const std::vector<std::string> &SyntheticSong::instruments()
{
    static const std::vector<std::string> names = { "vocals", "drums", "bass", "guitar", "piano" };
    return names;
}

const std::vector<double> &SyntheticSong::stem(const std::string &instrument) const
{
    static const std::vector<double> none;
    const std::vector<std::string> &names = instruments();
    const auto found = std::find(names.begin(), names.end(), instrument);
    return found == names.end() ? none : stems[static_cast<size_t>(found - names.begin())];
}

std::vector<std::int16_t> SyntheticSong::mixture() const
{
    std::vector<std::int16_t> out(stems[0].size());
    for (size_t i = 0; i < out.size(); ++i) {
        double sum = 0.0;
        for (const std::vector<double> &stem : stems)
            sum += stem[i];
        out[i] = static_cast<std::int16_t>(std::lround(sum));
    }
    return out;
}

std::int64_t SyntheticSong::frames() const
{
    return static_cast<std::int64_t>(stems[0].size()) / channels;
}
