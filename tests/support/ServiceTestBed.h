#pragma once

#include "ServiceProcess.h"

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// What the window tests share: folders with blanks, quotes, "#", "+", "&" and non-ASCII letters in their
// names, the stand-in ffmpeg, a result WAV, the running local service and a signed-up account.
// The stand-in ffmpeg is the real one except for the one fault a test asks for through ZELK_FFMPEG_FAULT
// ("hang-", "fail-" or "unreadable-" followed by "prepare" or "final"); with ZELK_FFMPEG_LOG set, every
// run appends its arguments to that file, one line each.
class ServiceTestBed final
{
public:
    ServiceTestBed() = default;
    Q_DISABLE_COPY_MOVE(ServiceTestBed)

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
