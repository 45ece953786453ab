#include "ZelkService.h"

#include "Clock.h"
#include "Credentials.h"
#include "FormFields.h"
#include "FormReader.h"
#include "UserGuide.h"
#include "WavAudio.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int workerThreads = 2;
// Every request but an upload is a form of a few short fields.
constexpr size_t maxFormBytes = 8 * 1024;
constexpr auto janitorPeriod = std::chrono::hours(1);
constexpr int uploadsAtOncePerPeer = 2;
constexpr size_t maxStrangerFileBytes = 64 * 1024;
const char *const denied = "Access denied: the request signature is missing or wrong";
const char *const uploadPath = "/zelk-server/proceed.php";
const char *const resultPrefix = "/zelk-server/result/";

HttpServer::Reply text(const std::string &body, int status = 200)
{
    HttpServer::Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

// A signed form: its body as it arrives, then the handler's reply for its fields.
class FormExchange final : public HttpServer::Exchange
{
public:
    using Handler = ZelkService::FormHandler;

    // done runs once the exchange is over; a file part past maxFileBytes is dropped.
    FormExchange(const HttpServer::Request &request, std::size_t maxBodyBytes, std::uint64_t reserveBytes,
        const std::string &filePath, Handler handler, std::size_t maxFileBytes = SIZE_MAX,
        std::function<void()> done = {})
        // Stops keeping anything as soon as both signing fields are in and do not match.
        : reader(maxFormBytes, maxBodyBytes, reserveBytes, filePath,
            [](const std::map<std::string, std::string> &fields) {
                const auto key = fields.find("publicKey");
                const auto token = fields.find("accessToken");
                return key == fields.end() || token == fields.end()
                    || Credentials::signatureMatches(key->second, token->second);
            })
        , handler(std::move(handler))
        , done(std::move(done))
    {
        reader.capFile(maxFileBytes);
        reader.begin(request);
    }
    ~FormExchange() override
    {
        if (done)
            done();
    }
    FormExchange(const FormExchange &) = delete;
    FormExchange &operator=(const FormExchange &) = delete;

    bool receive(const char *data, std::size_t length) override { return reader.receive(data, length); }

    HttpServer::Reply finish() override
    {
        switch (reader.finish()) {
        case FormReader::Outcome::Ok:
            break;
        case FormReader::Outcome::Refused:
            return text(denied);
        case FormReader::Outcome::TooLarge:
            return text("The request is too large", 413);
        case FormReader::Outcome::Malformed:
            return text("Malformed request", 400);
        case FormReader::Outcome::NoSpace:
            return text("The service is short of disk space. Please try again later");
        case FormReader::Outcome::Capped:
            return text(AccountRoutes::strangerPeer);
        }
        const FormFields fields(reader.fields());
        if (!Credentials::signatureMatches(fields.value("publicKey"), fields.value("accessToken")))
            return text(denied);
        return text(handler(fields, reader));
    }

private:
    FormReader reader;
    const Handler handler;
    const std::function<void()> done;
};

bool isResultName(const std::string &name)
{
    // 32 lower-case hex digits and ".wav".
    return name.size() == 36 && name.compare(32, 4, ".wav") == 0
        && name.find_first_not_of("0123456789abcdef") == 32;
}

} // namespace

ZelkService::ZelkService(ServiceOptions options)
    : options(std::move(options))
    , uploadsDir(this->options.dataDir + "/uploads")
    , resultsDir(this->options.dataDir + "/results")
    , outbox(this->options.dataDir + "/outbox.txt")
    , processor(
          database, uploadsDir, resultsDir, this->options.jobMemory, workerThreads, this->options.modelsDir)
    , workers(workerThreads,
          [this](std::int32_t songId, const std::atomic<bool> &stop) { processor.process(songId, stop); })
    , accountRoutes(database, outbox)
    , songRoutes(database, workers, processor, uploadsDir, this->options.minSeconds)
    , server([this](const HttpServer::Request &request, HttpServer::Reply &reply) {
        return route(request, reply);
    })
{ }

ZelkService::~ZelkService()
{
    stop();
    workers.stop();
    if (janitorThread.joinable())
        janitorThread.join();
    if (lockFd >= 0)
        ::close(lockFd);
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
    const std::string lockPath = options.dataDir + "/zelk-service.lock";
    lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "the data folder " + options.dataDir
                + " is in use by another zelk-service; stop it first or give this one another --data folder"
                                     : "cannot lock the data folder " + options.dataDir;
        return false;
    }
    if (!makePrivate(error))
        return false;
    if (!database.open(options.dataDir + "/zelk-service.sqlite", error))
        return false;
    removeLeftovers();

    if (!server.start(options.host, options.port, error))
        return false;
    songRoutes.setFallbackHost(options.host + ":" + std::to_string(server.port()));
    {
        std::lock_guard<std::mutex> lock(janitorMutex);
        serving = true;
    }

    processor.expire(Clock::now());
    processor.checkModel();
    // Songs that were waiting when the service last stopped run now.
    for (const Database::Song &song : database.queuedSongsInOrder())
        workers.enqueue(song.id, song.userId);
    janitorThread = std::thread([this] { janitor(); });
    return true;
}

void ZelkService::run()
{
    std::unique_lock<std::mutex> lock(janitorMutex);
    janitorWake.wait(lock, [this] { return stopping || !serving; });
}

void ZelkService::stop()
{
    // Running songs give up at once and stay queued for the next start.
    workers.halt();
    server.stop();
    {
        std::lock_guard<std::mutex> lock(janitorMutex);
        stopping = true;
    }
    janitorWake.notify_all();
}

std::unique_ptr<HttpServer::Exchange> ZelkService::route(
    const HttpServer::Request &request, HttpServer::Reply &reply)
{
    if (request.method == "GET" || request.method == "HEAD") {
        reply = page(request.path);
        return nullptr;
    }
    std::string filePath;
    const FormHandler handler = formHandler(request, filePath);
    if (!handler) {
        reply = text("Not found", 404);
        return nullptr;
    }
    if (!acceptableBody(request, reply))
        return nullptr;
    if (filePath.empty())
        return std::make_unique<FormExchange>(request, maxBodyBytes(), reserveBytes(), filePath, handler);
    return upload(request, filePath, handler, reply);
}

HttpServer::Reply ZelkService::page(const std::string &path)
{
    if (path == "/generate_204")
        return text({}, 204);
    const std::string prefix = resultPrefix;
    if (path.rfind(prefix, 0) == 0 && isResultName(path.substr(prefix.size())))
        return result(path.substr(prefix.size(), 32));
    if (const std::string guide = UserGuide::page(path); !guide.empty()) {
        HttpServer::Reply reply;
        reply.contentType = "text/html; charset=utf-8";
        reply.body = guide;
        return reply;
    }
    return text("Not found", 404);
}

ZelkService::FormHandler ZelkService::formHandler(const HttpServer::Request &request, std::string &filePath)
{
    const std::string &path = request.path;
    FormHandler handler;
    if (request.method != "POST")
        return handler;
    if (path == uploadPath) {
        // The upload goes to disk part by part as it arrives.
        filePath = songRoutes.newUploadPath();
        handler
            = [this](const FormFields &fields, FormReader &body) { return songRoutes.proceed(fields, body); };
    }
    for (const auto &[routePath, routeHandler] : accountRoutes.routes()) {
        if (routePath == path)
            handler = [routeHandler = routeHandler, peer = request.peer](
                          const FormFields &fields, FormReader &) { return routeHandler(fields, peer); };
    }
    for (const auto &[routePath, routeHandler] : songRoutes.routes()) {
        if (routePath == path)
            handler = [routeHandler = routeHandler, request](
                          const FormFields &fields, FormReader &) { return routeHandler(fields, request); };
    }
    return handler;
}

bool ZelkService::acceptableBody(const HttpServer::Request &request, HttpServer::Reply &reply) const
{
    // A compressed body would be decoded past every cap on its size.
    if (!request.contentEncoding.empty() && request.contentEncoding != "identity") {
        reply = text("Compressed requests are not accepted", 415);
        return false;
    }
    if (request.contentLength && *request.contentLength > maxBodyBytes()) {
        reply = text("The request is too large", 413);
        return false;
    }
    return true;
}

std::unique_ptr<HttpServer::Exchange> ZelkService::upload(const HttpServer::Request &request,
    const std::string &filePath, const FormHandler &handler, HttpServer::Reply &reply)
{
    {
        std::lock_guard<std::mutex> lock(uploadsMutex);
        if (uploadsByPeer[request.peer] >= uploadsAtOncePerPeer) {
            reply = text("Too many uploads at once from this computer. Please wait until one is done", 429);
            return nullptr;
        }
        ++uploadsByPeer[request.peer];
    }
    // The signature comes after the file: an address no account signed in from may send no more than a
    // form before it is known.
    const std::size_t maxFileBytes
        = database.knownAddress(request.peer) ? maxBodyBytes() : maxStrangerFileBytes;
    return std::make_unique<FormExchange>(request, maxBodyBytes(), reserveBytes(), filePath, handler,
        maxFileBytes, [this, peer = request.peer] {
            std::lock_guard<std::mutex> lock(uploadsMutex);
            if (--uploadsByPeer[peer] <= 0)
                uploadsByPeer.erase(peer);
        });
}

std::size_t ZelkService::maxBodyBytes() const
{
    return static_cast<std::size_t>(options.maxUpload) * 1024 * 1024;
}

std::uint64_t ZelkService::reserveBytes() const
{
    return std::uint64_t(options.diskReserve) * 1024 * 1024;
}

HttpServer::Reply ZelkService::result(const std::string &token)
{
    bool isMix = false;
    const std::optional<Database::Song> song = database.songByToken(token, isMix);
    if (!song || song->state != "done")
        return text("Not found", 404);
    HttpServer::Reply reply;
    reply.contentType = "audio/wav";
    reply.filePath = processor.resultPath(song->id, isMix);
    return reply;
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
