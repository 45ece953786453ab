#pragma once

#include "LoggingInterface.h"
#include "PluginManager.h"

// The "LogQuill" plug-in, bound on first use and kept until process exit.
class LoggingManager : public PluginManager<LoggingInterface>
{
public:
    static LoggingManager &instance();

private:
    LoggingManager();
};
