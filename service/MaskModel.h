#pragma once

#include <memory>
#include <string>

// A learned separation network: from the magnitudes of a stereo spectrogram, a soft mask per source,
// channel, bin and frame. The network itself lives in a plug-in (zelk-model.so) that links LibTorch, so
// that only a job that uses a model pays for the library; everything here is free of it.
//
// What a model file must be (a TorchScript module taking one tensor, answering one):
// - audio at 44.1 kHz, full scale 1.0, short-time spectra with a 4096-point periodic Hann window and a hop
//   of 1024, frame t centred on sample t * 1024 with zeros outside the song;
// - input float32 (1, 2, 1024, frames): |X| of the lowest 1024 bins of both channels, frames a multiple
//   of 64; output float32 (1, 6, 2, 1024, frames): masks for vocals, drums, bass, guitar, piano and the
//   rest, in [0, 1], adding up to one over the six;
// - bins above 1024 take the mask of bin 1023; chunks of 256 frames overlap by 32 frames of context at
//   either end, of which only the middle 192 are kept.
class MaskModel
{
public:
    enum class Status { Ok, OutOfMemory, Failed };

    static constexpr int sampleRate = 44100;
    static constexpr int frameSize = 4096;
    static constexpr int hop = 1024;
    static constexpr int bins = 1024;
    static constexpr int sources = 6;
    static constexpr int chunkFrames = 256;
    static constexpr int contextFrames = 32;
    static constexpr int keptFrames = chunkFrames - 2 * contextFrames;
    // The file a models folder holds the separator in.
    static constexpr const char *fileName = "separator.pt";
    // The plug-in's file name, and the function it exports: MaskModel *(const char *path, char *error,
    // int errorSize), answering null with the reason in error.
    static constexpr const char *pluginName = "zelk-model.so";
    static constexpr const char *entryPoint = "zelkLoadMaskModel";

    MaskModel() = default;
    virtual ~MaskModel() = default;
    MaskModel(const MaskModel &) = delete;
    MaskModel &operator=(const MaskModel &) = delete;

    // magnitudes: [2][bins][frames], frames a multiple of 64; fills masks[2][bins][frames] with the masks
    // of one source.
    virtual Status masks(const float *magnitudes, int frames, int source, float *masks, std::string &error)
        = 0;

    // The source index of an instrument the service offers, -1 for another word.
    static int sourceOf(const std::string &instrument);
    // Loads the plug-in at pluginPath (kept loaded for the life of the process) and the model file at
    // modelPath through it, and checks the model's answer on silence. Null with the reason in error;
    // outOfMemory tells whether the reason was a failed allocation.
    static std::unique_ptr<MaskModel> load(
        const std::string &pluginPath, const std::string &modelPath, std::string &error, bool &outOfMemory);
};
