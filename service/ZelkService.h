#pragma once

#include "AccountRoutes.h"
#include "Database.h"
#include "HttpServer.h"
#include "Outbox.h"
#include "ServiceOptions.h"
#include "SongProcessor.h"
#include "SongRoutes.h"
#include "WorkerPool.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The stand-in processing service: the HTTP endpoints, the database and the workers.
class FormFields;
class FormReader;

class ZelkService
{
public:
    // Answers a signed form, given its fields and its body as read so far.
    using FormHandler = std::function<std::string(const FormFields &fields, FormReader &body)>;

    explicit ZelkService(ServiceOptions options);
    ~ZelkService();
    ZelkService(const ZelkService &) = delete;
    ZelkService &operator=(const ZelkService &) = delete;

    // Opens the data folder and binds the port; answers false with the reason in error.
    bool start(std::string &error);
    int port() const { return server.port(); }
    // Serves until stop() is called from another thread.
    void run();
    void stop();

private:
    // The exchange that reads a request's body, or none with the reply already set.
    std::unique_ptr<HttpServer::Exchange> route(const HttpServer::Request &request, HttpServer::Reply &reply);
    // A GET or HEAD: a result, a help page or the connectivity check.
    HttpServer::Reply page(const std::string &path);
    // The handler of a POST to the request's path, none for an unknown one; an upload also gets the path
    // its file goes to.
    FormHandler formHandler(const HttpServer::Request &request, std::string &filePath);
    // Whether the body may be read at all: not compressed, not declared over the cap.
    bool acceptableBody(const HttpServer::Request &request, HttpServer::Reply &reply) const;
    // The exchange of an upload, counted against its address's uploads at once.
    std::unique_ptr<HttpServer::Exchange> upload(const HttpServer::Request &request,
        const std::string &filePath, const FormHandler &handler, HttpServer::Reply &reply);
    std::size_t maxBodyBytes() const;
    std::uint64_t reserveBytes() const;
    HttpServer::Reply result(const std::string &path);
    // Gives the data folder, its two subfolders and their files to the service's user alone.
    bool makePrivate(std::string &error) const;
    void removeLeftovers();
    void janitor();

    const ServiceOptions options;
    const std::string uploadsDir;
    const std::string resultsDir;
    Database database;
    Outbox outbox;
    SongProcessor processor;
    WorkerPool workers;
    AccountRoutes accountRoutes;
    SongRoutes songRoutes;
    HttpServer server;

    std::mutex janitorMutex;
    std::condition_variable janitorWake;
    bool stopping = false;
    bool serving = false;
    std::thread janitorThread;
    // Uploads being received, per address: each holds up to the upload cap on the disk before its
    // signature, which comes last, can be checked.
    std::mutex uploadsMutex;
    std::map<std::string, int> uploadsByPeer;
    // Held on the data folder while the service runs: a second one on it would share its files.
    int lockFd = -1;
};
