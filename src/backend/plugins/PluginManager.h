#pragma once

#include "GlobalsInfo/PlatformPaths.h"
#include "PluginManagerHelper.h"

#include <QCoreApplication>
#include <QPluginLoader>
#include <QString>

#include <atomic>

// Binds one optional plug-in beside the executable on first use. A plug-in that fails to load or
// does not implement T stays unavailable for the rest of the run; it is never tried again.
template <typename T> class PluginManager
{
public:
    explicit PluginManager(const QString &name)
        : pluginName(name)
    { }
    Q_DISABLE_COPY(PluginManager)

    bool available() { return loader() != nullptr; }
    explicit operator bool() { return available(); }
    T *operator->() { return loader(); }

    T *loader()
    {
        if (tried.exchange(true))
            return iface;

        const QString path = buildPath(pluginName);
        pluginLoader.setFileName(path);
        if (!pluginLoader.load()) {
            PluginManagerHelper::Warning() << path << "load error:" << pluginLoader.errorString();
            return nullptr;
        }
        if (QObject *root = pluginLoader.instance()) {
            iface = qobject_cast<T *>(root);
            if (!iface) {
                PluginManagerHelper::Warning() << path << "iface mismatch";
                pluginLoader.unload();
            }
        }
        return iface;
    }

    static QString buildPath(const QString &name)
    {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/lib") + name
            + PlatformPaths::pluginSuffix();
    }

private:
    QString pluginName;
    QPluginLoader pluginLoader;
    T *iface = nullptr;
    std::atomic<bool> tried { false };
};
