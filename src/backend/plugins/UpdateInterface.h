#pragma once

#include <QObject>
#include <QString>
#include <QtPlugin>

// Implemented by the optional updater plug-in; the slot order is part of the binary contract.
class UpdateInterface : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void startupCheck(int versionNumber, const QString &versionText) = 0;
    virtual void downloadUpdate() = 0; // second slot, never called by the program
    virtual void checkForUpdates(int versionNumber, const QString &versionText) = 0;
    virtual void onQuit() = 0;

signals:
    void updateDone();
    void updateError();
};

#define UpdateInterface_iid "com.orvanesoftware.zelk.AppUpdaterInterface"
Q_DECLARE_INTERFACE(UpdateInterface, UpdateInterface_iid)
