#pragma once

#include "SysInfoInterface.h"
#include "PluginManager.h"

// The "SysInfo" plug-in, bound on first use and kept until process exit.
class SysInfoManager : public PluginManager<SysInfoInterface>
{
public:
    static SysInfoManager &instance();

private:
    SysInfoManager();
};
