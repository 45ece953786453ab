#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WavAudio;

// The split the local service made before its masks, kept as the baseline the masks must beat: the
// centre (mid of left and right, or a surround file's centre channel) for vocals, fixed frequency bands
// for everything else. Rounded to 16 bits as the service rounds its parts.
namespace BandSplit {

std::vector<std::int16_t> isolate(const WavAudio &audio, const std::string &instrument);

} // namespace BandSplit
