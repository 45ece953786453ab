#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A song rendered by training/render.py from recorded-sample soundfonts: six stereo stems at 44.1 kHz
// (vocals, drums, bass, guitar, piano and the rest) in 16-bit units, stored as one NumPy int16 array of
// shape (6, 2, samples). The mixture is the stems' exact integer sum.
class RecordedSong
{
public:
    static constexpr int sampleRate = 44100;
    static constexpr int channels = 2;

    // Reads SEED-SOUNDFONT.npy; false with the reason in error for anything else.
    static bool load(const std::string &path, RecordedSong &song, std::string &error);
    // The complete songs of a render folder (those whose .json was written), sorted by name.
    static std::vector<std::string> songsIn(const std::string &folder);

    // Interleaved; empty for a name that is not an instrument.
    const std::vector<double> &stem(const std::string &instrument) const;
    // Whether the song has the instrument at all: a song without it cannot score it.
    bool has(const std::string &instrument) const;
    std::vector<std::int16_t> mixture() const { return mix; }
    std::int64_t frames() const { return static_cast<std::int64_t>(mix.size()) / channels; }
    const std::string &name() const { return label; }

private:
    std::vector<std::vector<double>> stems;
    std::vector<std::int16_t> mix;
    std::string label;
};
