#pragma once

#include <QString>
#include <QtPlugin>

// Implemented by the logging plug-in; the slot order is part of the binary contract.
class LoggingInterface
{
public:
    virtual void close() = 0;
    virtual void install() = 0;
    virtual void install(const QString &folder, const QString &settingsFileName) = 0;
    virtual void switchLogging(bool active) = 0;
    virtual bool isEnabled() const = 0;
};

#define LoggingInterface_iid "com.orvanesoftware.zelk.LoggingInterface"
Q_DECLARE_INTERFACE(LoggingInterface, LoggingInterface_iid)
