#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

// The short-time spectra of a multichannel signal, handed to a mask chunk by chunk, and the masked
// signal rebuilt by overlap-add. Samples go in and come out in order; only a few chunks of frames are
// held at a time, whatever the length of the song. With a mask of ones the output is the input.
class StftStream
{
public:
    // The frames held for one call of the mask: the ones to mask and some context on each side.
    struct Chunk
    {
        int channels = 0;
        int bins = 0; // frameSize / 2 + 1
        int frames = 0; // frames held, context included
        int first = 0; // the first frame to mask
        int count = 0; // frames to mask
        bool atStart = false; // frame 0 is the song's first
        bool atEnd = false; // the last frame is the song's last
        std::vector<std::complex<float>> spectra; // [frame][channel][bin]

        const std::complex<float> *at(int frame, int channel) const
        {
            return spectra.data() + (static_cast<size_t>(frame) * channels + channel) * bins;
        }
    };
    // Fills gains[count * bins], one gain per frame and bin, applied to every channel; or, for a stream
    // made with gains per channel, gains[count * channels * bins], laid out [frame][channel][bin].
    using Mask = std::function<void(const Chunk &chunk, std::vector<float> &gains)>;
    // Receives the next count frames of the output, interleaved, starting at frame start.
    using Sink = std::function<void(std::int64_t start, std::int64_t count, const float *interleaved)>;

    StftStream(int channels, std::int64_t length, int frameSize, int contextFrames, int chunkFrames,
        Mask mask, Sink sink, bool gainsPerChannel = false);
    ~StftStream();
    StftStream(const StftStream &) = delete;
    StftStream &operator=(const StftStream &) = delete;

    // Takes the next frames of the input, interleaved; output reaches the sink as soon as it is final.
    // Everything has reached the sink once length frames were pushed.
    void push(const float *interleaved, std::int64_t frames);

    int frameSize() const { return size; }
    int hop() const { return size / 4; }

private:
    void computeSpectra(std::int64_t end);
    void processReady();
    float input(int channel, std::int64_t sample) const;

    const int channels;
    const std::int64_t length;
    const int size;
    const int context;
    const int chunkFrames;
    const std::int64_t frameCount;
    const bool gainsPerChannel;
    Mask mask;
    Sink sink;

    std::vector<float> window;
    float overlapGain = 1.0f;

    // Input from inputBase on, one vector per channel.
    std::vector<std::vector<float>> pending;
    std::int64_t inputBase = 0;
    std::int64_t pushed = 0;

    // Spectra of frames [spectraBase, spectraEnd).
    Chunk chunk;
    std::int64_t spectraBase = 0;
    std::int64_t spectraEnd = 0;
    std::int64_t nextFrame = 0; // the first frame not yet masked
    std::vector<float> gains;

    // Overlap-add sums from outputBase on, interleaved.
    std::vector<float> sums;
    std::int64_t outputBase = 0;

    float *timeBuffer = nullptr;
    std::complex<float> *binBuffer = nullptr;
    void *forward = nullptr;
    void *inverse = nullptr;
};
