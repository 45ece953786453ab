#include "SongProcessor.h"

#include "Credentials.h"
#include "Database.h"
#include "DiskSync.h"
#include "MaskModel.h"
#include "Separator.h"
#include "WavAudio.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void removeFile(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Speeds before any job was measured: the timing run's figures on one core, stereo-equivalent seconds
// of audio per second, rounded down.
double priorSpeed(const std::string &instrument)
{
    // A model costs about the same for every instrument: the network runs whole each time.
    if (instrument.rfind("model ", 0) == 0)
        return 10.0;
    if (instrument == "drums")
        return 25.0;
    if (instrument == "bass")
        return 150.0;
    if (instrument == "vocals")
        return 18.0;
    return 10.0; // guitar and piano
}

// A measured speed within a factor of the prior one either way: a job slowed by a busy computer, or an
// odd upload, must not make every estimate absurd.
double saneSpeed(const std::string &instrument, double measured)
{
    constexpr double factor = 10.0;
    return std::clamp(measured, priorSpeed(instrument) / factor, priorSpeed(instrument) * factor);
}

// Seconds a job takes beyond its audio: starting the process, opening the files, flushing the results.
constexpr double jobOverheadSeconds = 0.2;
// Jobs shorter than this say more about the overhead than about the speed.
constexpr double measurableSeconds = 1.0;

// Exit statuses of a job.
constexpr int jobOk = 0;
constexpr int jobOutOfMemory = 3;
constexpr int jobBadInput = 4;
constexpr int jobServiceError = 5;
constexpr int jobUsage = 64;
constexpr int jobExecFailed = 127;
// The descriptor a job reports its progress on.
constexpr int progressFd = 3;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELK_SANITIZED 1
#endif
#endif

// The sanitizers reserve terabytes of address space for their shadow memory: under them the limit is
// left off.
constexpr bool limitAddressSpace =
#ifdef ZELK_SANITIZED
    false;
#else
    true;
#endif

void writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        done += static_cast<size_t>(put);
    }
}

std::string signalName(int number)
{
    const char *name = ::sigabbrev_np(number);
    return name ? std::string("SIG") + name : "signal " + std::to_string(number);
}

} // namespace

SongProcessor::SongProcessor(Database &database, std::string uploadsDir, std::string resultsDir,
    int jobMemoryMegabytes, int workers, std::string modelsDir)
    : database(database)
    , uploadsDir(std::move(uploadsDir))
    , resultsDir(std::move(resultsDir))
    , jobMemoryMegabytes(jobMemoryMegabytes)
    , workers(std::max(1, workers))
    , modelsDir(std::move(modelsDir))
{ }

SongProcessor::~SongProcessor()
{
    if (checkedModel.valid())
        checkedModel.wait();
}

void SongProcessor::checkModel()
{
    const std::string path = modelsDir + "/" + MaskModel::fileName;
    checkedModel = std::async(std::launch::async, [this, path] {
        std::string reason;
        int progressPipe = -1;
        const pid_t child
            = startJob({ "zelk-service", "--check-model", path }, "the model check", progressPipe);
        if (child >= 0) {
            std::string said;
            char buffer[512];
            for (ssize_t got; (got = ::read(progressPipe, buffer, sizeof buffer)) != 0;) {
                if (got > 0)
                    said.append(buffer, static_cast<size_t>(got));
                else if (errno != EINTR)
                    break;
            }
            ::close(progressPipe);
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
            if (WIFEXITED(status) && WEXITSTATUS(status) == jobOk) {
                modelInUse = true;
                std::cerr << "separation model " << path << ": songs are split with it" << std::endl;
                return path;
            }
            reason = WIFEXITED(status) && WEXITSTATUS(status) == jobOutOfMemory
                ? "it does not fit in the job memory limit of " + std::to_string(jobMemoryMegabytes) + " MB"
                : said.rfind("error ", 0) == 0 ? said.substr(6, said.find('\n') - 6)
                                               : "its check ended with status " + std::to_string(status);
        } else {
            reason = "its check could not be started";
        }
        std::cerr << "no separation model (" << reason
                  << "): songs are split with the signal-processing methods" << std::endl;
        return std::string();
    }).share();
}

std::string SongProcessor::model()
{
    return checkedModel.valid() ? checkedModel.get() : std::string();
}

std::string SongProcessor::speedKey(const std::string &instrument) const
{
    return modelInUse ? "model " + instrument : instrument;
}

std::string SongProcessor::resultPath(std::int32_t songId, bool mix) const
{
    return resultsDir + "/" + std::to_string(songId) + (mix ? "-mix.wav" : "-instrument.wav");
}

void SongProcessor::removeResults(std::int32_t songId) const
{
    removeFile(resultPath(songId, false));
    removeFile(resultPath(songId, true));
}

bool SongProcessor::shareResults(std::int32_t from, std::int32_t to) const
{
    // A second name for the same file: the one song expiring or cancelled leaves the other's alone.
    for (const bool mix : { false, true }) {
        const std::string source = resultPath(from, mix);
        const std::string target = resultPath(to, mix);
        std::error_code failure;
        if (::link(source.c_str(), target.c_str()) != 0
            && (!std::filesystem::copy_file(source, target, failure) || !DiskSync::sync(target))) {
            removeResults(to);
            return false;
        }
    }
    return DiskSync::sync(resultsDir);
}

void SongProcessor::releaseUpload(const std::string &stored) const
{
    if (!stored.empty() && !database.storedFileNeeded(stored))
        removeFile(uploadsDir + "/" + stored);
}

void SongProcessor::process(std::int32_t songId, const std::atomic<bool> &stop)
{
    const std::optional<Database::Song> song = database.song(songId);
    if (!song)
        return;
    if (song->state != "queued") {
        releaseUpload(song->uploadStored);
        const std::lock_guard<std::mutex> lock(mutex);
        cancelled.erase(songId);
        return;
    }
    run(*song, stop);
    // Unless the song is still queued after a stop, it no longer needs its upload.
    releaseUpload(song->uploadStored);
    const std::lock_guard<std::mutex> lock(mutex);
    cancelled.erase(songId);
}

void SongProcessor::run(const Database::Song &song, const std::atomic<bool> &stop)
{
    const std::int32_t songId = song.id;
    // Counted before the job starts, so that a job the whole service dies in counts too.
    const int attempts = database.startAttempt(songId);
    if (attempts < 0)
        return;
    if (attempts > maxAttempts) {
        database.failSong(songId,
            "Processing failed: the service stopped unexpectedly " + std::to_string(maxAttempts)
                + " times while working on this song, so it will not be tried again");
        return;
    }

    const std::string instrumentPath = resultPath(songId, false);
    const std::string mixPath = resultPath(songId, true);
    const std::string instrumentPart = instrumentPath + ".part";
    const std::string mixPart = mixPath + ".part";
    std::string failure;
    const JobEnd end = runChild(song, instrumentPart, mixPart, stop, failure);
    if (end != JobEnd::Done) {
        removeFile(instrumentPart);
        removeFile(mixPart);
        // On a stop the song stays queued and starts over at the next start, not counted.
        if (end == JobEnd::Stopped)
            database.undoAttempt(songId);
        else
            database.failSong(songId, failure);
        return;
    }

    // The job flushed both files; flushing again is cheap and keeps the rule that this process renames
    // only what it saw on the disk.
    if (!DiskSync::sync(instrumentPart) || !DiskSync::sync(mixPart)
        || std::rename(instrumentPart.c_str(), instrumentPath.c_str()) != 0
        || std::rename(mixPart.c_str(), mixPath.c_str()) != 0 || !DiskSync::sync(resultsDir)) {
        removeFile(instrumentPart);
        removeFile(mixPart);
        removeResults(songId);
        if (stop) {
            database.undoAttempt(songId);
            return;
        }
        std::cerr << "song " << songId << ": cannot store its results" << std::endl;
        database.failSong(songId, "Processing failed on the service");
        return;
    }
    // A cancel that arrived meanwhile wins: its results are thrown away.
    if (!database.finishSong(songId, Credentials::randomHex(16), Credentials::randomHex(16)))
        removeResults(songId);
}

SongProcessor::JobEnd SongProcessor::runChild(const Database::Song &song, const std::string &instrumentPart,
    const std::string &mixPart, const std::atomic<bool> &stop, std::string &failure)
{
    const std::int32_t songId = song.id;
    std::vector<std::string> arguments { "zelk-service", "--job", uploadsDir + "/" + song.uploadStored,
        song.instrument, instrumentPart, mixPart };
    if (const std::string path = model(); !path.empty())
        arguments.push_back(path);
    const std::string key = speedKey(song.instrument);
    int progressPipe = -1;
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = startJob(std::move(arguments), "song " + std::to_string(songId), progressPipe);
    if (child < 0) {
        failure = "Processing failed on the service";
        return JobEnd::Failed;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        running[songId] = Running { key, song.workMilliseconds, 0.0 };
    }
    std::string reported;
    const bool killed = followJob(songId, child, progressPipe, stop, reported);
    int status = 0;
    rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) { }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        running.erase(songId);
        cancelled.erase(songId);
    }
    if (killed || stop)
        return JobEnd::Stopped;
    const JobEnd end = classifyExit(song, status, usage, reported, failure);
    if (end == JobEnd::Done)
        measured(key, song.workMilliseconds, seconds);
    return end;
}

pid_t SongProcessor::startJob(
    std::vector<std::string> arguments, const std::string &what, int &progressPipe) const
{
    // Everything the child needs is made before the fork: between fork and exec only system calls.
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    rlimit memory {};
    memory.rlim_cur = memory.rlim_max = static_cast<rlim_t>(jobMemoryMegabytes) * 1024 * 1024;
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const int lastFd = files.rlim_cur == RLIM_INFINITY || files.rlim_cur > 65536
        ? 65536
        : static_cast<int>(files.rlim_cur);
    const pid_t parent = ::getpid();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::cerr << what << ": cannot make a pipe" << std::endl;
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // The job dies with the service; its progress goes to descriptor 3; nothing else of the
        // service's (sockets, the database) stays open in it. SIGINT and SIGTERM stay blocked, as the
        // service has them: a Ctrl+C in the terminal reaches the service, which ends its jobs itself.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(jobExecFailed);
        if (pipeFds[1] == progressFd)
            ::fcntl(progressFd, F_SETFD, 0);
        else if (::dup2(pipeFds[1], progressFd) != progressFd)
            ::_exit(jobExecFailed);
#ifdef SYS_close_range
        if (::syscall(SYS_close_range, progressFd + 1, ~0U, 0) != 0)
#endif
            for (int fd = progressFd + 1; fd < lastFd; ++fd)
                ::close(fd);
        if (limitAddressSpace)
            ::setrlimit(RLIMIT_AS, &memory);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(jobExecFailed);
    }
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        std::cerr << what << ": cannot start a job" << std::endl;
        return -1;
    }
    progressPipe = pipeFds[0];
    return child;
}

bool SongProcessor::followJob(
    std::int32_t songId, pid_t child, int progressPipe, const std::atomic<bool> &stop, std::string &reported)
{
    // Reads the job's reports until it closes the pipe, and ends it at once on a stop.
    std::string lines;
    bool killed = false;
    char buffer[512];
    const auto cancelledNow = [this, songId] {
        const std::lock_guard<std::mutex> lock(mutex);
        return cancelled.count(songId) > 0;
    };
    for (;;) {
        if ((stop || cancelledNow()) && !killed) {
            ::kill(child, SIGKILL);
            killed = true;
        }
        pollfd watch { progressPipe, POLLIN, 0 };
        const int ready = ::poll(&watch, 1, 50);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(progressPipe, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        lines.append(buffer, static_cast<size_t>(got));
        for (size_t newline = lines.find('\n'); newline != std::string::npos; newline = lines.find('\n')) {
            const std::string line = lines.substr(0, newline);
            lines.erase(0, newline + 1);
            if (line.rfind("progress ", 0) == 0) {
                const double fraction = std::atof(line.c_str() + 9);
                const std::lock_guard<std::mutex> lock(mutex);
                running[songId].fraction = std::clamp(fraction, 0.0, 1.0);
            } else if (line.rfind("error ", 0) == 0) {
                reported = line.substr(6, 500);
            }
        }
    }
    ::close(progressPipe);
    return killed;
}

SongProcessor::JobEnd SongProcessor::classifyExit(const Database::Song &song, int status, const rusage &usage,
    const std::string &reported, std::string &failure) const
{
    const std::string prefix = "song " + std::to_string(song.id) + " (" + song.instrument + "): ";
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case jobOk:
            return JobEnd::Done;
        case jobOutOfMemory:
            std::cerr << prefix << "out of memory" << std::endl;
            failure = "Processing failed: the job needed more memory than the service allows for one job ("
                + std::to_string(jobMemoryMegabytes) + " MB)";
            return JobEnd::Failed;
        case jobBadInput:
            failure = reported.empty() ? "The uploaded file could not be read" : reported;
            return JobEnd::Failed;
        default:
            std::cerr << prefix << "job ended with status " << WEXITSTATUS(status)
                      << (reported.empty() ? "" : ": " + reported) << std::endl;
            failure = "Processing failed on the service";
            return JobEnd::Failed;
        }
    }
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    std::cerr << prefix << "job ended by " << signalName(signal) << ", peak memory " << usage.ru_maxrss / 1024
              << " MB" << std::endl;
    // Nobody here sent it: the system's out-of-memory killer ends a process with SIGKILL.
    failure = signal == SIGKILL ? "Processing failed: the job was stopped by the system, most likely because "
                                  "the computer ran out of memory"
                                : "Processing failed: the job crashed (" + signalName(signal) + ")";
    return JobEnd::Failed;
}

bool SongProcessor::isJobCommand(int argc, char **argv)
{
    return argc >= 2 && (std::string(argv[1]) == "--job" || std::string(argv[1]) == "--check-model");
}

int SongProcessor::runJob(int argc, char **argv)
{
    if (std::string(argv[1]) == "--check-model") {
        if (argc != 3) {
            std::cerr << "usage: zelk-service --check-model MODEL" << std::endl;
            return jobUsage;
        }
        std::string error;
        bool outOfMemory = false;
        if (loadModel(argv[2], error, outOfMemory))
            return jobOk;
        writeAll(progressFd, "error " + error + "\n");
        return outOfMemory ? jobOutOfMemory : jobServiceError;
    }
    if (argc != 6 && argc != 7) {
        std::cerr << "usage: zelk-service --job INPUT INSTRUMENT INSTRUMENT_OUT MIX_OUT [MODEL]" << std::endl;
        return jobUsage;
    }
    const std::string input = argv[2];
    const std::string instrument = argv[3];
    const std::string instrumentPart = argv[4];
    const std::string mixPart = argv[5];
    ::signal(SIGPIPE, SIG_IGN);
    try {
        std::unique_ptr<MaskModel> model;
        if (argc == 7) {
            // The service checked this model at its start: failing now (a file replaced meanwhile) costs the
            // song only the model.
            std::string error;
            bool outOfMemory = false;
            model = loadModel(argv[6], error, outOfMemory);
            if (outOfMemory)
                return jobOutOfMemory;
            if (!model)
                std::cerr << "zelk-service job: " << error << "; this song is split without the model"
                          << std::endl;
        }
        auto last = std::chrono::steady_clock::now();
        const auto progress = [&last](std::int64_t done, std::int64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(100) && done < total)
                return;
            last = now;
            char line[64];
            std::snprintf(line, sizeof line, "progress %.4f\n", total > 0 ? double(done) / total : 1.0);
            writeAll(progressFd, line);
        };
        std::string error;
        Separator::Outcome outcome = Separator::splitFile(
            input, instrument, instrumentPart, mixPart, error, nullptr, progress, model.get());
        if (outcome == Separator::Outcome::ModelFailed) {
            std::cerr << "zelk-service job: " << error << "; this song is split again without the model"
                      << std::endl;
            outcome
                = Separator::splitFile(input, instrument, instrumentPart, mixPart, error, nullptr, progress);
        }
        if (outcome != Separator::Outcome::Done) {
            // A file that cannot be opened at all was removed before its turn; the others are the
            // upload's fault or the disk's.
            WavAudio shape;
            std::int64_t frames = 0;
            std::string probeError;
            const bool readable = WavAudio::probe(input, shape, frames, probeError);
            const bool inputFault = !readable || error == "The uploaded WAV file is truncated";
            writeAll(progressFd,
                "error " + (readable ? error : "The uploaded file was removed before it was processed")
                    + "\n");
            return inputFault ? jobBadInput : jobServiceError;
        }
        if (!DiskSync::sync(instrumentPart) || !DiskSync::sync(mixPart)) {
            writeAll(progressFd, "error cannot flush the results\n");
            return jobServiceError;
        }
    } catch (const std::bad_alloc &) {
        return jobOutOfMemory;
    } catch (const std::length_error &) {
        return jobOutOfMemory;
    }
    return jobOk;
}

std::unique_ptr<MaskModel> SongProcessor::loadModel(
    const std::string &path, std::string &error, bool &outOfMemory)
{
    // The network's libraries start their thread pools as they load: one thread each, told before.
    ::setenv("OMP_NUM_THREADS", "1", 1);
    ::setenv("OPENBLAS_NUM_THREADS", "1", 1);
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    const std::string plugin = (self.parent_path() / MaskModel::pluginName).string();
    return MaskModel::load(plugin, path, error, outOfMemory);
}

std::int64_t SongProcessor::workMilliseconds(std::int64_t frames, int sampleRate, int channels)
{
    if (sampleRate <= 0 || frames <= 0)
        return 0;
    // The transforms are per channel, the masks per frame: a channel more costs about a third of a
    // stereo song.
    return frames * 1000 / sampleRate * (std::max(1, channels) + 1) / 3;
}

double SongProcessor::speed(const std::string &instrument)
{
    // Called with the mutex held.
    if (speeds.empty()) {
        speeds = database.speeds();
        speeds.emplace("", 0.0);
    }
    const auto found = speeds.find(instrument);
    return found != speeds.end() && found->second > 0.0 ? saneSpeed(instrument, found->second)
                                                        : priorSpeed(instrument);
}

void SongProcessor::measured(const std::string &instrument, std::int64_t workMilliseconds, double seconds)
{
    const double working = seconds - jobOverheadSeconds;
    if (working < measurableSeconds || workMilliseconds <= 0)
        return;
    const double rate = saneSpeed(instrument, workMilliseconds / 1000.0 / working);
    double smoothed = 0.0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        // Recent jobs count most, one odd job does not swing it.
        smoothed = 0.7 * speed(instrument) + 0.3 * rate;
        speeds[instrument] = smoothed;
    }
    database.setSpeed(instrument, smoothed);
}

void SongProcessor::cancel(std::int32_t songId)
{
    // Kept until the song's turn ends, in case its job is just starting.
    const std::lock_guard<std::mutex> lock(mutex);
    cancelled.insert(songId);
}

std::int64_t SongProcessor::estimatedDone(
    const Database::Song &song, std::int64_t now, const std::vector<std::int32_t> &order)
{
    std::map<std::int32_t, Database::Song> queuedById;
    for (Database::Song &queued : database.queuedSongsInOrder())
        queuedById.emplace(queued.id, std::move(queued));
    std::vector<Database::Song> queued;
    for (const std::int32_t id : order) {
        if (const auto found = queuedById.find(id); found != queuedById.end())
            queued.push_back(found->second);
    }
    const std::lock_guard<std::mutex> lock(mutex);
    const auto duration = [this](const std::string &instrument, std::int64_t work, double fraction) {
        return (1.0 - fraction) * (work / 1000.0) / speed(instrument)
            + (fraction > 0.0 ? 0.0 : jobOverheadSeconds);
    };
    // Each worker is free once its running job is done; the songs ahead go to whichever is free first.
    std::vector<double> freeAt;
    for (const auto &[id, job] : running) {
        const double left = duration(job.instrument, job.workMilliseconds, job.fraction);
        if (id == song.id)
            return now + static_cast<std::int64_t>(left * 1000.0);
        freeAt.push_back(left);
    }
    freeAt.resize(static_cast<size_t>(std::max<int>(workers, static_cast<int>(freeAt.size()))), 0.0);
    for (const Database::Song &ahead : queued) {
        if (ahead.id == song.id)
            break;
        if (running.count(ahead.id) > 0)
            continue;
        *std::min_element(freeAt.begin(), freeAt.end())
            += duration(speedKey(ahead.instrument), ahead.workMilliseconds, 0.0);
    }
    const double start = *std::min_element(freeAt.begin(), freeAt.end());
    return now
        + static_cast<std::int64_t>(
            (start + duration(speedKey(song.instrument), song.workMilliseconds, 0.0)) * 1000.0);
}

void SongProcessor::expire(std::int64_t now)
{
    const std::int64_t before = now - keepMilliseconds;
    for (const Database::Song &song : database.expireSongsBefore(before)) {
        removeResults(song.id);
        releaseUpload(song.uploadStored);
    }
    for (const std::string &stored : database.removeUploadsBefore(before))
        releaseUpload(stored);
}
