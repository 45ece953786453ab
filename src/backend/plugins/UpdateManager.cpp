#include "UpdateManager.h"

UpdateManager &UpdateManager::instance()
{
    static UpdateManager manager;
    return manager;
}

UpdateManager::UpdateManager()
    : PluginManager(QStringLiteral("Updater"))
{ }
