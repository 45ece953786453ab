#pragma once

#include <string>

// Command-line options of zelk-service.
struct ServiceOptions
{
    std::string host;
    int port = 0;
    std::string dataDir;
    int minSeconds = 0;
    int jobMemory = 0; // megabytes of address space one job may use
    int maxUpload = 0; // megabytes one request may carry, whatever its coding
    int diskReserve = 0; // megabytes uploads leave free on the data folder's disk
    std::string modelsDir; // the folder holding the separation model
    bool help = false;

    // Fills the options from argv; on a bad command line answers false with the reason in error.
    static bool parse(int argc, char **argv, ServiceOptions &options, std::string &error);
    static std::string usage();
    // models/ beside the service's own executable: where the build tree and the package put the model.
    static std::string defaultModelsDir();
};
