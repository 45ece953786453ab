#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A 16-bit PCM WAV file in memory: interleaved samples and the shape to write results in.
struct WavAudio
{
    int channels = 0;
    int sampleRate = 0;
    int format = 0; // libsndfile format: WAV or WAVEX, 16-bit PCM
    std::vector<int> channelMap; // libsndfile channel positions, empty when the file has none
    std::vector<std::int16_t> samples;

    std::int64_t frames() const
    {
        return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0;
    }

    // Reads a 16-bit PCM WAV (plain or extensible) with at least one frame; other files are refused
    // with a reason in error. Gives up, with an empty error, as soon as stop is set.
    static bool load(const std::string &path, WavAudio &audio, std::string &error,
        const std::atomic<bool> *stop = nullptr);
    // Checks that the file is such a WAV without reading its samples; fills everything but samples.
    static bool probe(const std::string &path, WavAudio &audio, std::int64_t &frameCount, std::string &error);
    // Whether the file holds all the bytes its RIFF header and data chunk announce: a file cut short or
    // emptied by a power loss does not.
    static bool isComplete(const std::string &path);
    // Writes samples in the shape of this audio. Gives up, with an empty error, as soon as stop is set.
    bool save(const std::string &path, const std::vector<std::int16_t> &data, std::string &error,
        const std::atomic<bool> *stop = nullptr) const;

    // Frames read or written between two looks at the stop flag.
    static constexpr std::int64_t chunkFrames = 1 << 18;
};

// Reads a 16-bit PCM WAV block by block, without holding more than the caller's block.
class WavReader
{
public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader &) = delete;
    WavReader &operator=(const WavReader &) = delete;

    // Opens such a WAV as WavAudio::load accepts it and fills shape, all but its samples.
    bool open(const std::string &path, WavAudio &shape, std::string &error);
    std::int64_t frames() const { return frameCount; }
    // Reads up to count frames, interleaved; answers how many were read, 0 at the end or on a failure.
    std::int64_t read(std::int16_t *interleaved, std::int64_t count);

private:
    void *file = nullptr;
    std::int64_t frameCount = 0;
};

// Writes a WAV in the shape of an input block by block.
class WavWriter
{
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    bool open(const std::string &path, const WavAudio &shape, std::string &error);
    bool write(const std::int16_t *interleaved, std::int64_t count);
    // Writes the header and closes; false when any write failed.
    bool close();

private:
    void *file = nullptr;
    int channels = 0;
    bool failed = false;
};
