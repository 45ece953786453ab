#include "Outbox.h"

#include <ctime>
#include <fstream>
#include <iostream>

Outbox::Outbox(std::string path)
    : path(std::move(path))
{ }

bool Outbox::sendRecoveryCode(const std::string &email, const std::string &code)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);

    std::lock_guard<std::mutex> lock(mutex);
    std::cout << "recovery code for " << email << ": " << code << std::endl;
    std::ofstream file(path, std::ios::app);
    file << stamp << '\t' << email << '\t' << code << '\n';
    file.flush();
    return static_cast<bool>(file);
}
