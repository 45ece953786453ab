#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// Counts events per key (a peer address, an e-mail address) in a fixed window that starts with the
// key's first event. Safe to share between HTTP threads.
class RateLimit
{
public:
    RateLimit(int limit, std::int64_t windowMilliseconds);

    // Whether the key has used up its events in the current window.
    bool exhausted(const std::string &key, std::int64_t now);
    // Counts one event; false when the key had used up its events already.
    bool take(const std::string &key, std::int64_t now);

private:
    struct Window
    {
        std::int64_t start = 0;
        int count = 0;
    };
    Window &window(const std::string &key, std::int64_t now);

    const int limit;
    const std::int64_t windowMilliseconds;
    std::mutex mutex;
    std::unordered_map<std::string, Window> windows;
};
