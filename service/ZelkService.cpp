#include "ZelkService.h"

#include "Clock.h"
#include "Credentials.h"
#include "FormFields.h"
#include "FormReader.h"
#include "WavAudio.h"

#include <httplib.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>

#include <sys/socket.h>
#include <sys/stat.h>

namespace {

constexpr int workerThreads = 2;
// A connection holds its HTTP thread as long as it keeps sending, however slowly; with this many a
// few dozen slow clients still leave room for everyone else.
constexpr size_t httpThreads = 64;
// Longest silence while a request is read or its reply written.
constexpr time_t readSeconds = 3;
constexpr time_t writeSeconds = 5;
// A WAV of about 90 minutes of stereo at 48 kHz.
constexpr size_t maxRequestBytes = 1024UL * 1024 * 1024;
// Every other request is a form of a few short fields.
constexpr size_t maxFormBytes = 8 * 1024;
constexpr auto janitorPeriod = std::chrono::hours(1);
const char *const textType = "text/plain; charset=utf-8";
const char *const denied = "Access denied: the request signature is missing or wrong";

void replyText(httplib::Response &response, const std::string &text, int status = 200)
{
    response.status = status;
    response.set_content(text, textType);
}

} // namespace

ZelkService::ZelkService(ServiceOptions options)
    : options(std::move(options))
    , uploadsDir(this->options.dataDir + "/uploads")
    , resultsDir(this->options.dataDir + "/results")
    , outbox(this->options.dataDir + "/outbox.txt")
    , processor(database, uploadsDir, resultsDir, this->options.jobMemory, workerThreads)
    , workers(workerThreads,
          [this](std::int32_t songId, const std::atomic<bool> &stop) {
              processor.process(songId, stop);
          })
    , accountRoutes(database, outbox)
    , songRoutes(database, workers, processor, uploadsDir, this->options.minSeconds)
    , server(std::make_unique<httplib::Server>())
{ }

ZelkService::~ZelkService()
{
    stop();
    workers.stop();
    if (janitorThread.joinable())
        janitorThread.join();
}

bool ZelkService::start(std::string &error)
{
    // The data holds password and bearer hashes, recovery codes and everyone's audio: whatever the
    // service creates is its user's alone.
    ::umask(077);
    std::error_code failure;
    for (const std::string &dir : { options.dataDir, uploadsDir, resultsDir }) {
        std::filesystem::create_directories(dir, failure);
        if (!std::filesystem::is_directory(dir, failure)) {
            error = "cannot create the folder " + dir;
            return false;
        }
    }
    if (!makePrivate(error))
        return false;
    if (!database.open(options.dataDir + "/zelk-service.sqlite", error))
        return false;
    removeLeftovers();

    installRoutes();
    if (options.port == 0) {
        boundPort = server->bind_to_any_port(options.host);
    } else if (server->bind_to_port(options.host, options.port)) {
        boundPort = options.port;
    }
    if (boundPort <= 0) {
        error = "cannot listen on " + options.host + ":" + std::to_string(options.port);
        return false;
    }
    songRoutes.setFallbackHost(options.host + ":" + std::to_string(boundPort));

    processor.expire(Clock::now());
    // Songs that were waiting when the service last stopped run now.
    for (const std::int32_t songId : database.queuedSongs())
        workers.enqueue(songId);
    janitorThread = std::thread([this] { janitor(); });
    return true;
}

void ZelkService::run()
{
    server->listen_after_bind();
}

void ZelkService::stop()
{
    // Running songs give up at once and stay queued for the next start.
    workers.halt();
    server->stop();
    dropConnections();
    {
        std::lock_guard<std::mutex> lock(janitorMutex);
        stopping = true;
    }
    janitorWake.notify_all();
}

void ZelkService::installRoutes()
{
    server->set_payload_max_length(maxRequestBytes);
    // Replies go out in several writes; with Nagle on, a kept-alive connection waits for the peer's
    // delayed acknowledgement (about 40 ms) before the last one.
    server->set_tcp_nodelay(true);
    server->set_read_timeout(readSeconds);
    server->set_write_timeout(writeSeconds);
    server->new_task_queue = [] { return new httplib::ThreadPool(httpThreads); };

    // Reads a body as it arrives; false when it was refused, with the reply already set.
    const auto readSigned = [](FormReader &body, const httplib::Request &request, httplib::Response &response,
                                const httplib::ContentReader &reader) {
        // Stops keeping anything as soon as both signing fields are in and do not match.
        const auto notForged = [](const std::map<std::string, std::string> &fields) {
            const auto key = fields.find("publicKey");
            const auto token = fields.find("accessToken");
            return key == fields.end() || token == fields.end()
                || Credentials::signatureMatches(key->second, token->second);
        };
        switch (body.read(request, reader, notForged)) {
        case FormReader::Outcome::Ok:
            break;
        case FormReader::Outcome::Refused:
            replyText(response, denied);
            return false;
        case FormReader::Outcome::TooLarge:
            replyText(response, "The request is too large", 413);
            return false;
        case FormReader::Outcome::Malformed:
            replyText(response, "Malformed request", 400);
            return false;
        }
        const FormFields fields(body.fields());
        if (!Credentials::signatureMatches(fields.value("publicKey"), fields.value("accessToken"))) {
            replyText(response, denied);
            return false;
        }
        return true;
    };
    const auto pattern = [](const std::string &path) { return std::regex_replace(path, std::regex("\\."), "\\."); };
    const auto signedPost = [this, readSigned, pattern](const std::string &path, auto handler) {
        server->Post(pattern(path),
            httplib::Server::HandlerWithContentReader([handler, readSigned](const httplib::Request &request,
                                                          httplib::Response &response,
                                                          const httplib::ContentReader &reader) {
                FormReader body(maxFormBytes, std::string());
                if (readSigned(body, request, response, reader))
                    replyText(response, handler(FormFields(body.fields()), request));
            }));
    };
    for (const auto &[path, handler] : accountRoutes.routes())
        signedPost(path, [handler = handler](const FormFields &fields, const httplib::Request &request) {
            return handler(fields, request.remote_addr);
        });
    for (const auto &[path, handler] : songRoutes.routes())
        signedPost(path, handler);
    // The upload goes to disk part by part as it arrives.
    server->Post(pattern("/zelk-server/proceed.php"),
        httplib::Server::HandlerWithContentReader([this, readSigned](const httplib::Request &request,
                                                      httplib::Response &response,
                                                      const httplib::ContentReader &reader) {
            FormReader body(maxFormBytes, songRoutes.newUploadPath());
            if (readSigned(body, request, response, reader))
                replyText(response, songRoutes.proceed(FormFields(body.fields()), body));
        }));

    // The help menu's web pages: the local service answers them with a note of its own.
    for (const char *page : { "/", "/zelk-server/redirect-training-videos.php", "/zelk-server/redirect-user-guide.php" })
        server->Get(std::regex_replace(page, std::regex("\\."), "\\."),
            [page = std::string(page)](const httplib::Request &, httplib::Response &response) {
                response.set_content("<!doctype html><title>ZELK local service</title><h1>ZELK local service</h1>"
                                     "<p>This is the local stand-in for the processing service. The page "
                                     + page + " lives on the real service.</p>",
                    "text/html; charset=utf-8");
            });
    server->Get("/generate_204",
        [](const httplib::Request &, httplib::Response &response) { response.status = 204; });
    server->Get("/zelk-server/result/([0-9a-f]{32})\\.wav",
        [this](const httplib::Request &request, httplib::Response &response) {
            serveResult(request, response);
        });

    server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            switch (response.status) {
            case 400:
                replyText(response, "Malformed request", 400);
                break;
            case 404:
                replyText(response, "Not found", 404);
                break;
            case 413:
                replyText(response, "The request is too large", 413);
                break;
            default:
                replyText(response, "Request refused", response.status);
                break;
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    server->set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
            replyText(response, "Internal error, please try again later", 500);
        });
}

void ZelkService::serveResult(const httplib::Request &request, httplib::Response &response)
{
    bool isMix = false;
    const std::optional<Database::Song> song = database.songByToken(request.matches[1].str(), isMix);
    const std::string path = song ? processor.resultPath(song->id, isMix) : std::string();
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    std::error_code failure;
    const auto size = path.empty() ? 0 : std::filesystem::file_size(path, failure);
    if (!song || song->state != "done" || !*file || failure) {
        replyText(response, "Not found", 404);
        return;
    }
    response.set_content_provider(static_cast<size_t>(size), "audio/wav",
        [file](size_t offset, size_t length, httplib::DataSink &sink) {
            std::vector<char> buffer(std::min<size_t>(length, 256 * 1024));
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const std::streamsize got = file->gcount();
            if (got <= 0)
                return false;
            return sink.write(buffer.data(), static_cast<size_t>(got));
        });
}

bool ZelkService::makePrivate(std::string &error) const
{
    // Folders and files left readable by an older version are closed too.
    namespace fs = std::filesystem;
    for (const std::string &dir : { options.dataDir, uploadsDir, resultsDir }) {
        if (::chmod(dir.c_str(), 0700) != 0) {
            error = "cannot make the folder " + dir + " private";
            return false;
        }
        std::error_code failure;
        for (const auto &entry : fs::directory_iterator(dir, failure)) {
            if (entry.is_regular_file(failure) && !entry.is_symlink(failure))
                ::chmod(entry.path().c_str(), 0600);
        }
    }
    return true;
}

void ZelkService::dropConnections()
{
    // The HTTP threads only look at the stop between requests: an idle kept-alive connection would hold
    // one for the keep-alive time, a slow client for the read time limit. Shutting the sockets down wakes
    // them at once. The listening socket is closed already; whatever TCP socket is left is a client's.
    std::error_code failure;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", failure)) {
        const std::string name = entry.path().filename().string();
        char *end = nullptr;
        const long number = std::strtol(name.c_str(), &end, 10);
        if (name.empty() || *end != '\0' || number < 0 || number > INT_MAX)
            continue;
        const int fd = static_cast<int>(number);
        struct stat info {};
        int type = 0;
        int listening = 0;
        socklen_t length = sizeof type;
        sockaddr_storage address {};
        socklen_t addressLength = sizeof address;
        if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)
            || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
            continue;
        length = sizeof listening;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening != 0)
            continue;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &addressLength) != 0
            || (address.ss_family != AF_INET && address.ss_family != AF_INET6))
            continue;
        ::shutdown(fd, SHUT_RDWR);
    }
}

void ZelkService::removeLeftovers()
{
    // Files still under their ".part" name were being written when the service stopped; an upload
    // nothing refers to was being released; a result of a song that is not done was renamed into place
    // just before a crash.
    std::set<std::int32_t> done;
    for (const std::int32_t songId : database.doneSongs())
        done.insert(songId);
    for (const std::string &dir : { uploadsDir, resultsDir }) {
        std::error_code failure;
        for (const auto &entry : std::filesystem::directory_iterator(dir, failure)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".part") {
                std::filesystem::remove(entry.path(), failure);
            } else if (dir == uploadsDir) {
                processor.releaseUpload(name);
            } else {
                std::int32_t songId = 0;
                if (!FormFields::readId(name.substr(0, name.find('-')), songId) || done.count(songId) == 0)
                    std::filesystem::remove(entry.path(), failure);
            }
        }
    }
    // A done song whose results a power loss cut short is made again from its upload, or fails when
    // the upload is gone too.
    for (const std::int32_t songId : done) {
        if (WavAudio::isComplete(processor.resultPath(songId, false))
            && WavAudio::isComplete(processor.resultPath(songId, true)))
            continue;
        processor.removeResults(songId);
        database.requeueSong(songId);
    }
}

void ZelkService::janitor()
{
    std::unique_lock<std::mutex> lock(janitorMutex);
    while (!janitorWake.wait_for(lock, janitorPeriod, [this] { return stopping; })) {
        lock.unlock();
        processor.expire(Clock::now());
        lock.lock();
    }
}
