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
    WavReader reader;
    if (!reader.open(path, audio, error))
        return false;
    const std::int64_t total = reader.frames();
    audio.samples.resize(static_cast<size_t>(total) * static_cast<size_t>(audio.channels));
    std::int64_t read = 0;
    while (read < total) {
        if (stop && *stop) {
            error.clear();
            return false;
        }
        const std::int64_t got = reader.read(
            audio.samples.data() + static_cast<size_t>(read) * static_cast<size_t>(audio.channels),
            std::min<std::int64_t>(chunkFrames, total - read));
        if (got <= 0)
            break;
        read += got;
    }
    if (read != total) {
        error = "The uploaded WAV file is truncated";
        return false;
    }
    return true;
}

bool WavAudio::save(const std::string &path, const std::vector<std::int16_t> &data, std::string &error,
    const std::atomic<bool> *stop) const
{
    WavWriter writer;
    if (!writer.open(path, *this, error))
        return false;
    const std::int64_t frameCount = channels > 0 ? static_cast<std::int64_t>(data.size()) / channels : 0;
    for (std::int64_t written = 0; written < frameCount; written += chunkFrames) {
        if (stop && *stop) {
            writer.close();
            error.clear();
            return false;
        }
        if (!writer.write(data.data() + static_cast<size_t>(written) * static_cast<size_t>(channels),
                std::min<std::int64_t>(chunkFrames, frameCount - written)))
            break;
    }
    if (!writer.close()) {
        error = "cannot write a result: disk full?";
        return false;
    }
    return true;
}

WavReader::~WavReader()
{
    if (file)
        sf_close(static_cast<SNDFILE *>(file));
}

bool WavReader::open(const std::string &path, WavAudio &shape, std::string &error)
{
    SF_INFO info {};
    SNDFILE *opened = openWav(path, shape, info, error);
    if (!opened)
        return false;
    if (file)
        sf_close(static_cast<SNDFILE *>(file));
    file = opened;
    frameCount = info.frames;
    return true;
}

std::int64_t WavReader::read(std::int16_t *interleaved, std::int64_t count)
{
    if (!file || count <= 0)
        return 0;
    const sf_count_t got = sf_readf_short(static_cast<SNDFILE *>(file), interleaved, count);
    return got > 0 ? got : 0;
}

WavWriter::~WavWriter()
{
    close();
}

bool WavWriter::open(const std::string &path, const WavAudio &shape, std::string &error)
{
    close();
    SF_INFO info {};
    info.channels = shape.channels;
    info.samplerate = shape.sampleRate;
    info.format = shape.format;
    SNDFILE *opened = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!opened) {
        error = std::string("cannot write a result: ") + sf_strerror(nullptr);
        return false;
    }
    if (!shape.channelMap.empty()) {
        std::vector<int> map = shape.channelMap;
        sf_command(opened, SFC_SET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int)));
    }
    file = opened;
    channels = shape.channels;
    failed = false;
    return true;
}

bool WavWriter::write(const std::int16_t *interleaved, std::int64_t count)
{
    if (!file || failed)
        return false;
    std::int64_t written = 0;
    while (written < count) {
        const sf_count_t put = sf_writef_short(static_cast<SNDFILE *>(file),
            interleaved + static_cast<size_t>(written) * static_cast<size_t>(channels), count - written);
        if (put <= 0) {
            failed = true;
            return false;
        }
        written += put;
    }
    return true;
}

bool WavWriter::close()
{
    if (!file)
        return false;
    const bool closed = sf_close(static_cast<SNDFILE *>(file)) == 0;
    file = nullptr;
    return closed && !failed;
}
