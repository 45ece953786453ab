#include "HttpServer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

struct HttpServer::Link
{
    int fd = -1;
    // Steady milliseconds since the connection waits for a request's headers; 0 while a request runs.
    std::atomic<std::int64_t> waitingSince { 0 };
};

namespace {

std::int64_t steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string header(MHD_Connection *connection, const char *name)
{
    const char *value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value ? value : "";
}

std::string numericAddress(const sockaddr *address)
{
    char text[NI_MAXHOST] = {};
    const socklen_t length = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return text;
}

// The one range of "bytes=first-last", "bytes=first-" or "bytes=-suffix" in a file of size bytes. Several
// ranges, or a header that is not one of these, answer false: the whole file is sent.
bool singleRange(const std::string &range, std::uint64_t size, std::uint64_t &first, std::uint64_t &last,
    bool &satisfiable)
{
    const std::string prefix = "bytes=";
    if (range.compare(0, prefix.size(), prefix) != 0 || range.find(',') != std::string::npos)
        return false;
    const std::string bounds = range.substr(prefix.size());
    const size_t dash = bounds.find('-');
    if (dash == std::string::npos || bounds.find_first_not_of("0123456789-") != std::string::npos
        || bounds.find('-', dash + 1) != std::string::npos || bounds.size() > 40)
        return false;
    const std::string from = bounds.substr(0, dash);
    const std::string to = bounds.substr(dash + 1);
    if (from.empty() && to.empty())
        return false;
    if (from.empty()) {
        const std::uint64_t suffix = std::strtoull(to.c_str(), nullptr, 10);
        satisfiable = suffix > 0 && size > 0;
        first = suffix >= size ? 0 : size - suffix;
        last = size - 1;
        return true;
    }
    first = std::strtoull(from.c_str(), nullptr, 10);
    last = to.empty() ? size - 1 : std::min<std::uint64_t>(std::strtoull(to.c_str(), nullptr, 10), size - 1);
    if (!to.empty() && std::strtoull(to.c_str(), nullptr, 10) < first)
        return false;
    satisfiable = first < size;
    return true;
}

// A refused body up to this size is read and dropped before the reply goes out. A reply sent while the
// body still arrives ends the connection with unread data, and the client's system may then drop the reply.
constexpr std::uint64_t dropBytes = 64ULL * 1024 * 1024;

// A reply known as soon as the headers are in, sent once the request is read.
class Ready final : public HttpServer::Exchange
{
public:
    explicit Ready(HttpServer::Reply reply)
        : reply(std::move(reply))
    { }
    bool receive(const char *, std::size_t length) override
    {
        dropped += length;
        return dropped <= dropBytes;
    }
    HttpServer::Reply finish() override { return reply; }

private:
    const HttpServer::Reply reply;
    std::uint64_t dropped = 0;
};

MHD_Result queue(MHD_Connection *connection, int status, MHD_Response *response, const std::string &type)
{
    if (!response)
        return MHD_NO;
    if (!type.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str());
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

HttpServer::HttpServer(Router router)
    : router(std::move(router))
{ }

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(const std::string &host, int port, std::string &error)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string where = host + ":" + std::to_string(port);
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        error = "cannot listen on " + where + ": unknown address";
        return false;
    }
    listenFd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const bool bound = listenFd >= 0 && ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
        && ::bind(listenFd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(listenFd, listenBacklog) == 0;
    ::freeaddrinfo(found);
    sockaddr_storage local {};
    socklen_t localLength = sizeof local;
    if (!bound || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&local), &localLength) != 0) {
        error = "cannot listen on " + where + ": " + std::strerror(errno);
        if (listenFd >= 0)
            ::close(listenFd);
        listenFd = -1;
        return false;
    }
    boundPort = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port
                                                  : reinterpret_cast<sockaddr_in *>(&local)->sin_port);

    daemon = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD, 0, nullptr,
        nullptr, &HttpServer::access, this, MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_CONNECTION_LIMIT,
        connectionsInAll, MHD_OPTION_PER_IP_CONNECTION_LIMIT, connectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, connectionMemory,
        MHD_OPTION_NOTIFY_COMPLETED, &HttpServer::completed, this, MHD_OPTION_NOTIFY_CONNECTION,
        &HttpServer::notify, this, MHD_OPTION_END);
    if (!daemon) {
        error = "cannot serve on " + where;
        ::close(listenFd);
        listenFd = -1;
        return false;
    }
    watcher = std::thread([this] { watch(); });
    return true;
}

void HttpServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(linksMutex);
        stopping = true;
    }
    watchWake.notify_all();
    if (watcher.joinable())
        watcher.join();
    // Closes the listening socket, ends every connection and joins their threads.
    if (daemon)
        MHD_stop_daemon(daemon);
    daemon = nullptr;
    listenFd = -1;
}

void HttpServer::watch()
{
    // MHD's own time-out counts silence only: a client that trickles a header line now and then would
    // hold its connection for ever. Shutting the socket down wakes its thread, which then closes it.
    std::unique_lock<std::mutex> lock(linksMutex);
    while (!watchWake.wait_for(lock, std::chrono::milliseconds(200), [this] { return stopping; })) {
        const std::int64_t now = steadyMilliseconds();
        for (const auto &[connection, link] : links) {
            const std::int64_t since = link->waitingSince;
            if (since != 0 && now - since > headerSeconds * 1000LL) {
                link->waitingSince = 0;
                ::shutdown(link->fd, SHUT_RDWR);
            }
        }
    }
}

void HttpServer::notify(void *self, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code)
{
    auto *server = static_cast<HttpServer *>(self);
    std::lock_guard<std::mutex> lock(server->linksMutex);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        server->links.erase(connection);
        return;
    }
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (!info)
        return;
    auto link = std::make_shared<Link>();
    link->fd = info->connect_fd;
    link->waitingSince = steadyMilliseconds();
    server->links[connection] = link;
}

void HttpServer::completed(void *self, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
{
    delete static_cast<Exchange *>(*context);
    *context = nullptr;
    auto *server = static_cast<HttpServer *>(self);
    std::lock_guard<std::mutex> lock(server->linksMutex);
    if (const auto found = server->links.find(connection); found != server->links.end())
        found->second->waitingSince = steadyMilliseconds();
}

MHD_Result HttpServer::access(void *self, MHD_Connection *connection, const char *url, const char *method,
    const char *, const char *uploadData, std::size_t *uploadSize, void **context)
{
    auto *server = static_cast<HttpServer *>(self);
    if (!*context) {
        {
            std::lock_guard<std::mutex> lock(server->linksMutex);
            if (const auto found = server->links.find(connection); found != server->links.end())
                found->second->waitingSince = 0;
        }
        Request request;
        request.method = method;
        request.path = url;
        request.host = header(connection, MHD_HTTP_HEADER_HOST);
        request.contentType = header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
        request.contentEncoding = header(connection, MHD_HTTP_HEADER_CONTENT_ENCODING);
        request.connection = connection;
        const std::string length = header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (header(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING).empty())
            request.contentLength = std::strtoull(length.c_str(), nullptr, 10);
        if (const MHD_ConnectionInfo *info
            = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            request.peer = numericAddress(info->client_addr);
        Reply reply;
        std::unique_ptr<Exchange> exchange = server->router(request, reply);
        // A reply queued before the request is read whole ends the connection after it: only a body
        // too large to drop goes that way.
        const bool droppable = !request.contentLength || *request.contentLength <= dropBytes;
        if (!exchange && !droppable)
            return answer(connection, reply, header(connection, MHD_HTTP_HEADER_RANGE));
        if (!exchange)
            exchange = std::make_unique<Ready>(std::move(reply));
        *context = exchange.release();
        return MHD_YES;
    }
    auto *exchange = static_cast<Exchange *>(*context);
    if (*uploadSize > 0) {
        const bool go = exchange->receive(uploadData, *uploadSize);
        *uploadSize = 0;
        return go ? MHD_YES : MHD_NO;
    }
    return answer(connection, exchange->finish(), header(connection, MHD_HTTP_HEADER_RANGE));
}

MHD_Result HttpServer::answer(MHD_Connection *connection, const Reply &reply, const std::string &range)
{
    if (reply.filePath.empty()) {
        return queue(connection, reply.status,
            MHD_create_response_from_buffer(
                reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY),
            reply.contentType);
    }
    const int fd = ::open(reply.filePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info
    {
    };
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        return answer(connection, Reply { 404, "Not found", Reply().contentType, {} }, {});
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool satisfiable = false;
    if (!singleRange(range, size, first, last, satisfiable)) {
        // The response owns the descriptor from here on.
        MHD_Response *whole = MHD_create_response_from_fd64(size, fd);
        if (!whole)
            ::close(fd);
        return queue(connection, MHD_HTTP_OK, whole, reply.contentType);
    }
    if (!satisfiable) {
        ::close(fd);
        MHD_Response *refused = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        const std::string all = "bytes */" + std::to_string(size);
        if (refused)
            MHD_add_response_header(refused, MHD_HTTP_HEADER_CONTENT_RANGE, all.c_str());
        return queue(connection, MHD_HTTP_RANGE_NOT_SATISFIABLE, refused, {});
    }
    MHD_Response *part = MHD_create_response_from_fd_at_offset64(last - first + 1, fd, first);
    const std::string span
        = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
    if (part)
        MHD_add_response_header(part, MHD_HTTP_HEADER_CONTENT_RANGE, span.c_str());
    else
        ::close(fd);
    return queue(connection, MHD_HTTP_PARTIAL_CONTENT, part, reply.contentType);
}
