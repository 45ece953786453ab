#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

// Wall-clock times as the database stores them: milliseconds since the epoch.
namespace Clock {

inline std::int64_t now()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
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
