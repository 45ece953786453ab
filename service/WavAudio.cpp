#include "WavAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr int maxChannels = 32;

// Opens a 16-bit PCM WAV and fills the shape of audio; on refusal the file is closed and null answered.
SNDFILE *openWav(const std::string &path, WavAudio &audio, SF_INFO &info, std::string &error)
{
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "The uploaded file is not a WAV file";
        return nullptr;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) || subtype != SF_FORMAT_PCM_16) {
        sf_close(file);
        error = "The uploaded file is not a 16-bit PCM WAV file";
        return nullptr;
    }
    if (info.channels < 1 || info.channels > maxChannels || info.frames < 1 || info.samplerate < 1) {
        sf_close(file);
        error = "The uploaded WAV file holds no audio";
        return nullptr;
    }
    audio = WavAudio();
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    if (major == SF_FORMAT_WAVEX)
        audio.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
    std::vector<int> map(static_cast<size_t>(info.channels));
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int)))
        == SF_TRUE)
        audio.channelMap = map;
    return file;
}

} // namespace

bool WavAudio::isComplete(const std::string &path)
{
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(path, failure);
    std::ifstream file(path, std::ios::binary);
    const auto little = [](const unsigned char *bytes) {
        return std::uint64_t(bytes[0]) | std::uint64_t(bytes[1]) << 8 | std::uint64_t(bytes[2]) << 16
            | std::uint64_t(bytes[3]) << 24;
    };
    unsigned char head[12] {};
    if (failure || !file.read(reinterpret_cast<char *>(head), sizeof head)
        || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0
        || little(head + 4) + 8 > size)
        return false;
    std::uint64_t offset = 12;
    while (offset + 8 <= size) {
        unsigned char chunk[8] {};
        file.seekg(static_cast<std::streamoff>(offset));
        if (!file.read(reinterpret_cast<char *>(chunk), sizeof chunk))
            return false;
        const std::uint64_t length = little(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0)
            return length > 0 && offset + 8 + length <= size;
        offset += 8 + length + (length & 1);
    }
    return false;
}

bool WavAudio::probe(const std::string &path, WavAudio &audio, std::int64_t &frameCount, std::string &error)
{
    SF_INFO info {};
    SNDFILE *file = openWav(path, audio, info, error);
    if (!file)
        return false;
    frameCount = info.frames;
    sf_close(file);
    return true;
}

bool WavAudio::load(
    const std::string &path, WavAudio &audio, std::string &error, const std::atomic<bool> *stop)
{
    SF_INFO info {};
    SNDFILE *file = openWav(path, audio, info, error);
    if (!file)
        return false;
    audio.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_count_t read = 0;
    while (read < info.frames) {
        if (stop && *stop) {
            sf_close(file);
            error.clear();
            return false;
        }
        const sf_count_t got = sf_readf_short(file,
            audio.samples.data() + static_cast<size_t>(read) * static_cast<size_t>(info.channels),
            std::min<sf_count_t>(chunkFrames, info.frames - read));
        if (got <= 0)
            break;
        read += got;
    }
    sf_close(file);
    if (read != info.frames) {
        error = "The uploaded WAV file is truncated";
        return false;
    }
    return true;
}

bool WavAudio::save(const std::string &path, const std::vector<std::int16_t> &data, std::string &error,
    const std::atomic<bool> *stop) const
{
    SF_INFO info {};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = std::string("cannot write a result: ") + sf_strerror(nullptr);
        return false;
    }
    if (!channelMap.empty()) {
        std::vector<int> map = channelMap;
        sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int)));
    }
    const sf_count_t frameCount = channels > 0 ? static_cast<sf_count_t>(data.size()) / channels : 0;
    sf_count_t written = 0;
    while (written < frameCount) {
        if (stop && *stop) {
            sf_close(file);
            error.clear();
            return false;
        }
        const sf_count_t put = sf_writef_short(file,
            data.data() + static_cast<size_t>(written) * static_cast<size_t>(channels),
            std::min<sf_count_t>(chunkFrames, frameCount - written));
        if (put <= 0)
            break;
        written += put;
    }
    const bool closed = sf_close(file) == 0;
    if (written != frameCount || !closed) {
        error = "cannot write a result: disk full?";
        return false;
    }
    return true;
}
