// Preloaded into the service by the power-loss test: notes for every rename whether its source file was
// fsynced first, one line each in the file named by ZELK_SYNC_LOG ("synced PATH" or "unsynced PATH").
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace {

std::mutex mutex;
std::set<std::string> synced;

} // namespace

extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    const int result = real(fd);
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char path[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    if (result == 0 && length > 0) {
        std::lock_guard<std::mutex> lock(mutex);
        synced.insert(std::string(path, size_t(length)));
    }
    return result;
}

extern "C" int rename(const char *from, const char *to)
{
    static const auto real
        = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    char full[PATH_MAX];
    const std::string source = realpath(from, full) ? full : from;
    std::lock_guard<std::mutex> lock(mutex);
    const bool wasSynced = synced.erase(source) > 0;
    const char *log = std::getenv("ZELK_SYNC_LOG");
    if (FILE *file = log ? std::fopen(log, "ae") : nullptr) {
        std::fprintf(file, "%s %s\n", wasSynced ? "synced" : "unsynced", source.c_str());
        std::fclose(file);
    }
    return real(from, to);
}
