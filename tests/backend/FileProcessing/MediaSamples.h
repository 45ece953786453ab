#pragma once

#include <QMap>
#include <QStringList>

// Media made at test time with ffmpeg's own sources (test pattern, sine), and what ffprobe and a full
// decode say about a file. Uses the ffmpeg beside the test program and the ffprobe found at build time.
namespace MediaSamples {

// The usual codecs of each source kind by suffix; the video ones name a "-c:v".
QMap<QString, QStringList> sourceCodecs();

// Half a second of a tiny test pattern with a quiet stereo sine, so that the new audio is told apart.
bool makeVideo(const QString &path, const QStringList &codecArguments);
// Half a second of a loud stereo sine, the stand-in for a downloaded result WAV.
bool makeResultWav(const QString &path);
bool makeAudio(const QString &path, const QStringList &codecArguments);
// An MP3 song with these tags and a tiny JPEG cover.
bool makeTaggedSong(const QString &path, const QMap<QString, QString> &tags);

struct Info
{
    bool decodes = false;
    bool hasVideo = false; // a picture stream that is not a cover
    bool hasCover = false;
    QMap<QString, QString> tags; // the file's own, keys in lower case
    bool hasAudio = false;
    QString audioCodec;
    int channels = 0;
    double meanVolumeDb = -200;
    QString problem;
};

Info probe(const QString &path);
// Above this the audio is the loud result, not the quiet sound of the source video.
constexpr double newAudioThresholdDb = -35.0;

} // namespace MediaSamples
