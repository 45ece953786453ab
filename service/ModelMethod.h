#pragma once

#include "MaskModel.h"
#include "Stft.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// An instrument isolated by a learned model's soft mask on the song's short-time spectrum. The frames
// are the model's: frame t centred on sample t * hop, a hop of 1024 at 44.1 kHz; at another rate the
// frame keeps its length in time (4096 samples at 44.1 kHz), so every bin stays about 10.8 Hz wide and the
// network sees what it was trained on without resampling. The network runs on chunks of its own frames,
// as the model contract sets them; channels go to it in pairs (1 and 2, 3 and 4, ...), a lone channel
// (mono, or the last of an odd count) as both sides of a pair.
class ModelMethod
{
public:
    // Receives the isolated instrument, interleaved, in order, as it becomes final.
    using Emit = std::function<void(std::int64_t start, std::int64_t count, const float *isolated)>;

    ModelMethod(MaskModel &model, int source, int channels, int sampleRate, std::int64_t length, Emit emit);
    ModelMethod(const ModelMethod &) = delete;
    ModelMethod &operator=(const ModelMethod &) = delete;

    // Takes the next frames of the input, interleaved. Once the model has failed, nothing more is emitted.
    void push(const float *interleaved, std::int64_t frames);
    bool failed() const { return status != MaskModel::Status::Ok; }
    bool outOfMemory() const { return status == MaskModel::Status::OutOfMemory; }
    const std::string &error() const { return reason; }

    // The frame size at a sample rate: the 44.1 kHz frame's length in time, a multiple of four with
    // small factors, so the transforms stay quick.
    static int frameSize(int sampleRate);

private:
    void mask(const StftStream::Chunk &chunk, std::vector<float> &gains);
    // Runs the network on its chunk k for every pair; the chunk's frame 0 is the stream's frame base.
    bool runChunk(const StftStream::Chunk &chunk, std::int64_t base, std::int64_t k);

    MaskModel &model;
    const int source;
    const int channels;
    const int size;
    const std::int64_t modelFrames; // frames of the song in the model's framing
    const float scale; // from 16-bit samples in this frame size to the model's magnitudes
    std::vector<std::pair<int, int>> pairs;
    MaskModel::Status status = MaskModel::Status::Ok;
    std::string reason;

    std::int64_t masked = 0; // stream frames masked so far
    // The kept masks of the model's last two chunks, [pair][side][bin][kept frame].
    std::int64_t currentChunk = -1;
    std::vector<float> current, previous;
    std::vector<float> input, output;
    StftStream stream;
};
