#pragma once

#include <cstdint>
#include <vector>

// A seeded synthetic song with known stems: sustained keys panned to one side, drums (kick and noise
// hits) and a bass line in the centre. Stereo, interleaved, in 16-bit units.
struct SyntheticMix
{
    int sampleRate = 44100;
    int channels = 2;
    std::vector<double> keys, drums, bass;

    static SyntheticMix make(unsigned seed, int sampleRate, double seconds);
    std::vector<std::int16_t> mixture() const;
};

// Scale-invariant signal-to-distortion ratio of estimate against reference, in dB.
double siSdr(const std::vector<double> &reference, const std::vector<double> &estimate);
