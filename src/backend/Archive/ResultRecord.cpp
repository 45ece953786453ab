#include "ResultRecord.h"

#include "GlobalsInfo/GlobalsInfo.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

const QString sourceKey = QStringLiteral("source");
const QString processedKey = QStringLiteral("processed");
const QString formatKey = QStringLiteral("format");
const QString recordedKey = QStringLiteral("recorded");
const QString filesKey = QStringLiteral("files");

// The service keeps results 30 days; a song recorded long before that has left the archive.
constexpr qint64 keptDays = 60;

QString fileKey(const QString &format, bool isMix)
{
    return format.toLower() + (isMix ? QStringLiteral("/mix") : QStringLiteral("/instrument"));
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

} // namespace

QString ResultRecord::Song::file(const QString &format, bool isMix) const
{
    return files.value(fileKey(format, isMix));
}

ResultRecord::ResultRecord(const QString &path)
    : path(path)
{
    reload();
}

QString ResultRecord::defaultPath()
{
    return GlobalsInfo::getInstance()->getDocumentsPath() + QStringLiteral("/results.json");
}

bool ResultRecord::recordRun(
    int songId, const QString &source, const QString &format, const QString &mainPath, const QString &mixPath)
{
    return ResultRecord().addRun(songId, source, format, mainPath, mixPath);
}

void ResultRecord::reload()
{
    QFile file(path);
    songs = {};
    if (!file.open(QIODevice::ReadOnly))
        return;
    // A damaged record counts as empty: the rows then offer downloads, and the next write replaces it.
    songs = QJsonDocument::fromJson(file.readAll()).object();
}

bool ResultRecord::addRun(int songId, const QString &source, const QString &format, const QString &mainPath,
    const QString &mixPath, const QDateTime &when)
{
    return change(songId, source, [&](QJsonObject &song) {
        song.insert(processedKey, when.toUTC().toString(Qt::ISODate));
        song.insert(formatKey, format.toLower());
        QJsonObject files = song.value(filesKey).toObject();
        files.insert(fileKey(format, false), mainPath);
        files.insert(fileKey(format, true), mixPath);
        song.insert(filesKey, files);
    });
}

bool ResultRecord::addFile(
    int songId, const QString &source, const QString &format, bool isMix, const QString &path)
{
    return change(songId, source, [&](QJsonObject &song) {
        QJsonObject files = song.value(filesKey).toObject();
        files.insert(fileKey(format, isMix), path);
        song.insert(filesKey, files);
    });
}

std::optional<ResultRecord::Song> ResultRecord::song(int songId, const QString &source) const
{
    const QJsonObject entry = songs.value(QString::number(songId)).toObject();
    if (entry.isEmpty() || entry.value(sourceKey).toString() != source)
        return std::nullopt;
    Song song;
    song.source = source;
    song.processed = QDateTime::fromString(entry.value(processedKey).toString(), Qt::ISODate);
    song.format = entry.value(formatKey).toString();
    const QJsonObject files = entry.value(filesKey).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        song.files.insert(it.key(), it.value().toString());
    return song;
}

bool ResultRecord::change(int songId, const QString &source, const std::function<void(QJsonObject &)> &edit)
{
    reload();
    const QString id = QString::number(songId);
    QJsonObject song = songs.value(id).toObject();
    // The same id from another source is another song (another service or account): start afresh.
    if (song.value(sourceKey).toString() != source)
        song = { { sourceKey, source }, { recordedKey, now() } };
    edit(song);
    songs.insert(id, song);

    // A file written now is this song's alone, even where another song's deleted result had its name.
    const QJsonObject claimed = song.value(filesKey).toObject();
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-keptDays);
    for (auto it = songs.begin(); it != songs.end();) {
        QJsonObject other = it.value().toObject();
        if (QDateTime::fromString(other.value(recordedKey).toString(), Qt::ISODate) < oldest) {
            it = songs.erase(it);
            continue;
        }
        if (it.key() != id) {
            QJsonObject files = other.value(filesKey).toObject();
            for (const QJsonValue &path : claimed)
                for (const QString &key : files.keys())
                    if (files.value(key) == path)
                        files.remove(key);
            other.insert(filesKey, files);
            it.value() = other;
        }
        ++it;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(songs).toJson()) < 0 || !file.commit()) {
        qWarning().noquote() << "Could not write the result record" << path << ":" << file.errorString();
        return false;
    }
    return true;
}
