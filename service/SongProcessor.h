#pragma once

#include "Database.h"

#include <atomic>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <sys/resource.h>
#include <sys/types.h>

class MaskModel;

// Runs one queued song: splits its upload in a child process of its own, under a memory limit, and
// stores the two result WAVs. A job that runs out of memory or crashes fails its song with a reason;
// the service goes on. A song whose job the service itself died in is tried a few times at most.
class SongProcessor
{
public:
    SongProcessor(Database &database, std::string uploadsDir, std::string resultsDir, int jobMemoryMegabytes,
        int workers, std::string modelsDir);
    ~SongProcessor();
    SongProcessor(const SongProcessor &) = delete;
    SongProcessor &operator=(const SongProcessor &) = delete;

    // Starts the check of the models folder's model in a process of its own, under the job memory limit,
    // and says once in the log whether songs are split with it or with the signal-processing methods.
    // Jobs wait for its answer.
    void checkModel();

    // Leaves the song queued, and no file behind, when stop is set before it is done.
    void process(std::int32_t songId, const std::atomic<bool> &stop);
    // Deletes the results and uploads older than the keeping time.
    void expire(std::int64_t now);

    void removeResults(std::int32_t songId) const;
    // Gives song to the results of song from, as files of its own; false when they could not be had.
    bool shareResults(std::int32_t from, std::int32_t to) const;
    // Deletes a stored upload once neither an upload nor a queued song refers to it: a song keeps
    // its file until it is done, whatever happens to the upload meanwhile.
    void releaseUpload(const std::string &stored) const;
    std::string resultPath(std::int32_t songId, bool mix) const;

    // When a queued song should be done, from the measured speeds, the progress of the running jobs and
    // the songs queued ahead of it.
    // order: the queued songs in the order the workers take them.
    std::int64_t estimatedDone(
        const Database::Song &song, std::int64_t now, const std::vector<std::int32_t> &order);
    // Ends the song's running job at once, if it has one.
    void cancel(std::int32_t songId);
    // Stereo-equivalent milliseconds of audio: what the speeds are measured in.
    static std::int64_t workMilliseconds(std::int64_t frames, int sampleRate, int channels);

    // The child's side, "zelk-service --job INPUT INSTRUMENT INSTRUMENT_OUT MIX_OUT [MODEL]": splits one
    // file, with the model when one is named, reports progress on descriptor 3 and answers the exit
    // status. "zelk-service --check-model MODEL" loads the model and answers whether it works.
    static int runJob(int argc, char **argv);
    // Loads a model through the plug-in beside this program.
    static std::unique_ptr<MaskModel> loadModel(
        const std::string &path, std::string &error, bool &outOfMemory);
    static bool isJobCommand(int argc, char **argv);

    static constexpr std::int64_t keepMilliseconds = 30LL * 24 * 3600 * 1000;
    // Jobs started on one song before it is given up: the service died during the others.
    static constexpr int maxAttempts = 3;

private:
    enum class JobEnd { Done, Stopped, Failed };
    void run(const Database::Song &song, const std::atomic<bool> &stop);
    JobEnd runChild(const Database::Song &song, const std::string &instrumentPart, const std::string &mixPart,
        const std::atomic<bool> &stop, std::string &failure);
    // Forks and execs this program with arguments under the job memory limit; answers its pid and the
    // read end of its progress pipe, or -1 when it could not be started (logged with what).
    pid_t startJob(std::vector<std::string> arguments, const std::string &what, int &progressPipe) const;
    // The model every job uses, empty for none: waits for the check.
    std::string model();
    // The name speeds are measured under: a model's speed is its own.
    std::string speedKey(const std::string &instrument) const;
    // Follows the job's progress until it closes the pipe, killing it on a stop or a cancel; reported gets
    // the reason it gave for a failure. Answers whether it was killed.
    bool followJob(std::int32_t songId, pid_t child, int progressPipe, const std::atomic<bool> &stop,
        std::string &reported);
    // What the job's exit status means for the song, with the reason in failure.
    JobEnd classifyExit(const Database::Song &song, int status, const rusage &usage,
        const std::string &reported, std::string &failure) const;
    double speed(const std::string &instrument);
    void measured(const std::string &instrument, std::int64_t workMilliseconds, double seconds);

    Database &database;
    const std::string uploadsDir;
    const std::string resultsDir;
    const int jobMemoryMegabytes;
    const int workers;
    const std::string modelsDir;
    std::shared_future<std::string> checkedModel;
    std::atomic<bool> modelInUse { false };

    struct Running
    {
        std::string instrument;
        std::int64_t workMilliseconds = 0;
        double fraction = 0.0; // of the frames done
    };
    std::mutex mutex;
    std::map<std::int32_t, Running> running;
    std::map<std::string, double> speeds;
    std::set<std::int32_t> cancelled;
};
