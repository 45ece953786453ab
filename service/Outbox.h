#pragma once

#include <mutex>
#include <string>

// Stands in for the service's mail: every message is printed on the console and appended to
// "outbox.txt" in the data folder, one line each: UTC time, address and code, separated by tabs.
class Outbox
{
public:
    explicit Outbox(std::string path);

    bool sendRecoveryCode(const std::string &email, const std::string &code);

private:
    std::mutex mutex;
    const std::string path;
};
