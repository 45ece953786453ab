#pragma once

#include <QString>
#include <QStringList>

// A stand-in media player: a script that writes down each file it is asked to open.
class RecordingPlayer
{
public:
    // Writes the script into folder; false when it could not.
    bool create(const QString &folder);
    QString program() const { return script; }
    // What it was asked to open so far, sorted: players started at once may write in any order.
    QStringList opened() const;

private:
    QString script;
    QString log;
};
