#include "MediaFormats.h"

#include <QFileInfo>

const QStringList &MediaFormats::audioSources()
{
    static const QStringList suffixes { "aac", "aif", "aiff", "m4a", "mp1", "mp3", "mp4", "ogg", "wav", "wma",
        "flac" };
    return suffixes;
}

const QStringList &MediaFormats::videoSources()
{
    static const QStringList suffixes { "avi", "flv", "m4v", "mov", "mp4", "mpg", "rm", "vob", "webm", "wmv",
        "mkv" };
    return suffixes;
}

const QStringList &MediaFormats::audioOutputs()
{
    static const QStringList suffixes { "mp3", "wav", "m4a", "aiff", "flac", "wma" };
    return suffixes;
}

const QStringList &MediaFormats::videoOutputs()
{
    static const QStringList suffixes { "mov", "mp4", "mpg", "webm", "wmv", "mkv" };
    return suffixes;
}

QString MediaFormats::suffixOf(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

bool MediaFormats::hasPicture(const QString &path)
{
    return videoSources().contains(suffixOf(path));
}

bool MediaFormats::isVideoOutput(const QString &suffix)
{
    return videoOutputs().contains(suffix.toLower());
}
