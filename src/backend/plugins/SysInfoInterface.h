#pragma once

#include <QString>
#include <QtPlugin>

// Implemented by the optional system-information plug-in; the slot order is part of the binary contract.
class SysInfoInterface
{
public:
    virtual void collect() = 0; // first slot, never called by the program
    virtual void setApplicationInfo(
        const QString &versionText, const QString &buildText, bool flagA, bool flagB)
        = 0;
    virtual void showUid() = 0;
};

#define SysInfoInterface_iid "com.orvanesoftware.zelk.SysInfoInterface"
Q_DECLARE_INTERFACE(SysInfoInterface, SysInfoInterface_iid)
