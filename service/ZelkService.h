#pragma once

#include "AccountRoutes.h"
#include "Database.h"
#include "Outbox.h"
#include "ServiceOptions.h"
#include "SongProcessor.h"
#include "SongRoutes.h"
#include "WorkerPool.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

// The stand-in processing service: the HTTP endpoints, the database and the workers.
class ZelkService
{
public:
    explicit ZelkService(ServiceOptions options);
    ~ZelkService();
    ZelkService(const ZelkService &) = delete;
    ZelkService &operator=(const ZelkService &) = delete;

    // Opens the data folder and binds the port; answers false with the reason in error.
    bool start(std::string &error);
    int port() const { return boundPort; }
    // Serves until stop() is called from another thread.
    void run();
    void stop();

private:
    void installRoutes();
    void serveResult(const httplib::Request &request, httplib::Response &response);
    // Gives the data folder, its two subfolders and their files to the service's user alone.
    bool makePrivate(std::string &error) const;
    void removeLeftovers();
    static void dropConnections();
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
    std::unique_ptr<httplib::Server> server;
    int boundPort = 0;

    std::mutex janitorMutex;
    std::condition_variable janitorWake;
    bool stopping = false;
    std::thread janitorThread;
};
