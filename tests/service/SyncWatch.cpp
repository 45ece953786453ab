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

std::string resolved(const char *path)
{
    char full[PATH_MAX];
    return realpath(path, full) ? std::string(full) : std::string(path);
}

void note(const std::string &line)
{
    const char *log = std::getenv("ZELK_SYNC_LOG");
    if (FILE *file = log ? std::fopen(log, "ae") : nullptr) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

} // namespace

extern "C" int fsync(int fd)
{
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    const int result = real(fd);
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t length = ::readlink(link, path, sizeof path - 1);
    if (result == 0 && length > 0) {
        std::lock_guard<std::mutex> lock(mutex);
        synced.insert(std::string(path, size_t(length)));
    }
    return result;
}

extern "C" int rename(const char *from, const char *to)
{
    static const auto real = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "rename"));
    const std::string source = resolved(from);
    bool wasSynced = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasSynced = synced.erase(source) > 0;
    }
    note((wasSynced ? "synced " : "unsynced ") + source);
    return real(from, to);
}
