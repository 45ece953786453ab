#include "LoggingManager.h"

LoggingManager &LoggingManager::instance()
{
    static LoggingManager manager;
    return manager;
}

LoggingManager::LoggingManager()
    : PluginManager(QStringLiteral("LogQuill"))
{ }
