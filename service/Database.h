#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// The service's persistent state in one SQLite file: accounts, recovery codes, uploads and songs.
// Every call is serialised by one mutex, so HTTP threads and workers may share the object.
class Database
{
public:
    struct User
    {
        std::int32_t id = 0;
        std::string name;
        std::string email;
        std::string password; // Argon2id encoded
        std::string hash;
    };

    struct Recovery
    {
        std::string code;
        std::int64_t expires = 0;
        int failures = 0;
        bool verified = false;
    };

    struct Upload
    {
        std::int64_t id = 0;
        std::int32_t userId = 0;
        std::string name;
        std::string stored; // file name inside the uploads folder
        std::int64_t frames = 0;
        int sampleRate = 0;
        std::int64_t created = 0;
        std::string digest; // SHA-256 hex of the file
    };

    struct Song
    {
        std::int32_t id = 0;
        std::int32_t userId = 0;
        std::string uploadStored;
        std::string instrument;
        std::string name;
        std::string extension;
        std::string originalPath;
        std::string version;
        std::string state; // "queued", "done", "cancelled", "failed" or "expired"
        std::string error;
        std::int64_t created = 0;
        std::int64_t readyAfter = 0;
        std::int64_t estimatedDone = 0;
        std::string instrumentToken;
        std::string mixToken;
        std::int64_t workMilliseconds = 0; // stereo-equivalent audio: the job's work
        int attempts = 0; // jobs started on it that did not end, the service dying in one included
        std::string uploadDigest; // SHA-256 hex of the upload it was made from
    };

    enum class Outcome { Ok, Duplicate, Failed };

    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    bool open(const std::string &path, std::string &error);

    // Gives the user a fresh random id; Duplicate when the address is taken.
    Outcome insertUser(User &user);
    std::optional<User> userByEmail(const std::string &email);
    std::optional<User> userById(std::int32_t id);
    std::optional<User> userByHash(const std::string &hash);
    bool setPassword(std::int32_t userId, const std::string &encoded);
    // Duplicate when another account has the address.
    Outcome setInfo(std::int32_t userId, const std::string &name, const std::string &email);

    // Remembers that the account signed in from that address; knownPeer tells whether it did.
    bool addPeer(std::int32_t userId, const std::string &address);
    bool knownPeer(std::int32_t userId, const std::string &address);
    // Whether any account signed in from that address.
    bool knownAddress(const std::string &address);

    bool setRecovery(std::int32_t userId, const Recovery &recovery);
    std::optional<Recovery> recovery(std::int32_t userId);
    bool removeRecovery(std::int32_t userId);

    // Stores the upload, replacing the user's earlier upload of the same name, whose stored file name
    // is handed back in replaced so that the caller can delete it.
    bool putUpload(Upload &upload, std::string &replaced);
    std::optional<Upload> upload(std::int32_t userId, const std::string &name);
    // Removes the uploads of that name (of one user when userId is not 0); answers their stored files.
    // Without a user, uploads a queued song still reads are left alone and counted in kept.
    std::vector<std::string> removeUploads(const std::string &name, std::int32_t userId, int &kept);
    // Whether an upload or a queued song still refers to the stored file.
    bool storedFileNeeded(const std::string &stored);
    std::vector<std::string> removeUploadsBefore(std::int64_t time);

    // Gives the song a fresh random id.
    bool insertSong(Song &song);
    std::optional<Song> song(std::int32_t id);
    std::optional<Song> songByToken(const std::string &token, bool &isMix);
    // The user's songs waiting or being processed.
    int queuedCount(std::int32_t userId);
    std::vector<std::int32_t> doneSongs();
    // Puts a done song back in the queue, without its result tokens.
    bool requeueSong(std::int32_t id);
    // Only a queued song finishes; false when it was cancelled or removed meanwhile.
    bool finishSong(std::int32_t id, const std::string &instrumentToken, const std::string &mixToken);
    bool failSong(std::int32_t id, const std::string &error);
    // Answers the state the song had before. A queued song, or a done one still held back until its
    // ready time, becomes cancelled.
    std::optional<std::string> cancelSong(std::int32_t id, std::int64_t now);
    std::vector<Song> doneSongsSince(std::int32_t userId, std::int64_t since);
    // The newest done song of the user made since then from the same audio, instrument and version.
    std::optional<Song> sameSong(const Song &song, std::int64_t since);
    // Marks every song created before time as expired and answers them.
    std::vector<Song> expireSongsBefore(std::int64_t time);
    // The queued songs in the order the workers take them.
    std::vector<Song> queuedSongsInOrder();
    // Counts a job started on a queued song and answers the attempts so far, -1 when it is not queued.
    int startAttempt(std::int32_t id);
    // Takes back the count of a job that was stopped on purpose.
    bool undoAttempt(std::int32_t id);

    // Measured speeds of each instrument, in stereo-equivalent seconds of audio per second.
    std::map<std::string, double> speeds();
    bool setSpeed(const std::string &instrument, double rate);

private:
    bool execute(const char *sql);
    std::optional<User> userWhere(const char *sql, const std::string *text, std::int32_t number);

    std::mutex mutex;
    sqlite3 *db = nullptr;
};
