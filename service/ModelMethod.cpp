#include "ModelMethod.h"

#include <algorithm>
#include <cmath>

namespace {

bool hasSmallFactors(int number)
{
    for (const int factor : { 2, 3, 5, 7 }) {
        while (number % factor == 0)
            number /= factor;
    }
    return number == 1;
}

} // namespace

int ModelMethod::frameSize(int sampleRate)
{
    const double quarter = double(MaskModel::frameSize / 4) * sampleRate / MaskModel::sampleRate;
    const int nearest = std::max(2, static_cast<int>(std::lround(quarter)));
    for (int step = 0;; ++step) {
        if (hasSmallFactors(nearest + step))
            return 4 * (nearest + step);
        if (nearest - step > 1 && hasSmallFactors(nearest - step))
            return 4 * (nearest - step);
    }
}

ModelMethod::ModelMethod(
    MaskModel &model, int source, int channels, int sampleRate, std::int64_t length, Emit emit)
    : model(model)
    , source(source)
    , channels(channels)
    , size(frameSize(sampleRate))
    , modelFrames(length / (size / 4) + 1)
    // A tone's magnitude grows with the window's length: scaled to the 4096-point window's.
    , scale(float(MaskModel::frameSize) / float(size) / 32768.0f)
    // The stream's chunks are the model's kept frames; the context reaches one frame further, since the
    // stream's frame j is the model's frame j - 1.
    , stream(
          channels, length, size, MaskModel::contextFrames + 1, MaskModel::keptFrames,
          [this](const StftStream::Chunk &chunk, std::vector<float> &gains) { mask(chunk, gains); },
          std::move(emit), true)
{
    for (int c = 0; c < channels; c += 2)
        pairs.emplace_back(c, std::min(c + 1, channels - 1));
    const size_t kept = pairs.size() * 2 * MaskModel::bins * MaskModel::keptFrames;
    current.assign(kept, 0.0f);
    previous.assign(kept, 0.0f);
    input.resize(static_cast<size_t>(2 * MaskModel::bins * MaskModel::chunkFrames));
    output.resize(input.size());
}

void ModelMethod::push(const float *interleaved, std::int64_t frames)
{
    if (!failed())
        stream.push(interleaved, frames);
}

bool ModelMethod::runChunk(const StftStream::Chunk &chunk, std::int64_t base, std::int64_t k)
{
    const int bins = std::min(chunk.bins, MaskModel::bins);
    const int frames = MaskModel::chunkFrames;
    const size_t perPair = 2 * MaskModel::bins * MaskModel::keptFrames;
    for (size_t p = 0; p < pairs.size(); ++p) {
        std::fill(input.begin(), input.end(), 0.0f);
        for (int f = 0; f < frames; ++f) {
            // Frames outside the song are silence, as the network was trained.
            const std::int64_t t = k * MaskModel::keptFrames - MaskModel::contextFrames + f;
            const std::int64_t local = t + 1 - base;
            if (t < 0 || t >= modelFrames || local < 0 || local >= chunk.frames)
                continue;
            for (int side = 0; side < 2; ++side) {
                const std::complex<float> *spectrum
                    = chunk.at(static_cast<int>(local), side == 0 ? pairs[p].first : pairs[p].second);
                float *row = input.data() + static_cast<size_t>(side) * MaskModel::bins * frames + f;
                for (int b = 0; b < bins; ++b)
                    row[static_cast<size_t>(b) * frames] = std::abs(spectrum[b]) * scale;
            }
        }
        status = model.masks(input.data(), frames, source, output.data(), reason);
        if (status != MaskModel::Status::Ok)
            return false;
        float *kept = current.data() + p * perPair;
        for (size_t row = 0; row < 2 * MaskModel::bins; ++row)
            std::copy_n(output.data() + row * frames + MaskModel::contextFrames, MaskModel::keptFrames,
                kept + row * MaskModel::keptFrames);
    }
    return true;
}

void ModelMethod::mask(const StftStream::Chunk &chunk, std::vector<float> &gains)
{
    const int bins = chunk.bins;
    const std::int64_t base = masked - chunk.first;
    const size_t perPair = 2 * MaskModel::bins * MaskModel::keptFrames;
    for (int i = 0; i < chunk.count && !failed(); ++i) {
        // The stream's first and last frames lie beyond the model's: they take the nearest one's mask.
        const std::int64_t t = std::clamp<std::int64_t>(masked + i - 1, 0, modelFrames - 1);
        const std::int64_t k = t / MaskModel::keptFrames;
        if (k > currentChunk) {
            std::swap(current, previous);
            if (!runChunk(chunk, base, k))
                break;
            currentChunk = k;
        }
        const std::vector<float> &masks = k == currentChunk ? current : previous;
        const int at = static_cast<int>(t - k * MaskModel::keptFrames);
        for (size_t p = 0; p < pairs.size(); ++p) {
            const float *left = masks.data() + p * perPair + at;
            const float *right = left + MaskModel::bins * MaskModel::keptFrames;
            const auto [first, second] = pairs[p];
            float *gainFirst = gains.data() + (static_cast<size_t>(i) * channels + first) * bins;
            float *gainSecond = gains.data() + (static_cast<size_t>(i) * channels + second) * bins;
            for (int b = 0; b < bins; ++b) {
                const size_t row
                    = static_cast<size_t>(std::min(b, MaskModel::bins - 1)) * MaskModel::keptFrames;
                if (first == second) {
                    gainFirst[b] = 0.5f * (left[row] + right[row]);
                } else {
                    gainFirst[b] = left[row];
                    gainSecond[b] = right[row];
                }
            }
        }
    }
    masked += chunk.count;
    if (failed())
        std::fill(gains.begin(), gains.end(), 0.0f);
}
