#include "FaultyFfmpeg.h"

#include <QCoreApplication>
#include <QFile>

namespace {

const char script[] = R"(#!/bin/sh
[ -n "$ZELK_FFMPEG_LOG" ] && printf '%s\n' "$*" >> "$ZELK_FFMPEG_LOG"
for last; do :; done
case "$*" in *pcm_s16le*) step=prepare;; *) step=final;; esac
case "$ZELK_FFMPEG_FAULT" in
  "hang-$step") exec sleep 60;;
  "fail-$step") exit 1;;
  "unreadable-$step") mkdir "$last"; exit 0;;
esac
exec "%1" "$@"
)";

} // namespace

bool FaultyFfmpeg::install(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString real = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
    const QByteArray text = QString::fromLatin1(script).arg(real).toUtf8();
    const bool written = file.write(text) == text.size();
    file.close();
    return written && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}
