// zelk-separation-eval: how well the local service's separation recovers each instrument from seeded
// synthetic songs whose stems are known, beside the older band split and the ideal mask's ceiling.
#include "BandSplit.h"
#include "OracleMask.h"
#include "Separator.h"
#include "SiSdr.h"
#include "SyntheticSong.h"
#include "WavAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
};

void usage()
{
    std::fputs("usage: zelk-separation-eval [--songs N] [--seconds S] [--centre N] [--seed N] [--frame N]\n"
               "                            [--instrument NAME]... [--per-song]\n"
               "       zelk-separation-eval --write FILE.wav [--seconds S] [--seed N]\n"
               "       zelk-separation-eval --split FILE.wav [--instrument NAME]...\n"
               "Scores the separation on seeded synthetic songs (default 8 of 20 s, 2 all-centre, seed 1);\n"
               "--write renders a long mixture of such songs, --split times the separation of a WAV file.\n",
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

struct Scores
{
    double mixture = 0.0;
    double separated = 0.0;
    double band = 0.0;
    double oracle = 0.0;
    double audioSeconds = 0.0;
    double workSeconds = 0.0;
};

int evaluate(const Options &options)
{
    std::printf("%d songs of %g s, stereo 44.1 kHz, %d with every stem in the centre; seeds %u-%u.\n",
        options.songs, options.seconds, options.centred, options.seed, options.seed + options.songs - 1);
    std::printf("SI-SDR in dB, mean over the songs; gain over the mixture's. Oracle: ideal ratio mask,\n"
                "%d-sample frames. Speed: seconds of audio separated per second, one thread.\n\n",
        options.frameSize);
    if (options.perSong)
        std::printf("%-4s %-7s %-10s %8s %8s %8s %8s\n", "song", "centre", "instrument", "mixture", "separ.",
            "band", "oracle");

    std::vector<Scores> totals(options.instruments.size());
    for (int s = 0; s < options.songs; ++s) {
        const bool centre = s >= options.songs - options.centred;
        const SyntheticSong song
            = SyntheticSong::make(options.seed + static_cast<unsigned>(s), options.seconds, centre);
        const WavAudio audio = stereo(song.mixture());
        for (size_t i = 0; i < options.instruments.size(); ++i) {
            const std::string &instrument = options.instruments[i];
            const std::vector<double> &reference = song.stem(instrument);
            Scores scores;
            scores.mixture = SiSdr::of(reference, audio.samples);
            Separator::Parts parts;
            const auto start = std::chrono::steady_clock::now();
            Separator::split(audio, instrument, parts);
            scores.workSeconds = secondsSince(start);
            scores.audioSeconds = double(song.frames()) / SyntheticSong::sampleRate;
            scores.separated = SiSdr::of(reference, parts.instrument);
            scores.band = SiSdr::of(reference, BandSplit::isolate(audio, instrument));
            scores.oracle = SiSdr::of(reference, OracleMask::isolate(song, instrument, options.frameSize));
            if (options.perSong)
                std::printf("%-4d %-7s %-10s %8.1f %8.1f %8.1f %8.1f\n", s + 1, centre ? "yes" : "no",
                    instrument.c_str(), scores.mixture, scores.separated, scores.band, scores.oracle);

            Scores &total = totals[i];
            total.mixture += scores.mixture / options.songs;
            total.separated += scores.separated / options.songs;
            total.band += scores.band / options.songs;
            total.oracle += scores.oracle / options.songs;
            total.audioSeconds += scores.audioSeconds;
            total.workSeconds += scores.workSeconds;
        }
    }
    if (options.perSong)
        std::printf("\n");

    std::printf("%-10s  %7s  %-16s  %-16s  %-16s  %6s\n", "", "mixture", "   separator", "   band split",
        "   oracle mask", "speed");
    std::printf("%-10s  %7s  %7s %8s  %7s %8s  %7s %8s  %6s\n", "instrument", "SI-SDR", "SI-SDR", "gain",
        "SI-SDR", "gain", "SI-SDR", "gain", "x real");
    for (size_t i = 0; i < options.instruments.size(); ++i) {
        const Scores &total = totals[i];
        std::printf("%-10s  %7.1f  %7.1f %+8.1f  %7.1f %+8.1f  %7.1f %+8.1f  %6.0f\n",
            options.instruments[i].c_str(), total.mixture, total.separated, total.separated - total.mixture,
            total.band, total.band - total.mixture, total.oracle, total.oracle - total.mixture,
            total.audioSeconds / std::max(total.workSeconds, 1e-9));
    }
    return 0;
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
    return evaluate(options);
}
