#pragma once

#include "Database.h"
#include "HttpServer.h"
#include "RateLimit.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class FormFields;
class FormReader;
class WorkerPool;
class SongProcessor;

// The processing endpoints under "/zelk-server/": uploads, songs, their progress and result URLs.
class SongRoutes
{
public:
    using Handler = std::function<std::string(const FormFields &fields, const HttpServer::Request &request)>;

    SongRoutes(Database &database, WorkerPool &workers, SongProcessor &processor, std::string uploadsDir,
        int minSeconds);

    // "host:port" for result URLs when a request carries no usable Host header.
    void setFallbackHost(const std::string &host) { fallbackHost = host; }

    std::vector<std::pair<std::string, Handler>> routes();

    // proceed.php, once its body is read: the text fields and the file part, already on disk.
    std::string proceed(const FormFields &fields, FormReader &body);
    // Where the file part of a new upload is written while it arrives.
    std::string newUploadPath() const;

    // The path of a result file as download.php hands it out.
    static std::string resultPath(const std::string &token);

private:
    std::string repeat(const FormFields &fields, const HttpServer::Request &request);
    std::string remains(const FormFields &fields, const HttpServer::Request &request);
    std::string cancel(const FormFields &fields, const HttpServer::Request &request);
    std::string download(const FormFields &fields, const HttpServer::Request &request);
    std::string removeUploaded(const FormFields &fields, const HttpServer::Request &request);

    // Checks the fields shared by proceed.php and repeat.php; fills user on success.
    std::string songFieldsProblem(const FormFields &fields, Database::User &user);
    // The song named by "songID"; when there is none, problem holds the reply.
    std::optional<Database::Song> requestedSong(
        const FormFields &fields, const HttpServer::Request &request, std::string &problem);
    // Counts a song id the peer asked about that names no song; false once the peer asked too many.
    bool countUnknown(const HttpServer::Request &request);
    std::string createSong(
        const FormFields &fields, const Database::User &user, const Database::Upload &upload);
    std::string baseUrl(const HttpServer::Request &request) const;

    Database &database;
    WorkerPool &workers;
    SongProcessor &processor;
    const std::string uploadsDir;
    const int minSeconds;
    std::string fallbackHost;
    RateLimit unknownIds;
};
