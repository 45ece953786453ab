#include "Hpss.h"

#include <algorithm>
#include <cmath>

namespace {

// A running median: the window's values kept sorted, one value taken out and one put in per step, which
// is far cheaper than selecting afresh for the wide windows used here.
class RunningMedian
{
public:
    explicit RunningMedian(int capacity) { sorted.reserve(static_cast<size_t>(capacity)); }

    void clear() { sorted.clear(); }
    void add(float value) { sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), value), value); }
    void remove(float value)
    {
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), value);
        if (at != sorted.end())
            sorted.erase(at);
    }
    float median() const { return sorted.empty() ? 0.0f : sorted[sorted.size() / 2]; }

private:
    std::vector<float> sorted;
};

} // namespace

namespace Hpss {

void magnitudes(const StftStream::Chunk &chunk, std::vector<float> &out)
{
    const int bins = chunk.bins;
    out.assign(static_cast<size_t>(chunk.frames) * bins, 0.0f);
    for (int frame = 0; frame < chunk.frames; ++frame) {
        float *row = out.data() + static_cast<size_t>(frame) * bins;
        for (int c = 0; c < chunk.channels; ++c) {
            const std::complex<float> *spectrum = chunk.at(frame, c);
            for (int k = 0; k < bins; ++k)
                row[k] += std::norm(spectrum[k]);
        }
        for (int k = 0; k < bins; ++k)
            row[k] = std::sqrt(row[k]);
    }
}

void harmonic(const StftStream::Chunk &chunk, const std::vector<float> &magnitudes, int halfWidth,
    std::vector<float> &out, int upTo)
{
    const int bins = chunk.bins;
    const int filled = upTo < 0 ? bins : std::min(upTo, bins);
    out.assign(static_cast<size_t>(chunk.count) * bins, 0.0f);
    // Frames past the song's ends count as silence; inside the song the chunk always holds halfWidth
    // frames of context, so the result does not depend on where chunks start.
    auto at = [&](int frame, int k) {
        return frame >= 0 && frame < chunk.frames ? magnitudes[static_cast<size_t>(frame) * bins + k] : 0.0f;
    };
    RunningMedian window(2 * halfWidth + 2);
    for (int k = 0; k < filled; ++k) {
        window.clear();
        for (int f = chunk.first - halfWidth; f <= chunk.first + halfWidth; ++f)
            window.add(at(f, k));
        for (int i = 0; i < chunk.count; ++i) {
            const int frame = chunk.first + i;
            if (i > 0) {
                window.remove(at(frame - halfWidth - 1, k));
                window.add(at(frame + halfWidth, k));
            }
            out[static_cast<size_t>(i) * bins + k] = window.median();
        }
    }
}

void percussive(const StftStream::Chunk &chunk, const std::vector<float> &magnitudes, int halfWidth,
    std::vector<float> &out, int upTo)
{
    const int bins = chunk.bins;
    const int filled = upTo < 0 ? bins : std::min(upTo, bins);
    out.assign(static_cast<size_t>(chunk.count) * bins, 0.0f);
    RunningMedian window(2 * halfWidth + 2);
    for (int i = 0; i < chunk.count; ++i) {
        const float *row = magnitudes.data() + static_cast<size_t>(chunk.first + i) * bins;
        // Near the ends of the spectrum the window shrinks rather than count bins that do not exist.
        window.clear();
        for (int b = 0; b < std::min(bins, halfWidth); ++b)
            window.add(row[b]);
        for (int k = 0; k < filled; ++k) {
            if (k - halfWidth - 1 >= 0)
                window.remove(row[k - halfWidth - 1]);
            if (k + halfWidth < bins)
                window.add(row[k + halfWidth]);
            out[static_cast<size_t>(i) * bins + k] = window.median();
        }
    }
}

} // namespace Hpss
