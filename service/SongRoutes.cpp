#include "SongRoutes.h"

#include "Clock.h"
#include "Credentials.h"
#include "DiskSync.h"
#include "FormFields.h"
#include "FormReader.h"
#include "Separator.h"
#include "SongProcessor.h"
#include "WavAudio.h"
#include "WorkerPool.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

const char *const success = "success";
const char *const unknownSong = "Unknown song id";
const char *const invalidSong = "Invalid songID";
const char *const tooManyUnknown = "Too many unknown song ids, please try again in a minute";
// Song ids are random 31-bit numbers: at this rate one peer finds another's song once in years.
constexpr int unknownIdsPerMinute = 30;
constexpr size_t maxUploadNameLength = 255;
constexpr size_t maxExtensionLength = 16;
// Songs one account may have waiting or in work at once.
constexpr int maxQueuedPerUser = 10;
// The separation's frames and bands are laid out for these rates.
constexpr int minSampleRate = 8000;
constexpr int maxSampleRate = 192000;

void removeFile(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// The client sends the full path of its WAV as the part's file name; the upload is known by its last
// component, which repeat.php and removeUploaded.php name later.
std::string baseName(const std::string &path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isExtension(const std::string &extension)
{
    if (extension.size() > maxExtensionLength)
        return false;
    for (const char c : extension) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

bool isHostHeader(const std::string &host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (const char c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain && c != '.' && c != '-' && c != ':' && c != '[' && c != ']')
            return false;
    }
    return true;
}

std::int64_t secondsUntil(std::int64_t time, std::int64_t now)
{
    return (time - now + 999) / 1000;
}

} // namespace

SongRoutes::SongRoutes(
    Database &database, WorkerPool &workers, SongProcessor &processor, std::string uploadsDir, int minSeconds)
    : database(database)
    , workers(workers)
    , processor(processor)
    , uploadsDir(std::move(uploadsDir))
    , minSeconds(minSeconds)
    , unknownIds(unknownIdsPerMinute, 60 * 1000)
{ }

std::vector<std::pair<std::string, SongRoutes::Handler>> SongRoutes::routes()
{
    const auto bind
        = [this](std::string (SongRoutes::*method)(const FormFields &, const HttpServer::Request &)) {
              return [this, method](const FormFields &fields, const HttpServer::Request &request) {
                  return (this->*method)(fields, request);
              };
          };
    return {
        { "/zelk-server/repeat.php", bind(&SongRoutes::repeat) },
        { "/zelk-server/remains.php", bind(&SongRoutes::remains) },
        { "/zelk-server/cancel.php", bind(&SongRoutes::cancel) },
        { "/zelk-server/download.php", bind(&SongRoutes::download) },
        { "/zelk-server/removeUploaded.php", bind(&SongRoutes::removeUploaded) },
    };
}

std::string SongRoutes::resultPath(const std::string &token)
{
    return "/zelk-server/result/" + token + ".wav";
}

std::string SongRoutes::songFieldsProblem(const FormFields &fields, Database::User &user)
{
    if (const std::string problem
        = fields.problem({ "instrument", "fileName", "version", "hash", "extension", "originalFilePath" });
        !problem.empty())
        return problem;
    const std::optional<Database::User> owner = database.userByHash(fields.value("hash"));
    if (!owner)
        return "Unknown user";
    if (!Separator::isInstrument(fields.value("instrument")))
        return "Unknown instrument \"" + fields.value("instrument") + "\"";
    if (!isExtension(fields.value("extension")))
        return "Invalid extension";
    if (database.queuedCount(owner->id) >= maxQueuedPerUser)
        return "Too many songs are waiting for this account. Please wait until some are done";
    user = *owner;
    return {};
}

std::string SongRoutes::createSong(
    const FormFields &fields, const Database::User &user, const Database::Upload &upload)
{
    Database::Song song;
    song.userId = user.id;
    song.uploadStored = upload.stored;
    song.instrument = fields.value("instrument");
    song.name = fields.value("fileName");
    song.extension = fields.value("extension");
    song.originalPath = fields.value("originalFilePath");
    song.version = fields.value("version");
    song.state = "queued";
    song.created = Clock::now();
    song.readyAfter = song.created + minSeconds * 1000LL;
    // The work is the audio's length weighed by its channels, read from the stored file's header.
    WavAudio shape;
    std::int64_t frames = 0;
    std::string error;
    const int channels
        = WavAudio::probe(uploadsDir + "/" + upload.stored, shape, frames, error) ? shape.channels : 2;
    song.workMilliseconds = SongProcessor::workMilliseconds(upload.frames, upload.sampleRate, channels);
    song.uploadDigest = upload.digest;
    song.estimatedDone = processor.estimatedDone(song, song.created, workers.order());
    if (!database.insertSong(song))
        return "Could not create the song, please try again later";
    // The same audio, instrument and version done for this user lately: its results serve at once.
    const std::optional<Database::Song> earlier = song.uploadDigest.empty()
        ? std::nullopt
        : database.sameSong(song, song.created - SongProcessor::keepMilliseconds);
    if (earlier && processor.shareResults(earlier->id, song.id)) {
        if (database.finishSong(song.id, Credentials::randomHex(16), Credentials::randomHex(16)))
            return std::to_string(song.id);
        processor.removeResults(song.id);
    }
    workers.enqueue(song.id, song.userId);
    return std::to_string(song.id);
}

std::string SongRoutes::newUploadPath() const
{
    // Written under a ".part" name and checked before it takes its place, so that a refused or broken
    // upload leaves nothing behind.
    return uploadsDir + "/" + Credentials::randomHex(16) + ".wav.part";
}

std::string SongRoutes::proceed(const FormFields &fields, FormReader &body)
{
    if (!body.hasFile() || body.fileName().empty())
        return "Missing file \"uploadedFile\"";
    Database::User user;
    if (const std::string problem = songFieldsProblem(fields, user); !problem.empty())
        return problem;
    Database::Upload upload;
    upload.userId = user.id;
    upload.name = baseName(body.fileName());
    if (upload.name.empty() || upload.name.size() > maxUploadNameLength)
        return "Invalid upload file name";

    const std::string &partial = body.filePath();
    if (!body.fileStored())
        return "Could not store the upload, please try again later";
    upload.stored = baseName(partial.substr(0, partial.size() - std::string(".part").size()));
    const std::string path = uploadsDir + "/" + upload.stored;
    WavAudio shape;
    std::string error;
    if (!WavAudio::probe(partial, shape, upload.frames, error))
        return error;
    if (shape.sampleRate < minSampleRate || shape.sampleRate > maxSampleRate)
        return "The uploaded WAV file's sample rate (" + std::to_string(shape.sampleRate)
            + " Hz) is outside what the service takes: 8 to 192 kHz";
    upload.sampleRate = shape.sampleRate;
    upload.created = Clock::now();
    upload.digest = body.fileDigest();
    std::string replaced;
    // On the disk, name included, before the database refers to it.
    if (!DiskSync::sync(partial) || std::rename(partial.c_str(), path.c_str()) != 0
        || !DiskSync::sync(uploadsDir) || !database.putUpload(upload, replaced)) {
        removeFile(path);
        return "Could not store the upload, please try again later";
    }
    // A song still queued on the replaced upload keeps reading it.
    processor.releaseUpload(replaced);
    return createSong(fields, user, upload);
}

std::string SongRoutes::repeat(const FormFields &fields, const HttpServer::Request &)
{
    if (const std::string problem = fields.problem({ "uploadedFileName" }); !problem.empty())
        return problem;
    Database::User user;
    if (const std::string problem = songFieldsProblem(fields, user); !problem.empty())
        return problem;
    // Only the user's own uploads: another account's file name finds nothing.
    const std::optional<Database::Upload> upload = database.upload(user.id, fields.value("uploadedFileName"));
    if (!upload)
        return "Upload not found. Please upload the file again";
    return createSong(fields, user, *upload);
}

bool SongRoutes::countUnknown(const HttpServer::Request &request)
{
    return unknownIds.take(request.peer, Clock::now());
}

std::optional<Database::Song> SongRoutes::requestedSong(
    const FormFields &fields, const HttpServer::Request &request, std::string &problem)
{
    std::int32_t id = 0;
    if (!FormFields::readId(fields.value("songID"), id)) {
        problem = invalidSong;
        return std::nullopt;
    }
    // A peer over its limit learns nothing, not even which ids exist.
    if (unknownIds.exhausted(request.peer, Clock::now())) {
        problem = tooManyUnknown;
        return std::nullopt;
    }
    std::optional<Database::Song> song = database.song(id);
    if (!song)
        problem = countUnknown(request) ? unknownSong : tooManyUnknown;
    return song;
}

std::string SongRoutes::remains(const FormFields &fields, const HttpServer::Request &request)
{
    std::string problem;
    const std::optional<Database::Song> song = requestedSong(fields, request, problem);
    if (!song)
        return problem;
    const std::int64_t now = Clock::now();
    if (song->state == "done")
        return now >= song->readyAfter ? "-1" : std::to_string(secondsUntil(song->readyAfter, now));
    if (song->state == "queued") {
        // Never "0" or "-1" while the work goes on: the client would stop asking.
        const std::int64_t target
            = std::max(song->readyAfter, processor.estimatedDone(*song, now, workers.order()));
        return std::to_string(std::max<std::int64_t>(1, secondsUntil(target, now)));
    }
    if (song->state == "cancelled")
        return "This song was cancelled";
    if (song->state == "failed")
        return song->error;
    return "The results of this song have expired";
}

std::string SongRoutes::cancel(const FormFields &fields, const HttpServer::Request &request)
{
    std::int32_t id = 0;
    if (!FormFields::readId(fields.value("songID"), id))
        return invalidSong;
    const std::int64_t now = Clock::now();
    if (unknownIds.exhausted(request.peer, now))
        return tooManyUnknown;
    const std::optional<std::string> before = database.cancelSong(id, now);
    if (!before)
        return countUnknown(request) ? unknownSong : tooManyUnknown;
    if (*before == "queued") {
        processor.cancel(id);
        if (const std::optional<Database::Song> song = database.song(id))
            processor.releaseUpload(song->uploadStored);
        return success;
    }
    if (*before == "cancelled")
        return success;
    // A song cancelled while held back until its ready time loses its finished results.
    const std::optional<Database::Song> after = database.song(id);
    if (*before == "done" && after && after->state == "cancelled") {
        processor.removeResults(id);
        return success;
    }
    return "The song is no longer being processed";
}

std::string SongRoutes::download(const FormFields &fields, const HttpServer::Request &request)
{
    std::string problem;
    const std::optional<Database::Song> song = requestedSong(fields, request, problem);
    if (!song)
        return problem;
    if (song->state == "queued" || (song->state == "done" && Clock::now() < song->readyAfter))
        return "The song is still being processed";
    if (song->state != "done")
        return remains(fields, request);
    const std::string base = baseUrl(request);
    return base + resultPath(song->instrumentToken) + "|" + base + resultPath(song->mixToken);
}

std::string SongRoutes::removeUploaded(const FormFields &fields, const HttpServer::Request &)
{
    if (const std::string problem = fields.problem({ "fileName" }); !problem.empty())
        return problem;
    // The client names only the file; a caller that also sends its hash limits the removal to its own.
    std::int32_t userId = 0;
    if (fields.has("hash")) {
        const std::optional<Database::User> user = database.userByHash(fields.value("hash"));
        if (!user)
            return "Unknown user";
        userId = user->id;
    }
    // The client names only the file, so anyone could name it: without the owner's hash, an upload a
    // queued song still reads stays.
    int kept = 0;
    const std::vector<std::string> removed = database.removeUploads(fields.value("fileName"), userId, kept);
    for (const std::string &stored : removed)
        processor.releaseUpload(stored);
    if (removed.empty())
        return kept > 0 ? "The upload is still needed by a song in progress" : "Upload not found";
    return success;
}

std::string SongRoutes::baseUrl(const HttpServer::Request &request) const
{
    // The URLs go back to the address the client reached us at.
    const std::string host = request.host;
    return "http://" + (isHostHeader(host) ? host : fallbackHost);
}
