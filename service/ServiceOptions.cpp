#include "ServiceOptions.h"

#include "ServiceDefaults.h"

#include <cstdlib>
#include <filesystem>
#include <limits>

namespace {

bool readInt(const std::string &text, long low, long high, int &value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

constexpr int defaultJobMemory = 1024;
// Below this not even a short song fits: a minute of stereo at 44.1 kHz needs it for every instrument.
constexpr int minJobMemory = 128;
constexpr int maxJobMemory = 1024 * 1024;
// About 90 minutes of stereo at 48 kHz.
constexpr int defaultMaxUpload = 1024;
// Room for the database, the results and the outbox, whatever uploads arrive.
constexpr int defaultDiskReserve = 256;

// The options that take a number of megabytes, each with an environment variable for its default.
struct Megabytes
{
    const char *option;
    const char *variable;
    int low;
    int high;
    int ServiceOptions::*value;
};
const Megabytes megabyteOptions[] = {
    { "--job-memory", "ZELK_SERVICE_JOB_MEMORY", minJobMemory, maxJobMemory, &ServiceOptions::jobMemory },
    { "--max-upload", "ZELK_SERVICE_MAX_UPLOAD", 1, 16 * 1024, &ServiceOptions::maxUpload },
    { "--disk-reserve", "ZELK_SERVICE_DISK_RESERVE", 0, 100 * 1000 * 1000, &ServiceOptions::diskReserve },
};

std::string megabytesRange(const Megabytes &option)
{
    return " takes a number of megabytes from " + std::to_string(option.low) + " to "
        + std::to_string(option.high);
}

std::string defaultDataDir()
{
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/zelk-service";
}

} // namespace

std::string ServiceOptions::defaultModelsDir()
{
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string("models") : (self.parent_path() / "models").string();
}

bool ServiceOptions::parse(int argc, char **argv, ServiceOptions &options, std::string &error)
{
    options = ServiceOptions();
    options.host = ServiceDefaults::host;
    options.port = ServiceDefaults::port;
    options.dataDir = defaultDataDir();
    options.jobMemory = defaultJobMemory;
    options.maxUpload = defaultMaxUpload;
    options.diskReserve = defaultDiskReserve;
    options.modelsDir = defaultModelsDir();
    if (const char *models = std::getenv("ZELK_SERVICE_MODELS"); models && *models)
        options.modelsDir = models;
    // The environment gives a default too, for a service started by a script or a test.
    for (const Megabytes &option : megabyteOptions) {
        if (const char *text = std::getenv(option.variable);
            text && *text && !readInt(text, option.low, option.high, options.*option.value)) {
            error = option.variable + megabytesRange(option);
            return false;
        }
    }

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        const Megabytes *megabytes = nullptr;
        for (const Megabytes &candidate : megabyteOptions)
            megabytes = option == candidate.option ? &candidate : megabytes;
        if (option != "--port" && option != "--data" && option != "--min-seconds" && option != "--host"
            && option != "--models" && !megabytes) {
            error = "unknown option " + option;
            return false;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (option == "--port"
            && !readInt(value, 0, std::numeric_limits<unsigned short>::max(), options.port)) {
            error = "--port takes a number from 0 to 65535";
            return false;
        }
        if (option == "--min-seconds" && !readInt(value, 0, 24 * 3600, options.minSeconds)) {
            error = "--min-seconds takes a number of seconds from 0 to 86400";
            return false;
        }
        if (megabytes && !readInt(value, megabytes->low, megabytes->high, options.*megabytes->value)) {
            error = option + megabytesRange(*megabytes);
            return false;
        }
        if (option == "--data") {
            if (value.empty()) {
                error = "--data needs a folder";
                return false;
            }
            options.dataDir = value;
        }
        if (option == "--host")
            options.host = value;
        if (option == "--models") {
            if (value.empty()) {
                error = "--models needs a folder";
                return false;
            }
            options.modelsDir = value;
        }
    }
    return true;
}

std::string ServiceOptions::usage()
{
    return "usage: zelk-service [--port N] [--data DIR] [--min-seconds N] [--host ADDRESS] [--job-memory "
           "MB]\n"
           "                   [--max-upload MB] [--disk-reserve MB] [--models DIR]\n"
           "  --port N         port to listen on (default "
        + std::to_string(ServiceDefaults::port)
        + "; 0 picks a free one)\n"
          "  --data DIR       folder for the database, uploads, results and outbox.txt\n"
          "                   (default ~/.local/share/zelk-service)\n"
          "  --min-seconds N  hold every job at least N seconds (default 0)\n"
          "  --host ADDRESS   address to listen on (default "
        + std::string(ServiceDefaults::host)
        + ")\n"
          "  --job-memory MB  address space one job (one song being split, in a process of its own)\n"
          "                   may use; a job over it fails with a reason (default "
        + std::to_string(defaultJobMemory)
        + ", or ZELK_SERVICE_JOB_MEMORY)\n"
          "  --max-upload MB  most one request may carry, chunked or not (default "
        + std::to_string(defaultMaxUpload)
        + ", or ZELK_SERVICE_MAX_UPLOAD)\n"
          "  --disk-reserve MB  free space an upload never takes on the data folder's disk (default "
        + std::to_string(defaultDiskReserve)
        + ", or ZELK_SERVICE_DISK_RESERVE)\n"
          "  --models DIR     folder of the separation model separator.pt (default: models beside this\n"
          "                   program, or ZELK_SERVICE_MODELS); without a model that loads, songs are split\n"
          "                   with signal-processing methods\n";
}
