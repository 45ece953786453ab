#pragma once

#include "Database.h"

#include <atomic>
#include <cstdint>
#include <string>

// Runs one queued song: reads its upload, splits it and stores the two result WAVs.
class SongProcessor
{
public:
    SongProcessor(Database &database, std::string uploadsDir, std::string resultsDir);

    // Leaves the song queued, and no file behind, when stop is set before it is done.
    void process(std::int32_t songId, const std::atomic<bool> &stop);
    // Deletes the results and uploads older than the keeping time.
    void expire(std::int64_t now);

    void removeResults(std::int32_t songId) const;
    // Deletes a stored upload once neither an upload nor a queued song refers to it: a song keeps
    // its file until it is done, whatever happens to the upload meanwhile.
    void releaseUpload(const std::string &stored) const;
    std::string resultPath(std::int32_t songId, bool mix) const;

    static constexpr std::int64_t keepMilliseconds = 30LL * 24 * 3600 * 1000;

private:
    void run(const Database::Song &song, const std::atomic<bool> &stop);

    Database &database;
    const std::string uploadsDir;
    const std::string resultsDir;
};
