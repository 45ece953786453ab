#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Points every conversion at a stand-in ffmpeg for its lifetime and reads back what it was called with.
// The stand-in logs its process id and arguments and writes a small file to its last argument, which is
// where ffmpeg writes its output. Like ffmpeg, without "-y" it asks on its input before overwriting an
// existing output and ends on no.
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

    // A switch of the stand-in:
    //   "FAIL_IF", arg    a run with this argument leaves a partial output and ends with status 1
    //   "HANG_IF", arg    a run with this argument leaves a partial output and sleeps up to 60 s
    //   "IGNORE_TERM", 1  ignore the terminate request, so only a kill ends it
    //   "NO_OUTPUT", 1    end with status 0 but write nothing
    void setSwitch(const char *name, const QString &value);
    QList<Run> runs() const;
    QList<QStringList> argumentLists() const;

private:
    Q_DISABLE_COPY_MOVE(FakeFfmpegSession)

    QTemporaryDir dir;
};

// True while a process with this id exists, zombies included.
bool processExists(qint64 pid);
