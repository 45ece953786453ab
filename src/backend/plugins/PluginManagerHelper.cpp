#include "PluginManagerHelper.h"

QDebug PluginManagerHelper::Warning()
{
    return qWarning() << Q_FUNC_INFO << "[MGR] WARNING:";
}
