#include "FakeFfmpegSession.h"

#include "FileProcessing/ConvertingFile.h"

#include <QFile>

#include <cerrno>
#include <csignal>

namespace {

const char *const switches[] = { "FAIL_IF", "HANG_IF", "IGNORE_TERM", "NO_OUTPUT", "LOG" };

// One log line per run: the process id, then each argument after a unit separator.
const char script[] = R"(#!/bin/sh
{ printf '%s' "$$"; for a; do printf '\037%s' "$a"; done; echo; } >> "$ZELK_FAKE_FFMPEG_LOG"
[ "$ZELK_FAKE_FFMPEG_IGNORE_TERM" = 1 ] && trap '' TERM
yes=; fail=; hang=
for a; do
  out=$a
  [ "$a" = -y ] && yes=1
  [ -n "$ZELK_FAKE_FFMPEG_FAIL_IF" ] && [ "$a" = "$ZELK_FAKE_FFMPEG_FAIL_IF" ] && fail=1
  [ -n "$ZELK_FAKE_FFMPEG_HANG_IF" ] && [ "$a" = "$ZELK_FAKE_FFMPEG_HANG_IF" ] && hang=1
done
if [ -z "$yes" ] && [ -e "$out" ]; then
  printf "File '%s' already exists. Overwrite? [y/N] " "$out" >&2
  read answer && [ "$answer" = y ] || exit 1
fi
[ -n "$fail" ] && { echo partial > "$out"; exit 1; }
[ -n "$hang" ] && { echo partial > "$out"; exec sleep 60; }
[ "$ZELK_FAKE_FFMPEG_NO_OUTPUT" = 1 ] && exit 0
echo 'converted media' > "$out"
)";

void clearSwitches()
{
    for (const char *name : switches)
        qunsetenv(QByteArray(QByteArray("ZELK_FAKE_FFMPEG_") + name).constData());
}

} // namespace

FakeFfmpegSession::FakeFfmpegSession()
{
    clearSwitches();
    setSwitch("LOG", dir.filePath(QStringLiteral("calls.log")));
    const QString program = dir.filePath(QStringLiteral("ffmpeg"));
    QFile file(program);
    if (file.open(QIODevice::WriteOnly) && file.write(script) == qint64(sizeof script - 1) && file.flush())
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    ConvertingFile::setProgramPath(program);
}

FakeFfmpegSession::~FakeFfmpegSession()
{
    ConvertingFile::setProgramPath(QString());
    clearSwitches();
}

void FakeFfmpegSession::setSwitch(const char *name, const QString &value)
{
    qputenv(QByteArray(QByteArray("ZELK_FAKE_FFMPEG_") + name).constData(), value.toLocal8Bit());
}

QList<FakeFfmpegSession::Run> FakeFfmpegSession::runs() const
{
    QList<Run> result;
    QFile log(dir.filePath(QStringLiteral("calls.log")));
    if (!log.open(QIODevice::ReadOnly))
        return result;
    while (!log.atEnd()) {
        QStringList args = QString::fromLocal8Bit(log.readLine()).chopped(1).split(QLatin1Char('\037'));
        const qint64 pid = args.takeFirst().toLongLong();
        result << Run { pid, args };
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
