#include "RecordedSong.h"

#include "SyntheticSong.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr int storedStems = 6; // the five instruments, then everything else

// The numbers of a NumPy header's shape tuple, "(6, 2, 882000)".
std::vector<std::int64_t> shapeOf(const std::string &header)
{
    std::vector<std::int64_t> shape;
    const size_t key = header.find("'shape'");
    const size_t open = header.find('(', key);
    const size_t close = header.find(')', open);
    if (key == std::string::npos || open == std::string::npos || close == std::string::npos)
        return shape;
    const std::string numbers = header.substr(open + 1, close - open - 1);
    const char *at = numbers.c_str();
    for (;;) {
        char *end = nullptr;
        const long long value = std::strtoll(at, &end, 10);
        if (end == at)
            break;
        shape.push_back(value);
        at = end;
        while (*at == ',' || *at == ' ')
            ++at;
    }
    return shape;
}

} // namespace

bool RecordedSong::load(const std::string &path, RecordedSong &song, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    char magic[10] = {};
    if (!file.read(magic, sizeof magic) || std::memcmp(magic, "\x93NUMPY", 6) != 0) {
        error = path + ": not a NumPy array";
        return false;
    }
    // Version 1 has a 2-byte header length, later versions a 4-byte one; both little-endian.
    std::uint32_t headerLength
        = static_cast<unsigned char>(magic[8]) | static_cast<unsigned char>(magic[9]) << 8;
    if (magic[6] >= 2) {
        char more[2] = {};
        file.read(more, 2);
        headerLength |= static_cast<std::uint32_t>(static_cast<unsigned char>(more[0])) << 16
            | static_cast<std::uint32_t>(static_cast<unsigned char>(more[1])) << 24;
    }
    std::string header(headerLength, '\0');
    file.read(header.data(), headerLength);
    const std::vector<std::int64_t> shape = shapeOf(header);
    if (!file || header.find("'<i2'") == std::string::npos
        || header.find("'fortran_order': False") == std::string::npos || shape.size() != 3
        || shape[0] != storedStems || shape[1] != channels || shape[2] < 1) {
        error = path + ": not a (6, 2, samples) int16 array";
        return false;
    }
    const std::int64_t frames = shape[2];
    std::vector<std::int16_t> data(static_cast<size_t>(storedStems * channels * frames));
    if (!file.read(reinterpret_cast<char *>(data.data()), static_cast<std::streamsize>(data.size() * 2))) {
        error = path + ": cut short";
        return false;
    }

    song.label = std::filesystem::path(path).stem().string();
    song.stems.assign(storedStems, std::vector<double>(static_cast<size_t>(frames * channels)));
    std::vector<std::int32_t> sum(static_cast<size_t>(frames * channels), 0);
    for (int s = 0; s < storedStems; ++s) {
        for (int c = 0; c < channels; ++c) {
            const std::int16_t *lane = data.data() + (s * channels + c) * frames;
            for (std::int64_t i = 0; i < frames; ++i) {
                const size_t at = static_cast<size_t>(i * channels + c);
                song.stems[static_cast<size_t>(s)][at] = lane[i];
                sum[at] += lane[i];
            }
        }
    }
    song.mix.resize(sum.size());
    for (size_t i = 0; i < sum.size(); ++i)
        song.mix[i] = static_cast<std::int16_t>(std::clamp(sum[i], -32768, 32767));
    return true;
}

std::vector<std::string> RecordedSong::songsIn(const std::string &folder)
{
    std::vector<std::string> songs;
    std::error_code failed;
    for (std::filesystem::directory_iterator entry(folder, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        std::filesystem::path path = entry->path();
        if (path.extension() != ".npy")
            continue;
        if (std::filesystem::exists(std::filesystem::path(path).replace_extension(".json")))
            songs.push_back(path.string());
    }
    std::sort(songs.begin(), songs.end());
    return songs;
}

const std::vector<double> &RecordedSong::stem(const std::string &instrument) const
{
    static const std::vector<double> none;
    const std::vector<std::string> &names = SyntheticSong::instruments();
    const auto found = std::find(names.begin(), names.end(), instrument);
    return found == names.end() || stems.empty() ? none : stems[static_cast<size_t>(found - names.begin())];
}

bool RecordedSong::has(const std::string &instrument) const
{
    const std::vector<double> &samples = stem(instrument);
    return std::any_of(samples.begin(), samples.end(), [](double sample) { return sample != 0.0; });
}
