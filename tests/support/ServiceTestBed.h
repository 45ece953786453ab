#pragma once

#include "ServiceProcess.h"

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// What the window tests against the local service share: folders whose names carry blanks, quotes,
// "#", "+", "&" and non-ASCII letters, the stand-in ffmpeg, a result WAV, the running service and a
// signed-up account.
class ServiceTestBed final
{
public:
    ServiceTestBed() = default;
    Q_DISABLE_COPY_MOVE(ServiceTestBed)

    static QString oddFolder();

    // False, with a warning, when any piece could not be made.
    bool setUp();
    // Points the program's settings at a service's base URL.
    static void useService(const QUrl &base);

    QString documents;
    QString savePath;
    QString tempPath;
    QString sourceFolder;
    QString resultWav;
    QString ffmpegWrapper;
    QTemporaryDir serviceData;
    ServiceProcess service;
};
