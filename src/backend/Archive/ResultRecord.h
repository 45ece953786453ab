#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// Which files each processed song left in the save folder, kept with the user's documents. Result
// names are numbered when taken, so a name alone cannot say whose result a file is: the Archive
// trusts only what is written here. Every change is read, merged and replaced whole on disk, so the
// processing window and the Archive may both write it.
class ResultRecord final
{
public:
    struct Song
    {
        QString source;
        QDateTime processed; // invalid when the song was not processed on this computer
        QString format; // the format the run made
        QHash<QString, QString> files; // "<format>/instrument" or "<format>/mix" to its path

        QString file(const QString &format, bool isMix) const;
    };

    explicit ResultRecord(const QString &path = defaultPath());

    // "results.json" in the documents folder.
    static QString defaultPath();
    // Records a finished run in the default place; false when the record could not be written.
    static bool recordRun(int songId, const QString &source, const QString &format, const QString &mainPath,
        const QString &mixPath);

    // Reads the record again, as another window may have written it meanwhile.
    void reload();
    bool addRun(int songId, const QString &source, const QString &format, const QString &mainPath,
        const QString &mixPath, const QDateTime &when = QDateTime::currentDateTimeUtc());
    bool addFile(int songId, const QString &source, const QString &format, bool isMix, const QString &path);

    // The song, only when it was made from that source: an id of another service or account is another song.
    std::optional<Song> song(int songId, const QString &source) const;

private:
    bool change(int songId, const QString &source, const std::function<void(QJsonObject &)> &edit);

    QString path;
    QJsonObject songs;
};
