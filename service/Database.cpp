#include "Database.h"

#include "Credentials.h"

#include <sqlite3.h>

namespace {

const char *const schema = R"sql(
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS users(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    email TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL,
    hash TEXT NOT NULL UNIQUE
);
CREATE TABLE IF NOT EXISTS recovery(
    user_id INTEGER PRIMARY KEY REFERENCES users(id),
    code TEXT NOT NULL,
    expires INTEGER NOT NULL,
    failures INTEGER NOT NULL,
    verified INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS uploads(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    user_id INTEGER NOT NULL REFERENCES users(id),
    name TEXT NOT NULL,
    stored TEXT NOT NULL,
    frames INTEGER NOT NULL,
    rate INTEGER NOT NULL,
    created INTEGER NOT NULL,
    UNIQUE(user_id, name)
);
CREATE TABLE IF NOT EXISTS songs(
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id),
    upload_stored TEXT NOT NULL,
    instrument TEXT NOT NULL,
    name TEXT NOT NULL,
    extension TEXT NOT NULL,
    original_path TEXT NOT NULL,
    version TEXT NOT NULL,
    state TEXT NOT NULL,
    error TEXT NOT NULL DEFAULT '',
    created INTEGER NOT NULL,
    ready_after INTEGER NOT NULL,
    estimated_done INTEGER NOT NULL,
    instrument_token TEXT UNIQUE,
    mix_token TEXT UNIQUE
);
CREATE INDEX IF NOT EXISTS songs_by_user ON songs(user_id, created);
)sql";

// The addresses each account signed in from.
const char *const peersTable = R"sql(
CREATE TABLE peers(
    user_id INTEGER NOT NULL REFERENCES users(id),
    address TEXT NOT NULL,
    PRIMARY KEY(user_id, address)
) WITHOUT ROWID;
-- Accounts from before the table signed in on this computer: the local client keeps working.
INSERT INTO peers SELECT id, '127.0.0.1' FROM users;
)sql";

// Uploads look an address up without its account.
const char *const peersByAddress = "CREATE INDEX IF NOT EXISTS peers_by_address ON peers(address)";

// Columns added after the first version, with their tables and definitions: added to an older
// database at open.
const char *const laterColumns[][3] = {
    // Stereo-equivalent milliseconds of audio: the work the song's job has to do.
    { "songs", "work_ms", "INTEGER NOT NULL DEFAULT 0" },
    // Jobs started on the song that did not end: a job the service died in counts.
    { "songs", "attempts", "INTEGER NOT NULL DEFAULT 0" },
    // SHA-256 of the audio, so that the same work is not done twice.
    { "songs", "upload_digest", "TEXT NOT NULL DEFAULT ''" },
    { "uploads", "digest", "TEXT NOT NULL DEFAULT ''" },
};

// The measured speed of each instrument's separation, in stereo-equivalent seconds of audio per second.
const char *const speedsTable = R"sql(
CREATE TABLE IF NOT EXISTS speeds(
    instrument TEXT PRIMARY KEY,
    rate REAL NOT NULL
);
)sql";

const char *const songColumns = "id, user_id, upload_stored, instrument, name, extension, original_path, "
                                "version, state, error, created, ready_after, estimated_done, "
                                "coalesce(instrument_token, ''), coalesce(mix_token, ''), work_ms, attempts, "
                                "upload_digest";
const char *const uploadColumns = "id, user_id, name, stored, frames, rate, created, digest";

// One prepared statement, finalised when it goes out of scope.
class Statement
{
public:
    Statement(sqlite3 *db, const std::string &sql)
    {
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool valid() const { return statement != nullptr; }
    Statement &bind(const std::string &text)
    {
        sqlite3_bind_text(statement, ++index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(std::int64_t number)
    {
        sqlite3_bind_int64(statement, ++index, number);
        return *this;
    }
    Statement &bind(std::int32_t number) { return bind(static_cast<std::int64_t>(number)); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return valid() ? sqlite3_step(statement) : SQLITE_ERROR; }
    std::string text(int column) const
    {
        const auto *value = sqlite3_column_text(statement, column);
        return value ? std::string(reinterpret_cast<const char *>(value),
                   static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                     : std::string();
    }
    std::int64_t number(int column) const { return sqlite3_column_int64(statement, column); }
    double real(int column) const { return sqlite3_column_double(statement, column); }
    Statement &bind(double number)
    {
        sqlite3_bind_double(statement, ++index, number);
        return *this;
    }

private:
    sqlite3_stmt *statement = nullptr;
    int index = 0;
};

Database::Song readSong(const Statement &row)
{
    Database::Song song;
    song.id = static_cast<std::int32_t>(row.number(0));
    song.userId = static_cast<std::int32_t>(row.number(1));
    song.uploadStored = row.text(2);
    song.instrument = row.text(3);
    song.name = row.text(4);
    song.extension = row.text(5);
    song.originalPath = row.text(6);
    song.version = row.text(7);
    song.state = row.text(8);
    song.error = row.text(9);
    song.created = row.number(10);
    song.readyAfter = row.number(11);
    song.estimatedDone = row.number(12);
    song.instrumentToken = row.text(13);
    song.mixToken = row.text(14);
    song.workMilliseconds = row.number(15);
    song.attempts = static_cast<int>(row.number(16));
    song.uploadDigest = row.text(17);
    return song;
}

Database::Upload readUpload(const Statement &row)
{
    Database::Upload upload;
    upload.id = row.number(0);
    upload.userId = static_cast<std::int32_t>(row.number(1));
    upload.name = row.text(2);
    upload.stored = row.text(3);
    upload.frames = row.number(4);
    upload.sampleRate = static_cast<int>(row.number(5));
    upload.created = row.number(6);
    upload.digest = row.text(7);
    return upload;
}

constexpr int idAttempts = 16;

} // namespace

Database::~Database()
{
    sqlite3_close(db);
}

bool Database::open(const std::string &path, std::string &error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (sqlite3_open_v2(
            path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    char *message = nullptr;
    if (sqlite3_exec(db, schema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "cannot create the tables";
        sqlite3_free(message);
        return false;
    }
    bool hasPeers = false;
    {
        Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'peers'");
        hasPeers = query.step() == SQLITE_ROW;
    }
    if ((!hasPeers && sqlite3_exec(db, peersTable, nullptr, nullptr, &message) != SQLITE_OK)
        || sqlite3_exec(db, peersByAddress, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "cannot create the tables";
        sqlite3_free(message);
        return false;
    }
    for (const auto &[table, column, definition] : laterColumns) {
        bool present = false;
        {
            Statement query(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
            present = query.bind(std::string(table)).bind(std::string(column)).step() == SQLITE_ROW;
        }
        const std::string add
            = std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + definition;
        if (!present && sqlite3_exec(db, add.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            error = message ? message : "cannot update the tables";
            sqlite3_free(message);
            return false;
        }
    }
    if (sqlite3_exec(db, speedsTable, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "cannot create the tables";
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Database::addPeer(std::int32_t userId, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement insert(db, "INSERT OR IGNORE INTO peers(user_id, address) VALUES(?, ?)");
    return insert.bind(userId).bind(address).step() == SQLITE_DONE;
}

bool Database::knownPeer(std::int32_t userId, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, "SELECT 1 FROM peers WHERE user_id = ? AND address = ?");
    return query.bind(userId).bind(address).step() == SQLITE_ROW;
}

bool Database::knownAddress(const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, "SELECT 1 FROM peers WHERE address = ? LIMIT 1");
    return query.bind(address).step() == SQLITE_ROW;
}

bool Database::execute(const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Database::Outcome Database::insertUser(User &user)
{
    std::lock_guard<std::mutex> lock(mutex);
    {
        Statement taken(db, "SELECT 1 FROM users WHERE email = ?");
        if (taken.bind(user.email).step() == SQLITE_ROW)
            return Outcome::Duplicate;
    }
    for (int attempt = 0; attempt < idAttempts; ++attempt) {
        user.id = Credentials::randomId();
        Statement insert(db, "INSERT INTO users(id, name, email, password, hash) VALUES(?, ?, ?, ?, ?)");
        if (insert.bind(user.id).bind(user.name).bind(user.email).bind(user.password).bind(user.hash).step()
            == SQLITE_DONE)
            return Outcome::Ok;
    }
    return Outcome::Failed;
}

std::optional<Database::User> Database::userWhere(
    const char *condition, const std::string *text, std::int32_t number)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string("SELECT id, name, email, password, hash FROM users WHERE ") + condition);
    if (text)
        query.bind(*text);
    else
        query.bind(number);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    User user;
    user.id = static_cast<std::int32_t>(query.number(0));
    user.name = query.text(1);
    user.email = query.text(2);
    user.password = query.text(3);
    user.hash = query.text(4);
    return user;
}

std::optional<Database::User> Database::userByEmail(const std::string &email)
{
    return userWhere("email = ?", &email, 0);
}

std::optional<Database::User> Database::userById(std::int32_t id)
{
    return userWhere("id = ?", nullptr, id);
}

std::optional<Database::User> Database::userByHash(const std::string &hash)
{
    return userWhere("hash = ?", &hash, 0);
}

bool Database::setPassword(std::int32_t userId, const std::string &encoded)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db, "UPDATE users SET password = ? WHERE id = ?");
    return update.bind(encoded).bind(userId).step() == SQLITE_DONE && sqlite3_changes(db) == 1;
}

Database::Outcome Database::setInfo(std::int32_t userId, const std::string &name, const std::string &email)
{
    std::lock_guard<std::mutex> lock(mutex);
    {
        Statement taken(db, "SELECT 1 FROM users WHERE email = ? AND id <> ?");
        if (taken.bind(email).bind(userId).step() == SQLITE_ROW)
            return Outcome::Duplicate;
    }
    Statement update(db, "UPDATE users SET name = ?, email = ? WHERE id = ?");
    if (update.bind(name).bind(email).bind(userId).step() != SQLITE_DONE || sqlite3_changes(db) != 1)
        return Outcome::Failed;
    // A code mailed to the old address must not reset the password of the new one.
    Statement forget(db, "DELETE FROM recovery WHERE user_id = ?");
    forget.bind(userId).step();
    return Outcome::Ok;
}

bool Database::setRecovery(std::int32_t userId, const Recovery &recovery)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement upsert(db,
        "INSERT OR REPLACE INTO recovery(user_id, code, expires, failures, verified) "
        "VALUES(?, ?, ?, ?, ?)");
    return upsert.bind(userId)
               .bind(recovery.code)
               .bind(recovery.expires)
               .bind(static_cast<std::int64_t>(recovery.failures))
               .bind(static_cast<std::int64_t>(recovery.verified ? 1 : 0))
               .step()
        == SQLITE_DONE;
}

std::optional<Database::Recovery> Database::recovery(std::int32_t userId)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, "SELECT code, expires, failures, verified FROM recovery WHERE user_id = ?");
    if (query.bind(userId).step() != SQLITE_ROW)
        return std::nullopt;
    Recovery recovery;
    recovery.code = query.text(0);
    recovery.expires = query.number(1);
    recovery.failures = static_cast<int>(query.number(2));
    recovery.verified = query.number(3) != 0;
    return recovery;
}

bool Database::removeRecovery(std::int32_t userId)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement remove(db, "DELETE FROM recovery WHERE user_id = ?");
    return remove.bind(userId).step() == SQLITE_DONE;
}

bool Database::putUpload(Upload &upload, std::string &replaced)
{
    std::lock_guard<std::mutex> lock(mutex);
    replaced.clear();
    if (!execute("BEGIN IMMEDIATE"))
        return false;
    {
        Statement earlier(db, "SELECT stored FROM uploads WHERE user_id = ? AND name = ?");
        if (earlier.bind(upload.userId).bind(upload.name).step() == SQLITE_ROW)
            replaced = earlier.text(0);
    }
    Statement remove(db, "DELETE FROM uploads WHERE user_id = ? AND name = ?");
    Statement insert(db,
        "INSERT INTO uploads(user_id, name, stored, frames, rate, created, digest) "
        "VALUES(?, ?, ?, ?, ?, ?, ?)");
    const bool stored = remove.bind(upload.userId).bind(upload.name).step() == SQLITE_DONE
        && insert.bind(upload.userId)
                .bind(upload.name)
                .bind(upload.stored)
                .bind(upload.frames)
                .bind(static_cast<std::int64_t>(upload.sampleRate))
                .bind(upload.created)
                .bind(upload.digest)
                .step()
            == SQLITE_DONE;
    if (!stored) {
        execute("ROLLBACK");
        replaced.clear();
        return false;
    }
    upload.id = sqlite3_last_insert_rowid(db);
    if (execute("COMMIT"))
        return true;
    execute("ROLLBACK");
    replaced.clear();
    return false;
}

std::optional<Database::Upload> Database::upload(std::int32_t userId, const std::string &name)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(
        db, std::string("SELECT ") + uploadColumns + " FROM uploads WHERE user_id = ? AND name = ?");
    if (query.bind(userId).bind(name).step() != SQLITE_ROW)
        return std::nullopt;
    return readUpload(query);
}

std::vector<std::string> Database::removeUploads(const std::string &name, std::int32_t userId, int &kept)
{
    std::lock_guard<std::mutex> lock(mutex);
    kept = 0;
    if (userId == 0) {
        Statement needed(db,
            "SELECT count(*) FROM uploads WHERE name = ? AND stored IN "
            "(SELECT upload_stored FROM songs WHERE state = 'queued')");
        if (needed.bind(name).step() == SQLITE_ROW)
            kept = static_cast<int>(needed.number(0));
    }
    const std::string condition = userId != 0
        ? "name = ? AND user_id = ?"
        : "name = ? AND stored NOT IN (SELECT upload_stored FROM songs WHERE state = 'queued')";
    std::vector<std::string> stored;
    Statement query(db, "SELECT stored FROM uploads WHERE " + condition);
    Statement remove(db, "DELETE FROM uploads WHERE " + condition);
    query.bind(name);
    remove.bind(name);
    if (userId != 0) {
        query.bind(userId);
        remove.bind(userId);
    }
    while (query.step() == SQLITE_ROW)
        stored.push_back(query.text(0));
    if (remove.step() != SQLITE_DONE)
        return {};
    return stored;
}

bool Database::storedFileNeeded(const std::string &stored)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db,
        "SELECT 1 FROM uploads WHERE stored = ? "
        "UNION ALL SELECT 1 FROM songs WHERE upload_stored = ? AND state = 'queued' LIMIT 1");
    // When in doubt the file stays.
    return query.bind(stored).bind(stored).step() != SQLITE_DONE;
}

std::vector<std::string> Database::removeUploadsBefore(std::int64_t time)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> stored;
    Statement query(db, "SELECT stored FROM uploads WHERE created < ?");
    Statement remove(db, "DELETE FROM uploads WHERE created < ?");
    query.bind(time);
    while (query.step() == SQLITE_ROW)
        stored.push_back(query.text(0));
    if (remove.bind(time).step() != SQLITE_DONE)
        return {};
    return stored;
}

bool Database::insertSong(Song &song)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (int attempt = 0; attempt < idAttempts; ++attempt) {
        song.id = Credentials::randomId();
        Statement insert(db,
            "INSERT INTO songs(id, user_id, upload_stored, instrument, name, extension, "
            "original_path, version, state, created, ready_after, estimated_done, work_ms, upload_digest) "
            "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (insert.bind(song.id)
                .bind(song.userId)
                .bind(song.uploadStored)
                .bind(song.instrument)
                .bind(song.name)
                .bind(song.extension)
                .bind(song.originalPath)
                .bind(song.version)
                .bind(song.state)
                .bind(song.created)
                .bind(song.readyAfter)
                .bind(song.estimatedDone)
                .bind(song.workMilliseconds)
                .bind(song.uploadDigest)
                .step()
            == SQLITE_DONE)
            return true;
    }
    return false;
}

std::optional<Database::Song> Database::song(std::int32_t id)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, std::string("SELECT ") + songColumns + " FROM songs WHERE id = ?");
    if (query.bind(id).step() != SQLITE_ROW)
        return std::nullopt;
    return readSong(query);
}

std::optional<Database::Song> Database::songByToken(const std::string &token, bool &isMix)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(
        db, std::string("SELECT ") + songColumns + " FROM songs WHERE instrument_token = ? OR mix_token = ?");
    if (query.bind(token).bind(token).step() != SQLITE_ROW)
        return std::nullopt;
    Song song = readSong(query);
    isMix = song.mixToken == token;
    return song;
}

int Database::queuedCount(std::int32_t userId)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db, "SELECT count(*) FROM songs WHERE user_id = ? AND state = 'queued'");
    return query.bind(userId).step() == SQLITE_ROW ? static_cast<int>(query.number(0)) : 0;
}

std::vector<std::int32_t> Database::doneSongs()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::int32_t> ids;
    Statement query(db, "SELECT id FROM songs WHERE state = 'done'");
    while (query.step() == SQLITE_ROW)
        ids.push_back(static_cast<std::int32_t>(query.number(0)));
    return ids;
}

bool Database::requeueSong(std::int32_t id)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db,
        "UPDATE songs SET state = 'queued', instrument_token = NULL, mix_token = NULL "
        "WHERE id = ? AND state = 'done'");
    return update.bind(id).step() == SQLITE_DONE && sqlite3_changes(db) == 1;
}

bool Database::finishSong(std::int32_t id, const std::string &instrumentToken, const std::string &mixToken)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db,
        "UPDATE songs SET state = 'done', instrument_token = ?, mix_token = ? "
        "WHERE id = ? AND state = 'queued'");
    return update.bind(instrumentToken).bind(mixToken).bind(id).step() == SQLITE_DONE
        && sqlite3_changes(db) == 1;
}

bool Database::failSong(std::int32_t id, const std::string &error)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db, "UPDATE songs SET state = 'failed', error = ? WHERE id = ? AND state = 'queued'");
    return update.bind(error).bind(id).step() == SQLITE_DONE && sqlite3_changes(db) == 1;
}

std::optional<std::string> Database::cancelSong(std::int32_t id, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::string state;
    std::int64_t readyAfter = 0;
    {
        Statement query(db, "SELECT state, ready_after FROM songs WHERE id = ?");
        if (query.bind(id).step() != SQLITE_ROW)
            return std::nullopt;
        state = query.text(0);
        readyAfter = query.number(1);
    }
    if (state == "queued" || (state == "done" && now < readyAfter)) {
        Statement update(db,
            "UPDATE songs SET state = 'cancelled', instrument_token = NULL, mix_token = NULL "
            "WHERE id = ?");
        update.bind(id).step();
    }
    return state;
}

std::vector<Database::Song> Database::doneSongsSince(std::int32_t userId, std::int64_t since)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Song> songs;
    Statement query(db,
        std::string("SELECT ") + songColumns
            + " FROM songs WHERE user_id = ? AND state = 'done' AND created >= ? ORDER BY created DESC");
    query.bind(userId).bind(since);
    while (query.step() == SQLITE_ROW)
        songs.push_back(readSong(query));
    return songs;
}

std::optional<Database::Song> Database::sameSong(const Song &song, std::int64_t since)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(db,
        std::string("SELECT ") + songColumns
            + " FROM songs WHERE user_id = ? AND upload_digest = ? AND instrument = ? AND version = ? "
              "AND state = 'done' AND created >= ? ORDER BY created DESC LIMIT 1");
    if (query.bind(song.userId)
            .bind(song.uploadDigest)
            .bind(song.instrument)
            .bind(song.version)
            .bind(since)
            .step()
        != SQLITE_ROW)
        return std::nullopt;
    return readSong(query);
}

std::vector<Database::Song> Database::expireSongsBefore(std::int64_t time)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Song> songs;
    Statement query(
        db, std::string("SELECT ") + songColumns + " FROM songs WHERE created < ? AND state <> 'expired'");
    query.bind(time);
    while (query.step() == SQLITE_ROW)
        songs.push_back(readSong(query));
    Statement update(db,
        "UPDATE songs SET state = 'expired', instrument_token = NULL, mix_token = NULL "
        "WHERE created < ? AND state <> 'expired'");
    if (update.bind(time).step() != SQLITE_DONE)
        return {};
    return songs;
}

std::vector<Database::Song> Database::queuedSongsInOrder()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Song> songs;
    Statement query(
        db, std::string("SELECT ") + songColumns + " FROM songs WHERE state = 'queued' ORDER BY created, id");
    while (query.step() == SQLITE_ROW)
        songs.push_back(readSong(query));
    return songs;
}

int Database::startAttempt(std::int32_t id)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db, "UPDATE songs SET attempts = attempts + 1 WHERE id = ? AND state = 'queued'");
    if (update.bind(id).step() != SQLITE_DONE || sqlite3_changes(db) != 1)
        return -1;
    Statement query(db, "SELECT attempts FROM songs WHERE id = ?");
    return query.bind(id).step() == SQLITE_ROW ? static_cast<int>(query.number(0)) : -1;
}

bool Database::undoAttempt(std::int32_t id)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db, "UPDATE songs SET attempts = max(0, attempts - 1) WHERE id = ?");
    return update.bind(id).step() == SQLITE_DONE;
}

std::map<std::string, double> Database::speeds()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::map<std::string, double> rates;
    Statement query(db, "SELECT instrument, rate FROM speeds");
    while (query.step() == SQLITE_ROW)
        rates[query.text(0)] = query.real(1);
    return rates;
}

bool Database::setSpeed(const std::string &instrument, double rate)
{
    std::lock_guard<std::mutex> lock(mutex);
    Statement update(db, "INSERT OR REPLACE INTO speeds(instrument, rate) VALUES(?, ?)");
    return update.bind(instrument).bind(rate).step() == SQLITE_DONE;
}
