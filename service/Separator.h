#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct WavAudio;

// A split of a track into one instrument and the rest. "drums" and "bass" use soft masks on the
// short-time spectrum: drums keep what is percussive, bass the sustained centre lows. "vocals" takes the
// centre: the centre channel of a surround file, the mid of left and right in stereo, the voice band in
// mono. Guitar and piano take frequency bands. The two parts always add up to the input exactly.
namespace Separator {

bool isInstrument(const std::string &instrument);

struct Parts
{
    std::vector<std::int16_t> instrument;
    std::vector<std::int16_t> mix;
};

// False, with parts left incomplete, when stop was set before the split was done.
bool split(const WavAudio &audio, const std::string &instrument, Parts &parts,
    const std::atomic<bool> *stop = nullptr);

} // namespace Separator
