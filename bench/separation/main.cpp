// zelk-separation-eval: how well the local service's separation recovers each instrument from songs whose
// stems are known (seeded synthetic songs, or songs rendered from recorded-sample soundfonts), its
// signal-processing methods and its learned model side by side, with the ideal mask's ceiling.
#include "BandSplit.h"
#include "MaskModel.h"
#include "OracleMask.h"
#include "RecordedSong.h"
#include "Separator.h"
#include "SiSdr.h"
#include "SyntheticSong.h"
#include "WavAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options
{
    int songs = 8;
    double seconds = 20.0;
    int centred = 2; // the last songs of the set have every stem in the centre
    unsigned seed = 1;
    int frameSize = 4096; // the service's long frame at 44.1 kHz
    bool perSong = false;
    std::vector<std::string> instruments;
    std::string write;
    std::string split;
    std::string recorded;
    std::string model; // empty: the models folder beside the tool; "none": no model
};

void usage()
{
    std::fputs(
        "usage: zelk-separation-eval [--songs N] [--seconds S] [--centre N] [--seed N] [--frame N]\n"
        "                            [--instrument NAME]... [--per-song] [--model FILE|none]\n"
        "       zelk-separation-eval --recorded DIR [--instrument NAME]... [--per-song] [--model FILE|none]\n"
        "       zelk-separation-eval --write FILE.wav [--seconds S] [--seed N]\n"
        "       zelk-separation-eval --split FILE.wav [--instrument NAME]...\n"
        "Scores the separation on seeded synthetic songs (default 8 of 20 s, 2 all-centre, seed 1), or\n"
        "on the songs training/render.py wrote to DIR; the model is models/separator.pt beside this\n"
        "tool unless --model names another. --write renders a long mixture of synthetic songs,\n"
        "--split times the separation of a WAV file.\n",
        stderr);
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--per-song") {
            options.perSong = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        char *end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        const bool numeric = end && *end == '\0' && !value.empty() && number >= 0;
        if (name == "--songs" && numeric && number >= 1)
            options.songs = static_cast<int>(number);
        else if (name == "--seconds" && numeric && number >= 1)
            options.seconds = number;
        else if (name == "--centre" && numeric)
            options.centred = static_cast<int>(number);
        else if (name == "--seed" && numeric)
            options.seed = static_cast<unsigned>(number);
        else if (name == "--frame" && numeric && number >= 64)
            options.frameSize = static_cast<int>(number);
        else if (name == "--instrument" && Separator::isInstrument(value))
            options.instruments.push_back(value);
        else if (name == "--write")
            options.write = value;
        else if (name == "--split")
            options.split = value;
        else if (name == "--recorded")
            options.recorded = value;
        else if (name == "--model")
            options.model = value;
        else
            return false;
    }
    if (options.instruments.empty())
        options.instruments = SyntheticSong::instruments();
    options.centred = std::min(options.centred, options.songs);
    return true;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

WavAudio stereo(std::vector<std::int16_t> samples)
{
    WavAudio audio;
    audio.channels = SyntheticSong::channels;
    audio.sampleRate = SyntheticSong::sampleRate;
    audio.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    audio.samples = std::move(samples);
    return audio;
}

// One song of a set: its mixture, and each instrument's stem unless the song has none of it.
struct Case
{
    std::string name;
    WavAudio audio;
    std::function<const std::vector<double> *(const std::string &instrument)> stem;
};

// Each method's gain over the mixture on every song that has the instrument, and the time spent.
struct Gains
{
    std::vector<double> separator, band, model, oracle;
    double audioSeconds = 0.0;
    double separatorSeconds = 0.0;
    double modelSeconds = 0.0;
};

double mean(const std::vector<double> &values)
{
    double sum = 0.0;
    for (const double value : values)
        sum += value;
    return values.empty() ? 0.0 : sum / values.size();
}

double median(const std::vector<double> &unsorted)
{
    if (unsorted.empty())
        return 0.0;
    std::vector<double> values = unsorted;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::unique_ptr<MaskModel> loadModel(const Options &options, const char *self)
{
    if (options.model == "none")
        return nullptr;
    const std::filesystem::path tool = std::filesystem::absolute(self).parent_path();
    const std::string path
        = options.model.empty() ? (tool / "models" / MaskModel::fileName).string() : options.model;
    std::string error;
    bool outOfMemory = false;
    std::unique_ptr<MaskModel> model
        = MaskModel::load((tool / MaskModel::pluginName).string(), path, error, outOfMemory);
    if (!model)
        std::fprintf(stderr, "no model (%s): scoring the signal-processing methods only\n", error.c_str());
    return model;
}

// Scores every song the loader gives, instrument by instrument. Recorded sets are summed up by the median
// and the worst song, as their songs differ widely; the synthetic set by the mean, as it always was.
int evaluate(const Options &options, int songs, const std::function<bool(int, Case &)> &load,
    MaskModel *model, bool recorded)
{
    if (options.perSong)
        std::printf("%-22s %-10s %8s %8s %8s %8s %8s\n", "song", "instrument", "mixture", "separ.",
            recorded ? "" : "band", model ? "model" : "", "oracle");
    std::vector<Gains> gains(options.instruments.size());
    for (int s = 0; s < songs; ++s) {
        Case song;
        if (!load(s, song))
            return 1;
        const double seconds = double(song.audio.frames()) / song.audio.sampleRate;
        for (size_t i = 0; i < options.instruments.size(); ++i) {
            const std::string &instrument = options.instruments[i];
            const std::vector<double> *reference = song.stem(instrument);
            if (!reference)
                continue;
            Gains &total = gains[i];
            const double mixture = SiSdr::of(*reference, song.audio.samples);
            Separator::Parts parts;
            auto start = std::chrono::steady_clock::now();
            Separator::split(song.audio, instrument, parts);
            total.separatorSeconds += secondsSince(start);
            total.separator.push_back(SiSdr::of(*reference, parts.instrument) - mixture);
            if (!recorded)
                total.band.push_back(
                    SiSdr::of(*reference, BandSplit::isolate(song.audio, instrument)) - mixture);
            if (model) {
                start = std::chrono::steady_clock::now();
                Separator::split(song.audio, instrument, parts, nullptr, model);
                total.modelSeconds += secondsSince(start);
                total.model.push_back(SiSdr::of(*reference, parts.instrument) - mixture);
            }
            total.oracle.push_back(
                SiSdr::of(*reference, OracleMask::isolate(song.audio.samples, *reference, options.frameSize))
                - mixture);
            total.audioSeconds += seconds;
            if (options.perSong) {
                const auto last = [](const std::vector<double> &values) {
                    char cell[16] = "";
                    if (!values.empty())
                        std::snprintf(cell, sizeof cell, "%+8.1f", values.back());
                    return std::string(cell);
                };
                std::printf("%-22s %-10s %8.1f %8s %8s %8s %8s\n", song.name.c_str(), instrument.c_str(),
                    mixture, last(total.separator).c_str(), last(total.band).c_str(),
                    last(total.model).c_str(), last(total.oracle).c_str());
            }
        }
    }
    if (options.perSong)
        std::printf("\n");

    const auto summary = recorded ? median : mean;
    const auto worst = [](const std::vector<double> &values) {
        return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
    };
    std::printf(
        "SI-SDR gain over the mixture in dB, %s over the songs%s. Speed: seconds of audio separated per\n"
        "second, one thread. Oracle: ideal ratio mask, %d-sample frames.\n\n",
        recorded ? "median" : "mean", recorded ? " (worst song in brackets)" : "", options.frameSize);
    std::printf("%-10s %5s  %-16s", "instrument", "songs", "  separator");
    if (!recorded)
        std::printf("  %-8s", "band");
    if (model)
        std::printf("  %-16s", "  model");
    std::printf("  %-8s\n", "oracle");
    for (size_t i = 0; i < options.instruments.size(); ++i) {
        const Gains &total = gains[i];
        const auto column = [&](const std::vector<double> &values, double work) {
            if (recorded)
                std::printf("  %+6.1f (%+5.1f)", summary(values), worst(values));
            else
                std::printf("  %+6.1f", summary(values));
            std::printf(" %4.0fx", total.audioSeconds / std::max(work, 1e-9));
        };
        std::printf("%-10s %5zu", options.instruments[i].c_str(), total.oracle.size());
        if (total.oracle.empty()) {
            std::printf("  no song has it\n");
            continue;
        }
        column(total.separator, total.separatorSeconds);
        if (!recorded)
            std::printf("  %+8.1f", summary(total.band));
        if (model)
            column(total.model, total.modelSeconds);
        std::printf("  %+8.1f\n", summary(total.oracle));
    }
    return 0;
}

int evaluateSynthetic(const Options &options, MaskModel *model)
{
    std::printf(
        "%d synthetic songs of %g s, stereo 44.1 kHz, %d with every stem in the centre; seeds %u-%u.\n",
        options.songs, options.seconds, options.centred, options.seed, options.seed + options.songs - 1);
    return evaluate(
        options, options.songs,
        [&options](int s, Case &song) {
            const bool centre = s >= options.songs - options.centred;
            auto synthetic = std::make_shared<SyntheticSong>(
                SyntheticSong::make(options.seed + static_cast<unsigned>(s), options.seconds, centre));
            song.name = std::to_string(options.seed + static_cast<unsigned>(s)) + (centre ? " centre" : "");
            song.audio = stereo(synthetic->mixture());
            song.stem = [synthetic](const std::string &instrument) { return &synthetic->stem(instrument); };
            return true;
        },
        model, false);
}

int evaluateRecorded(const Options &options, MaskModel *model)
{
    const std::vector<std::string> paths = RecordedSong::songsIn(options.recorded);
    if (paths.empty()) {
        std::fprintf(stderr, "no rendered songs in %s\n", options.recorded.c_str());
        return 1;
    }
    std::printf("%zu songs rendered from recorded-sample soundfonts in %s, stereo 44.1 kHz.\n", paths.size(),
        options.recorded.c_str());
    return evaluate(
        options, static_cast<int>(paths.size()),
        [&paths](int s, Case &song) {
            auto recorded = std::make_shared<RecordedSong>();
            std::string error;
            if (!RecordedSong::load(paths[static_cast<size_t>(s)], *recorded, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return false;
            }
            song.name = recorded->name();
            song.audio = stereo(recorded->mixture());
            song.stem = [recorded](const std::string &instrument) {
                return recorded->has(instrument) ? &recorded->stem(instrument) : nullptr;
            };
            return true;
        },
        model, true);
}

// A long mixture strung together from 20-second songs, a few of them all-centre, so that a long file
// costs no more memory to make than one short song.
int write(const Options &options)
{
    constexpr double piece = 20.0;
    std::vector<std::int16_t> samples;
    for (int s = 0; s * piece < options.seconds; ++s) {
        const double seconds = std::min(piece, options.seconds - s * piece);
        if (seconds < 1.0)
            break;
        const std::vector<std::int16_t> part
            = SyntheticSong::make(options.seed + static_cast<unsigned>(s), seconds, s % 4 == 3).mixture();
        samples.insert(samples.end(), part.begin(), part.end());
    }
    const WavAudio audio = stereo({});
    std::string error;
    if (!audio.save(options.write, samples, error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", options.write.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

// Loads a WAV whole and separates it in memory, once per instrument.
int split(const Options &options)
{
    WavAudio audio;
    std::string error;
    if (!WavAudio::load(options.split, audio, error)) {
        std::fprintf(stderr, "cannot read %s: %s\n", options.split.c_str(), error.c_str());
        return 1;
    }
    const double seconds = double(audio.frames()) / audio.sampleRate;
    std::printf(
        "%.0f s, %d channels\n%-10s  %8s  %6s\n", seconds, audio.channels, "instrument", "seconds", "x real");
    for (const std::string &instrument : options.instruments) {
        Separator::Parts parts;
        const auto start = std::chrono::steady_clock::now();
        Separator::split(audio, instrument, parts);
        const double work = secondsSince(start);
        std::printf("%-10s  %8.2f  %6.0f\n", instrument.c_str(), work, seconds / std::max(work, 1e-9));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    if (!options.write.empty())
        return write(options);
    if (!options.split.empty())
        return split(options);
    const std::unique_ptr<MaskModel> model = loadModel(options, argv[0]);
    return options.recorded.empty() ? evaluateSynthetic(options, model.get())
                                    : evaluateRecorded(options, model.get());
}
