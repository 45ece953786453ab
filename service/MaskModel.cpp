#include "MaskModel.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>

int MaskModel::sourceOf(const std::string &instrument)
{
    const char *const names[] = { "vocals", "drums", "bass", "guitar", "piano" };
    for (int i = 0; i < 5; ++i) {
        if (instrument == names[i])
            return i;
    }
    return -1;
}

std::unique_ptr<MaskModel> MaskModel::load(
    const std::string &pluginPath, const std::string &modelPath, std::string &error, bool &outOfMemory)
{
    outOfMemory = false;
    struct stat info
    {
    };
    if (::stat(modelPath.c_str(), &info) != 0) {
        error = "no model at " + modelPath;
        return nullptr;
    }
    // Never closed: a library that started threads and registered operators cannot be unloaded safely.
    void *plugin = ::dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        const char *reason = ::dlerror();
        error = "cannot load " + pluginPath + ": " + (reason ? reason : "unknown reason");
        outOfMemory = reason && std::strstr(reason, "memory");
        return nullptr;
    }
    using Entry = MaskModel *(*)(const char *path, char *error, int errorSize, int *outOfMemory);
    const auto entry = reinterpret_cast<Entry>(::dlsym(plugin, entryPoint));
    if (!entry) {
        error = pluginPath + " has no " + entryPoint;
        return nullptr;
    }
    std::vector<char> reason(512, '\0');
    int memoryShort = 0;
    std::unique_ptr<MaskModel> model(
        entry(modelPath.c_str(), reason.data(), static_cast<int>(reason.size()), &memoryShort));
    if (!model) {
        error = reason.data();
        outOfMemory = memoryShort != 0;
    }
    return model;
}
