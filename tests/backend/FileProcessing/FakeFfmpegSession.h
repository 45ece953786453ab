#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Points every conversion at the stand-in ffmpeg (tests/support/FakeFfmpeg.cpp) for its lifetime and reads
// back what it was called with.
class FakeFfmpegSession final
{
public:
    struct Run
    {
        qint64 pid = 0;
        QStringList args;
    };

    FakeFfmpegSession();
    ~FakeFfmpegSession();

    // One of the stand-in's ZELK_FAKE_FFMPEG_* switches, without the prefix, e.g. "FAIL_IF".
    void setSwitch(const char *name, const QString &value);
    QList<Run> runs() const;
    QList<QStringList> argumentLists() const;

private:
    Q_DISABLE_COPY_MOVE(FakeFfmpegSession)

    QTemporaryDir logDir;
    QString logPath;
};

// True while a process with this id exists, zombies included.
bool processExists(qint64 pid);
