#include "OracleMask.h"

#include "Stft.h"
#include "SyntheticSong.h"

#include <algorithm>
#include <cstdint>

namespace OracleMask {

std::vector<double> isolate(const SyntheticSong &song, const std::string &instrument, int frameSize)
{
    return isolate(song.mixture(), song.stem(instrument), frameSize);
}

std::vector<double> isolate(
    const std::vector<std::int16_t> &mixture, const std::vector<double> &target, int frameSize)
{
    // One stream carries the mixture, the instrument and the rest side by side, so that the mask sees
    // the true stems' spectra frame by frame beside the mixture it is applied to.
    constexpr int channels = SyntheticSong::channels;
    constexpr int lanes = 3 * channels;
    const std::int64_t frames = static_cast<std::int64_t>(mixture.size()) / channels;

    std::vector<double> out(static_cast<size_t>(frames * channels));
    StftStream stream(
        lanes, frames, frameSize, 0, 128,
        [](const StftStream::Chunk &chunk, std::vector<float> &gains) {
            for (int i = 0; i < chunk.count; ++i) {
                for (int k = 0; k < chunk.bins; ++k) {
                    double wanted = 0.0, rest = 0.0;
                    for (int c = 0; c < channels; ++c) {
                        wanted += std::norm(chunk.at(chunk.first + i, channels + c)[k]);
                        rest += std::norm(chunk.at(chunk.first + i, 2 * channels + c)[k]);
                    }
                    gains[static_cast<size_t>(i) * chunk.bins + k]
                        = wanted + rest > 1e-9 ? static_cast<float>(wanted / (wanted + rest)) : 0.0f;
                }
            }
        },
        [&](std::int64_t start, std::int64_t count, const float *data) {
            for (std::int64_t frame = 0; frame < count; ++frame)
                for (int c = 0; c < channels; ++c)
                    out[static_cast<size_t>((start + frame) * channels + c)] = data[frame * lanes + c];
        });

    constexpr std::int64_t slice = 1 << 15;
    std::vector<float> lanesIn;
    for (std::int64_t start = 0; start < frames; start += slice) {
        const std::int64_t count = std::min(slice, frames - start);
        lanesIn.resize(static_cast<size_t>(count * lanes));
        for (std::int64_t frame = 0; frame < count; ++frame) {
            for (int c = 0; c < channels; ++c) {
                const size_t at = static_cast<size_t>((start + frame) * channels + c);
                const double whole = mixture[at];
                float *lane = lanesIn.data() + frame * lanes;
                lane[c] = static_cast<float>(whole);
                lane[channels + c] = static_cast<float>(target[at]);
                lane[2 * channels + c] = static_cast<float>(whole - target[at]);
            }
        }
        stream.push(lanesIn.data(), count);
    }
    return out;
}

} // namespace OracleMask
