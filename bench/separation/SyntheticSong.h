#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A seeded synthetic song whose stems are known: a sung line, drums, bass, plucked guitar and piano, each
// with its own level and place in the stereo field. Stereo at 44.1 kHz, interleaved, in 16-bit units.
// The stems add up exactly to the unrounded mix. mixture() rounds that sum to 16 bits; the levels leave
// headroom so that nothing clips, so the mixture differs from the stems' sum only by rounding, at most
// half a step, some 90 dB below the song. That rounding noise belongs to no stem: the stems stay
// unrounded as the ground truth.
class SyntheticSong
{
public:
    static constexpr int sampleRate = 44100;
    static constexpr int channels = 2;

    // The same seed, length and layout give the same song, sample for sample, on every machine.
    // allCentre puts every stem in the middle, where left and right tell nothing apart.
    static SyntheticSong make(unsigned seed, double seconds, bool allCentre);
    // "vocals", "drums", "bass", "guitar", "piano".
    static const std::vector<std::string> &instruments();

    // Interleaved; empty for a name that is not an instrument.
    const std::vector<double> &stem(const std::string &instrument) const;
    std::vector<std::int16_t> mixture() const;
    std::int64_t frames() const;
    bool allCentre() const { return centred; }

private:
    std::array<std::vector<double>, 5> stems;
    bool centred = false;
};
