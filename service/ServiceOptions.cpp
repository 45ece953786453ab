#include "ServiceOptions.h"

#include "ServiceDefaults.h"

#include <cstdlib>
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

std::string defaultDataDir()
{
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/zelk-service";
}

} // namespace

bool ServiceOptions::parse(int argc, char **argv, ServiceOptions &options, std::string &error)
{
    options = ServiceOptions();
    options.host = ServiceDefaults::host;
    options.port = ServiceDefaults::port;
    options.dataDir = defaultDataDir();
    options.jobMemory = defaultJobMemory;
    // The environment gives a default too, for a service started by a script or a test.
    if (const char *memory = std::getenv("ZELK_SERVICE_JOB_MEMORY");
        memory && *memory && !readInt(memory, minJobMemory, maxJobMemory, options.jobMemory)) {
        error = "ZELK_SERVICE_JOB_MEMORY takes a number of megabytes from " + std::to_string(minJobMemory)
            + " to " + std::to_string(maxJobMemory);
        return false;
    }

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        if (option != "--port" && option != "--data" && option != "--min-seconds" && option != "--host"
            && option != "--job-memory") {
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
        if (option == "--job-memory" && !readInt(value, minJobMemory, maxJobMemory, options.jobMemory)) {
            error = "--job-memory takes a number of megabytes from " + std::to_string(minJobMemory) + " to "
                + std::to_string(maxJobMemory);
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
    }
    return true;
}

std::string ServiceOptions::usage()
{
    return "usage: zelk-service [--port N] [--data DIR] [--min-seconds N] [--host ADDRESS] [--job-memory MB]\n"
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
        + std::to_string(defaultJobMemory) + ", or ZELK_SERVICE_JOB_MEMORY)\n";
}
