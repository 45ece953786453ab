#include "ServiceOptions.h"
#include "ZelkService.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

int main(int argc, char **argv)
{
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
