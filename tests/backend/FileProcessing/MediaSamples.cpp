#include "MediaSamples.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace MediaSamples {

namespace {

// Runs a tool to its end; false when it failed or took longer than a minute.
bool runTool(const QString &program, const QStringList &arguments, QByteArray *output, QByteArray *errors)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    // One that hangs is killed as the process object goes.
    if (!process.waitForFinished(60000))
        return false;
    *output = process.readAllStandardOutput();
    *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString ffmpeg()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
}

bool generate(const QStringList &inputs, const QStringList &codecArguments, const QString &path)
{
    QByteArray output, errors;
    const bool made = runTool(ffmpeg(),
        QStringList { "-nostdin", "-v", "error", "-y" } + inputs + codecArguments << path, &output, &errors);
    if (!made)
        qWarning().noquote() << "Making" << path << "failed:" << errors;
    return made;
}

} // namespace

QMap<QString, QStringList> sourceCodecs()
{
    const QStringList h264 { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac" };
    return { { "mp4", h264 }, { "mkv", h264 }, { "mov", h264 },
        { "avi", { "-c:v", "mpeg4", "-c:a", "libmp3lame" } }, { "wmv", { "-c:v", "wmv2", "-c:a", "wmav2" } },
        { "mpg", { "-c:v", "mpeg2video", "-c:a", "mp2" } },
        { "webm", { "-c:v", "libvpx", "-c:a", "libvorbis" } },
        { "flv", { "-c:v", "flv", "-c:a", "libmp3lame" } }, { "mp3", { "-c:a", "libmp3lame" } },
        { "flac", { "-c:a", "flac" } } };
}

bool makeVideo(const QString &path, const QStringList &codecArguments)
{
    return generate({ "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=0.5", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=0.5:sample_rate=44100", "-af", "volume=-30dB", "-ac",
                        "2", "-shortest" },
        codecArguments, path);
}

bool makeAudio(const QString &path, const QStringList &codecArguments)
{
    return generate({ "-f", "lavfi", "-i", "sine=frequency=1000:duration=0.5:sample_rate=44100", "-ac", "2" },
        codecArguments, path);
}

bool makeTaggedSong(const QString &path, const QMap<QString, QString> &tags)
{
    QStringList arguments { "-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "mjpeg", "-disposition:v",
        "attached_pic", "-c:a", "libmp3lame" };
    for (auto tag = tags.cbegin(); tag != tags.cend(); ++tag)
        arguments << "-metadata" << tag.key() + QLatin1Char('=') + tag.value();
    return generate({ "-f", "lavfi", "-i", "sine=frequency=1000:duration=0.5:sample_rate=44100", "-f",
                        "lavfi", "-i", "color=c=red:size=32x32:duration=0.5" },
        arguments, path);
}

bool makeResultWav(const QString &path)
{
    return makeAudio(path, { "-c:a", "pcm_s16le" });
}

Info probe(const QString &path)
{
    Info info;
    QByteArray output, errors;
    if (!runTool(QStringLiteral(ZELK_FFPROBE),
            { "-v", "error", "-show_entries",
                "stream=codec_type,codec_name,channels:stream_disposition=attached_pic:format_tags", "-of",
                "json", path },
            &output, &errors)) {
        info.problem = QString::fromUtf8(errors);
        return info;
    }
    const QJsonObject report = QJsonDocument::fromJson(output).object();
    const QJsonObject tags
        = report.value(QLatin1String("format")).toObject().value(QLatin1String("tags")).toObject();
    for (auto tag = tags.constBegin(); tag != tags.constEnd(); ++tag)
        info.tags.insert(tag.key().toLower(), tag.value().toString());
    for (const QJsonValue &value : report.value(QLatin1String("streams")).toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value(QLatin1String("codec_type")).toString();
        const QJsonObject disposition = stream.value(QLatin1String("disposition")).toObject();
        const bool cover = disposition.value(QLatin1String("attached_pic")).toInt() == 1;
        info.hasCover = info.hasCover || cover;
        info.hasVideo = info.hasVideo || (type == QLatin1String("video") && !cover);
        if (type == QLatin1String("audio") && !info.hasAudio) {
            info.hasAudio = true;
            info.audioCodec = stream.value(QLatin1String("codec_name")).toString();
            info.channels = stream.value(QLatin1String("channels")).toInt();
        }
    }

    // Decode every stream to the end; any decoding error fails the run.
    info.decodes = runTool(ffmpeg(),
        { "-nostdin", "-nostats", "-xerror", "-i", path, "-map", "0", "-af", "volumedetect", "-f", "null",
            "-" },
        &output, &errors);
    if (!info.decodes)
        info.problem = QString::fromUtf8(errors.right(400));
    const QRegularExpressionMatch mean
        = QRegularExpression(QStringLiteral("mean_volume: (-?[0-9.]+) dB")).match(QString::fromUtf8(errors));
    if (mean.hasMatch())
        info.meanVolumeDb = mean.captured(1).toDouble();
    return info;
}

} // namespace MediaSamples
