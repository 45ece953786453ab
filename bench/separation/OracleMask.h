#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SyntheticSong;

// The ceiling of what a mask can take out of the mixture: the ideal soft ratio mask, per frame and bin
// the instrument's share of the power of all the stems. Like the service's masks it holds one gain per
// bin for all channels and goes through StftStream, at the frame size given.
namespace OracleMask {

// The instrument's part of the song's 16-bit mixture, interleaved, unrounded.
std::vector<double> isolate(const SyntheticSong &song, const std::string &instrument, int frameSize);
// The same for any stereo mixture whose instrument stem is target, interleaved alike.
std::vector<double> isolate(
    const std::vector<std::int16_t> &mixture, const std::vector<double> &target, int frameSize);

} // namespace OracleMask
