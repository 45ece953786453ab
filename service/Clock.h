#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

// Wall-clock times as the database stores them: milliseconds since the epoch.
namespace Clock {

// Milliseconds the clock runs ahead: read from the file ZELK_SERVICE_CLOCK_SHIFT names, so that tests can
// let time pass over limits that only live in memory; 0 without it.
inline std::int64_t shift()
{
    static const char *const file = std::getenv("ZELK_SERVICE_CLOCK_SHIFT");
    if (!file)
        return 0;
    std::ifstream in(file);
    std::int64_t milliseconds = 0;
    return in >> milliseconds ? milliseconds : 0;
}

inline std::int64_t now()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count()
        + shift();
}

// "YYYY-MM-DD" in UTC.
inline std::string date(std::int64_t milliseconds)
{
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
    return text;
}

} // namespace Clock
