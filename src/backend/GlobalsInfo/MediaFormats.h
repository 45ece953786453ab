#pragma once

#include <QString>
#include <QStringList>

// The media the program takes and makes, by file suffix (lower case, without the dot). The file
// dialog, the drop, the conversions, the processing window and the Archive all ask here, so that
// what one of them offers another never refuses.
namespace MediaFormats {

// Sources opened for their sound; "mp4" is in both source lists.
const QStringList &audioSources();
// Sources that carry a picture a video result can keep.
const QStringList &videoSources();
// Results of sound only.
const QStringList &audioOutputs();
// Results that carry a picture, and so open in the video player.
const QStringList &videoOutputs();

QString suffixOf(const QString &path);
bool hasPicture(const QString &path);
bool isVideoOutput(const QString &suffix);

} // namespace MediaFormats
