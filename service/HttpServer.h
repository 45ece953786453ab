#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include <sys/socket.h>
#include <microhttpd.h>

// The HTTP layer: one thread per connection, with caps on connections per address and in all, a deadline
// for a request's headers, an idle time-out and a bounded header size per connection.
class HttpServer
{
public:
    struct Request
    {
        std::string method;
        std::string path;
        std::string peer; // the client's address, numeric
        std::string host; // the Host header
        std::string contentType;
        std::string contentEncoding;
        std::optional<std::uint64_t> contentLength; // none for a chunked body
        MHD_Connection *connection = nullptr;
    };

    struct Reply
    {
        int status = 200;
        std::string body;
        std::string contentType = "text/plain; charset=utf-8";
        // When set, the file's content is sent instead of body, whole or the one range asked for.
        std::string filePath;
    };

    // One request's body as it arrives, then its reply.
    class Exchange
    {
    public:
        virtual ~Exchange() = default;
        // False ends the connection at once, without a reply.
        virtual bool receive(const char *data, std::size_t length) = 0;
        virtual Reply finish() = 0;
    };

    // Called once a request's headers are in: an exchange that takes the body, or none and the reply at
    // once in reply (the body, if any, is then not read and the connection closes).
    using Router = std::function<std::unique_ptr<Exchange>(const Request &request, Reply &reply)>;

    explicit HttpServer(Router router);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port (0 picks a free port) and starts serving; false with the reason in error.
    bool start(const std::string &host, int port, std::string &error);
    int port() const { return boundPort; }
    void stop();

    static constexpr unsigned connectionsInAll = 512;
    static constexpr unsigned connectionsPerAddress = 24;
    // A request's headers must be whole this long after the connection opened or the last reply went out.
    static constexpr int headerSeconds = 3;
    // Longest silence in a body or while a reply is written.
    static constexpr unsigned idleSeconds = 10;
    // Each connection's buffer; it bounds the request line and headers.
    static constexpr std::size_t connectionMemory = 32 * 1024;
    static constexpr int listenBacklog = 1024;

private:
    struct Link;
    static MHD_Result access(void *self, MHD_Connection *connection, const char *url, const char *method,
        const char *version, const char *uploadData, std::size_t *uploadSize, void **context);
    static void completed(
        void *self, MHD_Connection *connection, void **context, MHD_RequestTerminationCode code);
    static void notify(
        void *self, MHD_Connection *connection, void **socketContext, MHD_ConnectionNotificationCode code);
    static MHD_Result answer(MHD_Connection *connection, const Reply &reply, const std::string &range);
    void watch();

    const Router router;
    MHD_Daemon *daemon = nullptr;
    int listenFd = -1;
    int boundPort = 0;

    std::mutex linksMutex;
    std::condition_variable watchWake;
    bool stopping = false;
    std::unordered_map<MHD_Connection *, std::shared_ptr<Link>> links;
    std::thread watcher;
};
