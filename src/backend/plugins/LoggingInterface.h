#pragma once

#include <QString>
#include <QtPlugin>

// Implemented by the logging plug-in; the slot order is part of the binary contract.
class LoggingInterface
{
public:
    // The setting, in the settings file given to install(), that says whether the log file is written.
    // The plug-in and the program's SettingsKeys both take its name from here.
    static constexpr const char *enabledKey = "APP_LOGFILE_ENABLED";

    virtual void close() = 0;
    virtual void install() = 0;
    virtual void install(const QString &folder, const QString &settingsFileName) = 0;
    virtual void switchLogging(bool active) = 0;
    virtual bool isEnabled() const = 0;
};

#define LoggingInterface_iid "com.orvanesoftware.zelk.LoggingInterface"
Q_DECLARE_INTERFACE(LoggingInterface, LoggingInterface_iid)
