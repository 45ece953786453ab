#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class MaskModel;
struct WavAudio;

// A split of a track into one instrument and the rest, by soft masks on the short-time spectrum:
// - drums: the percussive part of what a long frame does not find sustained, split again with a short frame;
// - bass: the sustained lows below about 300 Hz, weighted to the centre in stereo;
// - vocals: the centre between about 120 Hz and 8 kHz (in stereo; a mono or surround file has no such cue),
//   times the part that is not percussive, refined by a repeating background found within a few seconds;
// - guitar and piano: the harmonic part without vocals and bass, shared between the two by fitting
//   plucked-string and piano templates to every frame and, in stereo, by the side each one sits on.
// Streamed: the input is read block by block and both results leave as soon as they are final, so a
// job holds a few chunks of the short-time spectrum whatever the length of the song. The instrument is
// rounded to 16 bits inside the range where input minus instrument still fits 16 bits, and the mix is that
// exact difference: the two results add up to the input sample by sample, clipped input included. Given a
// learned model, every instrument is instead its soft mask from the model (see ModelMethod).
namespace Separator {

bool isInstrument(const std::string &instrument);

struct Parts
{
    std::vector<std::int16_t> instrument;
    std::vector<std::int16_t> mix;
};

// The whole split in memory, over the same streaming core. False, with parts left incomplete, when stop
// was set before the split was done.
bool split(const WavAudio &audio, const std::string &instrument, Parts &parts,
    const std::atomic<bool> *stop = nullptr, MaskModel *model = nullptr);

// ModelFailed: the model gave no masks, for a reason other than memory (which throws std::bad_alloc);
// the song can be split again without it.
enum class Outcome { Done, Stopped, Failed, ModelFailed };

// Reads the next frames of the input, interleaved, into data; answers how many it read (0: no more).
using Reader = std::function<std::int64_t(std::int16_t *interleaved, std::int64_t frames)>;
// Takes the next frames of both results, interleaved, in order; false gives up.
using Writer
    = std::function<bool(const std::int16_t *instrument, const std::int16_t *mix, std::int64_t frames)>;

// The streaming core: shape gives channels, rate and channel map; frames is the input's length. Failed
// when the reader ran dry early or the writer gave up. error, when given, hears why a model failed.
Outcome separate(const WavAudio &shape, std::int64_t frames, const std::string &instrument,
    const Reader &read, const Writer &write, const std::atomic<bool> *stop = nullptr,
    MaskModel *model = nullptr, std::string *error = nullptr);

// File to file: reads a 16-bit PCM WAV and writes both results in its shape. On Failed, error holds the
// reason; on Stopped it is empty. progress, when given, hears the frames done so far and the total.
Outcome splitFile(const std::string &inputPath, const std::string &instrument,
    const std::string &instrumentPath, const std::string &mixPath, std::string &error,
    const std::atomic<bool> *stop = nullptr,
    const std::function<void(std::int64_t done, std::int64_t total)> &progress = {},
    MaskModel *model = nullptr);

} // namespace Separator
