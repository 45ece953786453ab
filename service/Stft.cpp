#include "Stft.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex plannerMutex;

} // namespace

StftStream::StftStream(int channels, std::int64_t length, int frameSize, int contextFrames, int chunkFrames,
    Mask mask, Sink sink, bool gainsPerChannel)
    : channels(channels)
    , length(length)
    , size(frameSize)
    , context(contextFrames)
    , chunkFrames(std::max(1, chunkFrames))
    // Frame k starts at k * hop - (size - hop): every sample is covered by four frames.
    , frameCount((length + frameSize - frameSize / 4 + frameSize / 4 - 1) / (frameSize / 4))
    , gainsPerChannel(gainsPerChannel)
    , mask(std::move(mask))
    , sink(std::move(sink))
    , pending(static_cast<size_t>(channels))
{
    window.resize(static_cast<size_t>(size));
    for (int n = 0; n < size; ++n)
        window[static_cast<size_t>(n)] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * n / size));
    // Analysis and synthesis both use the window: the squares of four overlapping Hann windows sum to
    // a constant, which the output is divided by.
    double sum = 0.0;
    for (int n = 0; n < size; n += hop())
        sum += double(window[static_cast<size_t>(n)]) * window[static_cast<size_t>(n)];
    overlapGain = static_cast<float>(1.0 / (sum * size));

    chunk.channels = channels;
    chunk.bins = size / 2 + 1;
    timeBuffer = fftwf_alloc_real(static_cast<size_t>(size));
    binBuffer = reinterpret_cast<std::complex<float> *>(fftwf_alloc_complex(static_cast<size_t>(chunk.bins)));
    auto *bins = reinterpret_cast<fftwf_complex *>(binBuffer);
    const std::lock_guard<std::mutex> lock(plannerMutex);
    forward = fftwf_plan_dft_r2c_1d(size, timeBuffer, bins, FFTW_ESTIMATE);
    inverse = fftwf_plan_dft_c2r_1d(size, bins, timeBuffer, FFTW_ESTIMATE);
}

StftStream::~StftStream()
{
    {
        const std::lock_guard<std::mutex> lock(plannerMutex);
        fftwf_destroy_plan(static_cast<fftwf_plan>(forward));
        fftwf_destroy_plan(static_cast<fftwf_plan>(inverse));
    }
    fftwf_free(timeBuffer);
    fftwf_free(binBuffer);
}

float StftStream::input(int channel, std::int64_t sample) const
{
    if (sample < inputBase || sample >= pushed)
        return 0.0f;
    return pending[static_cast<size_t>(channel)][static_cast<size_t>(sample - inputBase)];
}

void StftStream::push(const float *interleaved, std::int64_t frames)
{
    frames = std::min(frames, length - pushed);
    for (int c = 0; c < channels; ++c) {
        std::vector<float> &line = pending[static_cast<size_t>(c)];
        for (std::int64_t i = 0; i < frames; ++i)
            line.push_back(interleaved[i * channels + c]);
    }
    pushed += std::max<std::int64_t>(frames, 0);
    processReady();
}

void StftStream::computeSpectra(std::int64_t end)
{
    const int bins = chunk.bins;
    const std::int64_t first = spectraEnd;
    chunk.spectra.resize(static_cast<size_t>((end - spectraBase) * channels * bins));
    for (std::int64_t frame = first; frame < end; ++frame) {
        const std::int64_t start = frame * hop() - (size - hop());
        for (int c = 0; c < channels; ++c) {
            for (int n = 0; n < size; ++n)
                timeBuffer[n] = window[static_cast<size_t>(n)] * input(c, start + n);
            fftwf_execute_dft_r2c(
                static_cast<fftwf_plan>(forward), timeBuffer, reinterpret_cast<fftwf_complex *>(binBuffer));
            std::copy(binBuffer, binBuffer + bins,
                chunk.spectra.begin() + ((frame - spectraBase) * channels + c) * bins);
        }
    }
    spectraEnd = end;
}

void StftStream::processReady()
{
    const int bins = chunk.bins;
    while (nextFrame < frameCount) {
        const std::int64_t end = std::min(nextFrame + chunkFrames, frameCount);
        const std::int64_t needed = std::min(end + context, frameCount);
        const std::int64_t lastSample = (needed - 1) * hop() - (size - hop()) + size;
        if (pushed < std::min(lastSample, length))
            return;

        // Drop what no later frame needs: spectra before the context, input before the next frame.
        const std::int64_t keepFrom = std::max<std::int64_t>(0, nextFrame - context);
        if (keepFrom > spectraBase) {
            chunk.spectra.erase(
                chunk.spectra.begin(), chunk.spectra.begin() + (keepFrom - spectraBase) * channels * bins);
            spectraBase = keepFrom;
        }
        computeSpectra(needed);
        const std::int64_t inputFrom = std::max<std::int64_t>(0, spectraEnd * hop() - (size - hop()));
        if (inputFrom > inputBase) {
            for (std::vector<float> &line : pending)
                line.erase(
                    line.begin(), line.begin() + std::min<std::int64_t>(inputFrom - inputBase, line.size()));
            inputBase = inputFrom;
        }

        chunk.frames = static_cast<int>(spectraEnd - spectraBase);
        chunk.first = static_cast<int>(nextFrame - spectraBase);
        chunk.count = static_cast<int>(end - nextFrame);
        chunk.atStart = spectraBase == 0;
        chunk.atEnd = spectraEnd == frameCount;
        const int gainRows = gainsPerChannel ? channels : 1;
        gains.assign(static_cast<size_t>(chunk.count) * gainRows * bins, 1.0f);
        mask(chunk, gains);

        // Overlap-add the masked frames.
        const std::int64_t sumsEnd = std::min(length, (end - 1) * hop() - (size - hop()) + size);
        sums.resize(static_cast<size_t>(std::max<std::int64_t>(0, sumsEnd - outputBase) * channels), 0.0f);
        for (std::int64_t frame = nextFrame; frame < end; ++frame) {
            const std::int64_t start = frame * hop() - (size - hop());
            for (int c = 0; c < channels; ++c) {
                const float *gain
                    = gains.data() + ((frame - nextFrame) * gainRows + (gainsPerChannel ? c : 0)) * bins;
                const std::complex<float> *spectrum = chunk.at(static_cast<int>(frame - spectraBase), c);
                for (int k = 0; k < bins; ++k)
                    binBuffer[k] = spectrum[k] * gain[k];
                fftwf_execute_dft_c2r(static_cast<fftwf_plan>(inverse),
                    reinterpret_cast<fftwf_complex *>(binBuffer), timeBuffer);
                const int from = static_cast<int>(std::max<std::int64_t>(0, outputBase - start));
                const int to = static_cast<int>(std::min<std::int64_t>(size, sumsEnd - start));
                for (int n = from; n < to; ++n)
                    sums[static_cast<size_t>((start + n - outputBase) * channels + c)]
                        += timeBuffer[n] * window[static_cast<size_t>(n)];
            }
        }
        nextFrame = end;

        // Samples before the next frame's start get nothing more.
        const std::int64_t final
            = end == frameCount ? length : std::min(length, end * hop() - (size - hop()));
        if (final > outputBase) {
            const size_t count = static_cast<size_t>((final - outputBase) * channels);
            for (size_t i = 0; i < count; ++i)
                sums[i] *= overlapGain;
            sink(outputBase, final - outputBase, sums.data());
            sums.erase(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(count));
            outputBase = final;
        }
    }
}
