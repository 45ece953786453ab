#pragma once

#include "UpdateInterface.h"
#include "PluginManager.h"

// The "Updater" plug-in, bound on first use and kept until process exit.
class UpdateManager : public PluginManager<UpdateInterface>
{
public:
    static UpdateManager &instance();

private:
    UpdateManager();
};
