#include "SongProcessor.h"

#include "Credentials.h"
#include "Database.h"
#include "DiskSync.h"
#include "Separator.h"
#include "WavAudio.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace {

void removeFile(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Writes to a ".part" file first, and flushes it to the disk before it takes its name, so that neither
// a crash nor a power loss leaves a half-written result under its name.
bool saveResult(const WavAudio &audio, const std::vector<std::int16_t> &samples, const std::string &path,
    std::string &error, const std::atomic<bool> &stop)
{
    const std::string part = path + ".part";
    if (!audio.save(part, samples, error, &stop)) {
        removeFile(part);
        return false;
    }
    if (!DiskSync::sync(part) || std::rename(part.c_str(), path.c_str()) != 0) {
        removeFile(part);
        error = "cannot store a result";
        return false;
    }
    return true;
}

} // namespace

SongProcessor::SongProcessor(Database &database, std::string uploadsDir, std::string resultsDir)
    : database(database)
    , uploadsDir(std::move(uploadsDir))
    , resultsDir(std::move(resultsDir))
{ }

std::string SongProcessor::resultPath(std::int32_t songId, bool mix) const
{
    return resultsDir + "/" + std::to_string(songId) + (mix ? "-mix.wav" : "-instrument.wav");
}

void SongProcessor::removeResults(std::int32_t songId) const
{
    removeFile(resultPath(songId, false));
    removeFile(resultPath(songId, true));
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
        return;
    }
    run(*song, stop);
    // Unless the song is still queued after a stop, it no longer needs its upload.
    releaseUpload(song->uploadStored);
}

void SongProcessor::run(const Database::Song &song, const std::atomic<bool> &stop)
{
    const std::int32_t songId = song.id;

    // On a stop the song stays queued and starts over at the next start.
    WavAudio audio;
    std::string error;
    if (!WavAudio::load(uploadsDir + "/" + song.uploadStored, audio, error, &stop)) {
        if (!stop)
            database.failSong(songId, "The uploaded file was removed before it was processed");
        return;
    }
    Separator::Parts parts;
    if (!Separator::split(audio, song.instrument, parts, &stop))
        return;

    const std::string instrumentPath = resultPath(songId, false);
    const std::string mixPath = resultPath(songId, true);
    if (!saveResult(audio, parts.instrument, instrumentPath, error, stop)
        || !saveResult(audio, parts.mix, mixPath, error, stop)) {
        removeFile(instrumentPath);
        if (stop)
            return;
        std::cerr << "song " << songId << ": " << error << std::endl;
        database.failSong(songId, "Processing failed on the service");
        return;
    }
    // "done" is committed at once; the renames must be on the disk before it.
    if (!DiskSync::sync(resultsDir)) {
        removeResults(songId);
        database.failSong(songId, "Processing failed on the service");
        return;
    }
    // A cancel that arrived meanwhile wins: its results are thrown away.
    if (!database.finishSong(songId, Credentials::randomHex(16), Credentials::randomHex(16)))
        removeResults(songId);
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
