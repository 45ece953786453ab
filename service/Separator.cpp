#include "Separator.h"

#include "Hpss.h"
#include "MaskModel.h"
#include "ModelMethod.h"
#include "Stft.h"
#include "WavAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

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
        samples.erase(
            samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>((frame - base) * channels));
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
    // Set when the method gave up on the song; error says why.
    virtual bool failed(std::string &error) const
    {
        error.clear();
        return false;
    }
};

// About 90 ms frames: fine enough in frequency to tell notes apart.
int longFrame(int sampleRate)
{
    return sampleRate > 32000 ? 4096 : 2048;
}

// Median windows of the long frames: 17 frames (about 0.4 s) along time, 17 bins along frequency.
constexpr int timeHalfWidth = 8;
constexpr int frequencyHalfWidth = 8;
// The short frames' windows: longer in time than the long ones (about 0.6 s), and a few bins across, so
// that a kick only a few bins wide still reads as a hit.
constexpr int shortTimeHalfWidth = 36;
constexpr int shortFrequencyHalfWidth = 3;
// The drums' long frames look across 7 bins only: a kick or a tom is narrow there, and a wider window
// would call its body sustained and hand it to the notes.
constexpr int drumsFrequencyHalfWidth = 3;
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
        , percussiveStage(channels, frames, longFrame(shape.sampleRate) / 4, shortTimeHalfWidth,
              maskFrames * 4, keep(false, shortTimeHalfWidth, shortFrequencyHalfWidth, 1.0f), std::move(emit))
        , harmonicStage(channels, frames, longFrame(shape.sampleRate), timeHalfWidth, maskFrames,
              keep(true, timeHalfWidth, drumsFrequencyHalfWidth, 2.0f),
              [this, &history](std::int64_t start, std::int64_t count, const float *data) {
                  rest.resize(static_cast<size_t>(count * channels));
                  const std::int16_t *input = history.at(start);
                  for (size_t i = 0; i < rest.size(); ++i)
                      rest[i] = input[i] - data[i];
                  percussiveStage.push(rest.data(), count);
              })
    { }

    void push(const float *interleaved, std::int64_t frames) override
    {
        harmonicStage.push(interleaved, frames);
    }

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
        , stage(
              channels, frames, longFrame(shape.sampleRate), timeHalfWidth, maskFrames,
              [this](const StftStream::Chunk &chunk, std::vector<float> &gains) { mask(chunk, gains); },
              std::move(emit))
    {
        const int size = longFrame(shape.sampleRate);
        const double binWidth = double(shape.sampleRate) / size;
        // Never more bins than the spectrum has, whatever the rate.
        for (int k = 0; k * binWidth < 300.0 && k <= size / 2; ++k) {
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

// Vocals, guitar and piano: soft masks on the long frames of one stage, from what each bin is like.
// - vocals: the centre (left and right alike, in stereo) between about 120 Hz and 8 kHz, times the part
//   that is not percussive, refined by a repeating background: the median of the frames most like this
//   one within a few seconds, which a voice, changing all the time, is not part of.
// - guitar and piano: the harmonic part without the vocals and the bass, shared between the two by
//   templates fitted to every frame (plucked strings: harmonic partials that fade with height; piano:
//   partials stretched above the harmonic series) and, in stereo, by the side each sits on.
// The repeating background: the 16 frames most like this one, from 1.4 s to 3 s away on either side (a
// sung note lasts less; a bar of the accompaniment comes back within it), each kept with a margin of 0.5.
constexpr int repeatHalfWindow = 128;
constexpr int repeatNeighbours = 16;
constexpr int repeatMinimumDistance = 60;
constexpr float repeatMargin = 0.5f;
// Width of the centre, in pan units (-1 left, 1 right): a voice panned 0.1 keeps 78 %.
constexpr float centreWidth = 0.2f;

class Tonal final : public Method
{
public:
    Tonal(const WavAudio &shape, std::int64_t frames, std::string instrument, Emit emit)
        : channels(shape.channels)
        , instrument(std::move(instrument))
        , size(longFrame(shape.sampleRate))
        , binHz(double(shape.sampleRate) / size)
        , stage(
              channels, frames, size, repeatHalfWindow, maskFrames,
              [this](const StftStream::Chunk &chunk, std::vector<float> &gains) { mask(chunk, gains); },
              std::move(emit))
    {
        const int bins = size / 2 + 1;
        voiceBand.resize(static_cast<size_t>(bins));
        lowCut.resize(static_cast<size_t>(bins));
        for (int k = 0; k < bins; ++k) {
            const double f = k * binHz;
            const double low = std::clamp((f - 100.0) / 60.0, 0.0, 1.0);
            const double high = std::clamp((9000.0 - f) / 2000.0, 0.0, 1.0);
            voiceBand[static_cast<size_t>(k)] = static_cast<float>(low * high);
            lowCut[static_cast<size_t>(k)] = static_cast<float>(std::clamp((f - 60.0) / 60.0, 0.0, 1.0));
        }
        featureBins = std::min(bins, static_cast<int>(5000.0 / binHz));
        if (this->instrument != "vocals")
            buildTemplates();
    }

    void push(const float *interleaved, std::int64_t frames) override { stage.push(interleaved, frames); }

private:
    bool stereo() const { return channels == 2; }

    // Where in the stereo field a bin sits: -1 left, 0 centre, 1 right.
    static float panOf(std::complex<float> left, std::complex<float> right)
    {
        const float l = std::abs(left);
        const float r = std::abs(right);
        return l + r > 1e-9f ? static_cast<float>(4.0 / M_PI * std::atan2(r, l) - 1.0) : 0.0f;
    }

    void mask(const StftStream::Chunk &chunk, std::vector<float> &gains)
    {
        const int bins = chunk.bins;
        Hpss::magnitudes(chunk, magnitudes);
        Hpss::harmonic(chunk, magnitudes, timeHalfWidth, harmonic);
        Hpss::percussive(chunk, magnitudes, frequencyHalfWidth, percussive);
        repeating(chunk);

        pans.assign(static_cast<size_t>(chunk.count) * bins, 0.0f);
        if (stereo()) {
            for (int i = 0; i < chunk.count; ++i) {
                const std::complex<float> *left = chunk.at(chunk.first + i, 0);
                const std::complex<float> *right = chunk.at(chunk.first + i, 1);
                for (int k = 0; k < bins; ++k)
                    pans[static_cast<size_t>(i) * bins + k] = panOf(left[k], right[k]);
            }
        }
        vocals.resize(gains.size());
        for (int i = 0; i < chunk.count; ++i) {
            const float *row = magnitudes.data() + static_cast<size_t>(chunk.first + i) * bins;
            for (int k = 0; k < bins; ++k) {
                const size_t at = static_cast<size_t>(i) * bins + k;
                const float pan = pans[at] / centreWidth;
                const float centre = stereo() ? std::exp(-pan * pan) : 1.0f;
                const float steady = Hpss::softMask(harmonic[at], percussive[at], 1.0f);
                const float moving = Hpss::softMask(row[k] - background[at], background[at], repeatMargin);
                vocals[at] = voiceBand[static_cast<size_t>(k)] * centre * steady * moving;
            }
        }
        if (instrument == "vocals") {
            gains = vocals;
            return;
        }
        strings(chunk, gains);
    }

    // The repeating background of each frame to mask: per bin, the median of the frames most like it
    // within the window.
    void repeating(const StftStream::Chunk &chunk)
    {
        const int bins = chunk.bins;
        features.assign(static_cast<size_t>(chunk.frames) * featureBins, 0.0f);
        for (int f = 0; f < chunk.frames; ++f) {
            const float *row = magnitudes.data() + static_cast<size_t>(f) * bins;
            float *feature = features.data() + static_cast<size_t>(f) * featureBins;
            double norm = 0.0;
            for (int k = 0; k < featureBins; ++k) {
                feature[k] = std::sqrt(row[k]);
                norm += double(feature[k]) * feature[k];
            }
            const float scale = norm > 0.0 ? static_cast<float>(1.0 / std::sqrt(norm)) : 0.0f;
            for (int k = 0; k < featureBins; ++k)
                feature[k] *= scale;
        }
        background.assign(static_cast<size_t>(chunk.count) * bins, 0.0f);
        std::vector<std::pair<float, int>> similar;
        std::vector<float> values;
        for (int i = 0; i < chunk.count; ++i) {
            const int frame = chunk.first + i;
            const float *own = features.data() + static_cast<size_t>(frame) * featureBins;
            similar.clear();
            for (int f = std::max(0, frame - repeatHalfWindow);
                 f < std::min(chunk.frames, frame + repeatHalfWindow + 1); ++f) {
                if (std::abs(f - frame) < repeatMinimumDistance)
                    continue;
                const float *other = features.data() + static_cast<size_t>(f) * featureBins;
                float dot = 0.0f;
                for (int k = 0; k < featureBins; ++k)
                    dot += own[k] * other[k];
                similar.emplace_back(-dot, f);
            }
            const int keep = std::min<int>(repeatNeighbours, static_cast<int>(similar.size()));
            std::partial_sort(similar.begin(), similar.begin() + keep, similar.end());
            const float *row = magnitudes.data() + static_cast<size_t>(frame) * bins;
            float *out = background.data() + static_cast<size_t>(i) * bins;
            for (int k = 0; k < bins; ++k) {
                if (keep == 0) {
                    out[k] = 0.0f;
                    continue;
                }
                values.resize(static_cast<size_t>(keep));
                for (int n = 0; n < keep; ++n)
                    values[static_cast<size_t>(n)]
                        = magnitudes[static_cast<size_t>(similar[static_cast<size_t>(n)].second) * bins + k];
                std::nth_element(values.begin(), values.begin() + keep / 2, values.end());
                out[k] = std::min(values[static_cast<size_t>(keep / 2)], row[k]);
            }
        }
    }

    struct Template
    {
        bool guitar = false;
        int first = 0; // bin of the first value
        std::vector<float> values;
    };

    // Spreads one partial over the bins its window reaches.
    void addPartial(std::vector<float> &spectrum, double frequency, double amplitude) const
    {
        const double centre = frequency / binHz;
        for (int k = static_cast<int>(centre) - 2; k <= static_cast<int>(centre) + 3; ++k) {
            if (k < 0 || k >= static_cast<int>(spectrum.size()))
                continue;
            const double distance = (k - centre) / 0.9;
            spectrum[static_cast<size_t>(k)]
                += static_cast<float>(amplitude * std::exp(-0.5 * distance * distance));
        }
    }

    void buildTemplates()
    {
        lowBin = static_cast<int>(70.0 / binHz);
        highBin = std::min(size / 2, static_cast<int>(5000.0 / binHz));
        lowBin = std::min(lowBin, highBin);
        const int span = highBin - lowBin;
        const auto add = [&](bool guitar, double f0, double stretch, double tilt) {
            std::vector<float> spectrum(static_cast<size_t>(highBin + 4), 0.0f);
            for (int k = 1; k <= 40; ++k) {
                const double partial = k * f0 * std::sqrt(1.0 + stretch * k * k);
                if (partial >= highBin * binHz)
                    break;
                addPartial(spectrum, partial, std::pow(k, -tilt));
            }
            Template shape;
            shape.guitar = guitar;
            shape.values.assign(spectrum.begin() + lowBin, spectrum.begin() + highBin);
            double norm = 0.0;
            for (const float v : shape.values)
                norm += double(v) * v;
            for (float &v : shape.values)
                v = static_cast<float>(v / std::sqrt(std::max(norm, 1e-12)));
            templates.push_back(std::move(shape));
        };
        // Guitar: E3 to about C6, quarter tones (a plucked string is seldom exactly in tune), harmonic
        // partials fading with height.
        for (double note = 50.0; note <= 84.0; note += 0.5)
            add(true, 440.0 * std::pow(2.0, (note - 69.0) / 12.0), 0.0, 1.1);
        // Piano: two octaves lower too, partials stretched by a typical inharmonicity, fading faster.
        for (double note = 40.0; note <= 88.0; note += 1.0)
            for (const double stretch : { 3e-4, 7e-4 })
                add(false, 440.0 * std::pow(2.0, (note - 69.0) / 12.0), stretch, 1.4);
        const size_t count = templates.size();
        gram.assign(count * count, 0.0f);
        for (size_t a = 0; a < count; ++a)
            for (size_t b = 0; b <= a; ++b) {
                float dot = 0.0f;
                for (int k = 0; k < span; ++k)
                    dot += templates[a].values[static_cast<size_t>(k)]
                        * templates[b].values[static_cast<size_t>(k)];
                gram[a * count + b] = gram[b * count + a] = dot;
            }
    }

    // Guitar or piano: the harmonic part without vocals and bass, shared by the templates and the sides.
    void strings(const StftStream::Chunk &chunk, std::vector<float> &gains)
    {
        const int bins = chunk.bins;
        const int span = highBin - lowBin;
        const size_t count = templates.size();
        const bool wantGuitar = instrument == "guitar";
        target.resize(static_cast<size_t>(span));
        std::vector<double> sideEnergy(4, 0.0); // guitar left, guitar right, piano left, piano right
        double offCentre = 0.0, all = 0.0;
        share.assign(gains.size(), 0.5f);
        rest.assign(gains.size(), 0.0f);
        for (int i = 0; i < chunk.count; ++i) {
            const float *row = magnitudes.data() + static_cast<size_t>(chunk.first + i) * bins;
            for (int k = 0; k < bins; ++k) {
                const size_t at = static_cast<size_t>(i) * bins + k;
                rest[at] = Hpss::softMask(harmonic[at], percussive[at], 1.0f) * (1.0f - vocals[at])
                    * lowCut[static_cast<size_t>(k)];
            }
            for (int k = 0; k < span; ++k) {
                const size_t at = static_cast<size_t>(i) * bins + lowBin + k;
                target[static_cast<size_t>(k)] = row[lowBin + k] * rest[at];
            }
            // Activations by multiplicative updates, the templates fixed.
            projection.assign(count, 0.0f);
            for (size_t t = 0; t < count; ++t) {
                float dot = 0.0f;
                for (int k = 0; k < span; ++k)
                    dot += templates[t].values[static_cast<size_t>(k)] * target[static_cast<size_t>(k)];
                projection[t] = std::max(dot, 0.0f);
            }
            activation.assign(count, 0.0f);
            for (size_t t = 0; t < count; ++t)
                activation[t] = projection[t] * 0.01f + 1e-6f;
            for (int iteration = 0; iteration < 30; ++iteration) {
                for (size_t t = 0; t < count; ++t) {
                    float fitted = 1e-9f;
                    const float *g = gram.data() + t * count;
                    for (size_t u = 0; u < count; ++u)
                        fitted += g[u] * activation[u];
                    activation[t] *= projection[t] / fitted;
                }
            }
            guitarPart.assign(static_cast<size_t>(span), 0.0f);
            pianoPart.assign(static_cast<size_t>(span), 0.0f);
            for (size_t t = 0; t < count; ++t) {
                if (activation[t] < 1e-6f)
                    continue;
                std::vector<float> &part = templates[t].guitar ? guitarPart : pianoPart;
                for (int k = 0; k < span; ++k)
                    part[static_cast<size_t>(k)]
                        += activation[t] * templates[t].values[static_cast<size_t>(k)];
            }
            for (int k = 0; k < span; ++k) {
                const size_t at = static_cast<size_t>(i) * bins + lowBin + k;
                const float g = guitarPart[static_cast<size_t>(k)];
                const float p = pianoPart[static_cast<size_t>(k)];
                share[at] = g * g + p * p > 1e-12f ? g * g / (g * g + p * p) : 0.5f;
                if (stereo()) {
                    const float pan = pans[at];
                    const double energy
                        = double(target[static_cast<size_t>(k)]) * target[static_cast<size_t>(k)];
                    all += energy;
                    if (std::abs(pan) > 0.15f) {
                        offCentre += energy;
                        const int side = pan > 0 ? 1 : 0;
                        sideEnergy[static_cast<size_t>(side)] += energy * share[at];
                        sideEnergy[static_cast<size_t>(2 + side)] += energy * (1.0f - share[at]);
                    }
                }
            }
        }
        // Which side the guitar is on, remembered across chunks with a fading memory.
        if (stereo() && all > 0.0) {
            const double lean = (sideEnergy[1] - sideEnergy[0]) / (sideEnergy[1] + sideEnergy[0] + 1e-9)
                - (sideEnergy[3] - sideEnergy[2]) / (sideEnergy[3] + sideEnergy[2] + 1e-9);
            guitarSide = 0.7 * guitarSide + 0.3 * lean;
            spread = 0.7 * spread + 0.3 * (offCentre / all);
        }
        const float trustSides
            = stereo() ? static_cast<float>(std::clamp((spread - 0.2) / 0.3, 0.0, 1.0)) : 0.0f;
        const float side = guitarSide >= 0.0 ? 1.0f : -1.0f;
        for (int i = 0; i < chunk.count; ++i) {
            for (int k = 0; k < bins; ++k) {
                const size_t at = static_cast<size_t>(i) * bins + k;
                const float byTemplate = k >= lowBin && k < highBin ? share[at] : 0.5f;
                const float bySide = 1.0f / (1.0f + std::exp(-(pans[at] * side) / 0.05f));
                float guitar = trustSides * bySide + (1.0f - trustSides) * byTemplate;
                gains[at] = rest[at] * (wantGuitar ? guitar : 1.0f - guitar);
            }
        }
    }

    const int channels;
    const std::string instrument;
    const int size;
    const double binHz;
    int featureBins = 0;
    std::vector<float> voiceBand, lowCut;
    std::vector<float> magnitudes, harmonic, percussive, background, features, pans, vocals;
    int lowBin = 0, highBin = 0;
    std::vector<Template> templates;
    std::vector<float> gram, target, projection, activation, guitarPart, pianoPart, share, rest;
    double guitarSide = 0.0;
    double spread = 0.0;
    StftStream stage;
};

// Any instrument, by the learned model's mask.
class Learned final : public Method
{
public:
    Learned(MaskModel &model, const std::string &instrument, const WavAudio &shape, std::int64_t frames,
        Emit emit)
        : method(
            model, MaskModel::sourceOf(instrument), shape.channels, shape.sampleRate, frames, std::move(emit))
    { }

    void push(const float *interleaved, std::int64_t frames) override
    {
        method.push(interleaved, frames);
        if (method.outOfMemory())
            throw std::bad_alloc();
    }
    bool failed(std::string &error) const override
    {
        error = method.error();
        return method.failed();
    }

private:
    ModelMethod method;
};

std::unique_ptr<Method> makeMethod(const std::string &instrument, const WavAudio &shape, std::int64_t frames,
    const History &history, Emit emit, MaskModel *model)
{
    if (model)
        return std::make_unique<Learned>(*model, instrument, shape, frames, std::move(emit));
    if (instrument == "drums")
        return std::make_unique<Drums>(shape, frames, history, std::move(emit));
    if (instrument == "bass")
        return std::make_unique<Bass>(shape, frames, std::move(emit));
    return std::make_unique<Tonal>(shape, frames, instrument, std::move(emit));
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
    const Reader &read, const Writer &write, const std::atomic<bool> *stop, MaskModel *model,
    std::string *error)
{
    const int channels = shape.channels;
    if (!isInstrument(instrument) || channels < 1 || shape.sampleRate < 1 || frames < 0)
        return Outcome::Failed;

    History history(channels);
    std::vector<std::int16_t> instrumentOut, mixOut;
    std::int64_t written = 0;
    bool writeFailed = false;
    const auto method = makeMethod(
        instrument, shape, frames, history,
        [&](std::int64_t start, std::int64_t count, const float *isolated) {
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
        },
        model);
    std::string modelError;

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
        if (method->failed(modelError)) {
            if (error)
                *error = modelError;
            return Outcome::ModelFailed;
        }
        done += got;
    }
    return !writeFailed && written == frames ? Outcome::Done : Outcome::Failed;
}

bool split(const WavAudio &audio, const std::string &instrument, Parts &parts, const std::atomic<bool> *stop,
    MaskModel *model)
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
        stop, model);
    return outcome == Outcome::Done;
}

Outcome splitFile(const std::string &inputPath, const std::string &instrument,
    const std::string &instrumentPath, const std::string &mixPath, std::string &error,
    const std::atomic<bool> *stop, const std::function<void(std::int64_t done, std::int64_t total)> &progress,
    MaskModel *model)
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
        stop, model, &error);
    // Both files are closed whatever the first one says.
    const bool instrumentClosed = instrumentFile.close();
    const bool closed = mixFile.close() && instrumentClosed;
    if (outcome == Outcome::Done && !closed) {
        writeFailed = true;
        outcome = Outcome::Failed;
    }
    if (outcome == Outcome::ModelFailed)
        error = "the model failed: " + error;
    else if (outcome == Outcome::Failed)
        error = readShort ? "The uploaded WAV file is truncated"
            : writeFailed ? "cannot write a result: disk full?"
                          : "the separation failed";
    return outcome;
}

} // namespace Separator
