#pragma once

#include <QDebug>

namespace PluginManagerHelper {
// A warning stream that already names the plug-in manager, so every load failure reads alike.
QDebug Warning();
} // namespace PluginManagerHelper
