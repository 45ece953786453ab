#include "FakeFfmpegSession.h"

#include "FileProcessing/ConvertingFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>

namespace {

const char *const switches[] = { "FAIL_IF", "HANG_IF", "IGNORE_TERM", "NO_OUTPUT" };

QByteArray switchName(const char *name)
{
    return QByteArray("ZELK_FAKE_FFMPEG_") + name;
}

} // namespace

FakeFfmpegSession::FakeFfmpegSession()
    : logPath(logDir.filePath(QStringLiteral("calls.jsonl")))
{
    for (const char *name : switches)
        qunsetenv(switchName(name).constData());
    qputenv("ZELK_FAKE_FFMPEG_LOG", QFile::encodeName(logPath));
    ConvertingFile::setProgramPath(QCoreApplication::applicationDirPath() + QStringLiteral("/fake-ffmpeg"));
}

FakeFfmpegSession::~FakeFfmpegSession()
{
    ConvertingFile::setProgramPath(QString());
    for (const char *name : switches)
        qunsetenv(switchName(name).constData());
    qunsetenv("ZELK_FAKE_FFMPEG_LOG");
}

void FakeFfmpegSession::setSwitch(const char *name, const QString &value)
{
    qputenv(switchName(name).constData(), value.toLocal8Bit());
}

QList<FakeFfmpegSession::Run> FakeFfmpegSession::runs() const
{
    QList<Run> result;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return result;
    while (!log.atEnd()) {
        const QJsonObject entry = QJsonDocument::fromJson(log.readLine()).object();
        Run run;
        run.pid = entry.value(QLatin1String("pid")).toInteger();
        for (const QJsonValue &arg : entry.value(QLatin1String("args")).toArray())
            run.args << arg.toString();
        result << run;
    }
    return result;
}

QList<QStringList> FakeFfmpegSession::argumentLists() const
{
    QList<QStringList> lists;
    for (const Run &run : runs())
        lists << run.args;
    return lists;
}

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}
