#include "ServiceOptions.h"
#include "SongProcessor.h"
#include "ZelkService.h"

#include <arpa/inet.h>

#include <malloc.h>

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {

bool isLoopback(const std::string &host)
{
    in_addr v4 {};
    in6_addr v6 {};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return host == "localhost";
}

} // namespace

int main(int argc, char **argv)
{
    // A job the service started on one song, in a process of its own.
    if (SongProcessor::isJobCommand(argc, argv))
        return SongProcessor::runJob(argc, argv);

    // Large blocks (a password hash's 19 MiB, a request's buffers) go back to the system when freed:
    // otherwise each thread's arena keeps the largest it ever held.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);

    ServiceOptions options;
    std::string error;
    if (!ServiceOptions::parse(argc, argv, options, error)) {
        std::cerr << "zelk-service: " << error << "\n" << ServiceOptions::usage();
        return 2;
    }
    if (options.help) {
        std::cout << ServiceOptions::usage();
        return 0;
    }

    // SIGINT and SIGTERM are taken by one thread that stops the server; the others never see them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (!isLoopback(options.host))
        std::cerr << "zelk-service: warning: --host " << options.host
                  << " is not a loopback address. The protocol is plain HTTP, signed with a key every client "
                     "knows, and names accounts by e-mail address or id alone: whoever can watch this "
                     "traffic sees user hashes, password digests and audio and can act as those users. "
                     "Use it only on a network you trust."
                  << std::endl;

    ZelkService service(options);
    if (!service.start(error)) {
        std::cerr << "zelk-service: " << error << std::endl;
        return 1;
    }
    // Tests and scripts read the port from this first line.
    std::cout << "listening on " << options.host << ":" << service.port() << std::endl;
    std::cout << "data folder " << options.dataDir << "; recovery codes go to " << options.dataDir
              << "/outbox.txt" << std::endl;

    std::thread signalWaiter([&service, signals] {
        int received = 0;
        sigwait(&signals, &received);
        service.stop();
    });
    service.run();
    // Wakes the waiter when the server ended by itself.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    std::cout << "stopped" << std::endl;
    return 0;
}
