#include "RecordingPlayer.h"

#include <QFile>

bool RecordingPlayer::create(const QString &folder)
{
    script = folder + QStringLiteral("/player.sh");
    log = folder + QStringLiteral("/opened.txt");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The log's path comes from the script's own, so no quoting of the folder's name is needed.
    file.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n");
    file.close();
    return file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QStringList RecordingPlayer::opened() const
{
    QFile file(log);
    QStringList lines = file.open(QIODevice::ReadOnly)
        ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        : QStringList();
    lines.sort();
    return lines;
}
