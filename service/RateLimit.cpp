#include "RateLimit.h"

#include <iterator>

namespace {

// Keys kept before the ones whose window has ended are dropped: a scan from many addresses must not
// grow the map without end.
constexpr size_t pruneAbove = 10000;

} // namespace

RateLimit::RateLimit(int limit, std::int64_t windowMilliseconds)
    : limit(limit)
    , windowMilliseconds(windowMilliseconds)
{ }

RateLimit::Window &RateLimit::window(const std::string &key, std::int64_t now)
{
    if (windows.size() > pruneAbove) {
        for (auto it = windows.begin(); it != windows.end();)
            it = now - it->second.start >= windowMilliseconds ? windows.erase(it) : std::next(it);
    }
    Window &found = windows[key];
    if (found.count == 0 || now - found.start >= windowMilliseconds) {
        found.start = now;
        found.count = 0;
    }
    return found;
}

bool RateLimit::exhausted(const std::string &key, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = windows.find(key);
    return found != windows.end() && now - found->second.start < windowMilliseconds
        && found->second.count >= limit;
}

bool RateLimit::take(const std::string &key, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex);
    Window &current = window(key, now);
    if (current.count >= limit)
        return false;
    ++current.count;
    return true;
}
