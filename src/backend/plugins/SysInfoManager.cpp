#include "SysInfoManager.h"

SysInfoManager &SysInfoManager::instance()
{
    static SysInfoManager manager;
    return manager;
}

SysInfoManager::SysInfoManager()
    : PluginManager(QStringLiteral("SysInfo"))
{ }
