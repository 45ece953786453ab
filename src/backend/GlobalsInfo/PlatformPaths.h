#pragma once

#include <QDir>
#include <QString>

// The few facts that differ between the desktop systems the program runs on.
namespace PlatformPaths {

// File suffix of a plug-in library beside the executable.
inline QString pluginSuffix()
{
#if defined(Q_OS_MACOS)
    return QStringLiteral(".dylib");
#elif defined(Q_OS_WIN)
    return QStringLiteral(".dll");
#else
    return QStringLiteral(".so");
#endif
}

// Folder whose sub-folders are the mounted removable volumes, offered in the file dialog's sidebar.
inline QString volumesFolder()
{
#if defined(Q_OS_MACOS)
    return QStringLiteral("/Volumes");
#else
    return QStringLiteral("/media/") + QDir::home().dirName();
#endif
}

} // namespace PlatformPaths
