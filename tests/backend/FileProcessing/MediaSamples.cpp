#include "MediaSamples.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace MediaSamples {

namespace {

struct Result
{
    bool ok = false;
    QByteArray output;
    QByteArray errors;
};

Result runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

QString ffmpeg()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
}

bool generate(const QStringList &inputs, const QStringList &codecArguments, const QString &path)
{
    const QStringList arguments = QStringList { "-nostdin", "-v", "error", "-y" } + inputs + codecArguments
        << path;
    const Result result = runTool(ffmpeg(), arguments);
    if (!result.ok)
        qWarning().noquote() << "Making" << path << "failed:" << result.errors;
    return result.ok;
}

} // namespace

QList<Format> videoSources()
{
    const QStringList h264 { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac" };
    return {
        { "mp4", h264 },
        { "mkv", h264 },
        { "mov", h264 },
        { "avi", { "-c:v", "mpeg4", "-c:a", "libmp3lame" } },
        { "wmv", { "-c:v", "wmv2", "-c:a", "wmav2" } },
        { "mpg", { "-c:v", "mpeg2video", "-c:a", "mp2" } },
        { "webm", { "-c:v", "libvpx", "-c:a", "libvorbis" } },
        { "flv", { "-c:v", "flv", "-c:a", "libmp3lame" } },
    };
}

QList<Format> audioSources()
{
    return {
        { "mp3", { "-c:a", "libmp3lame" } },
        { "m4a", { "-c:a", "aac" } },
        { "flac", { "-c:a", "flac" } },
        { "WAV", { "-c:a", "pcm_s16le" } },
    };
}

bool makeVideo(const QString &path, const QStringList &codecArguments)
{
    const QStringList inputs { "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-f", "lavfi",
        "-i", "sine=frequency=440:duration=1:sample_rate=44100", "-af", "volume=-30dB", "-ac", "2",
        "-shortest" };
    return generate(inputs, codecArguments, path);
}

bool makeAudio(const QString &path, const QStringList &codecArguments)
{
    const QStringList inputs { "-f", "lavfi", "-i", "sine=frequency=1000:duration=1:sample_rate=44100", "-ac",
        "2" };
    return generate(inputs, codecArguments, path);
}

bool makeResultWav(const QString &path)
{
    return makeAudio(path, { "-c:a", "pcm_s16le" });
}

Info probe(const QString &path)
{
    Info info;
    const Result streams = runTool(QStringLiteral(ZELK_FFPROBE),
        { "-v", "error", "-show_entries", "stream=codec_type,codec_name,channels", "-of", "json", path });
    if (!streams.ok) {
        info.problem = QString::fromUtf8(streams.errors);
        return info;
    }
    info.readable = true;
    const QJsonArray list
        = QJsonDocument::fromJson(streams.output).object().value(QLatin1String("streams")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value(QLatin1String("codec_type")).toString();
        if (type == QLatin1String("video")) {
            info.hasVideo = true;
        } else if (type == QLatin1String("audio") && !info.hasAudio) {
            info.hasAudio = true;
            info.audioCodec = stream.value(QLatin1String("codec_name")).toString();
            info.channels = stream.value(QLatin1String("channels")).toInt();
        }
    }

    // Decode every stream to the end; any decoding error fails the run.
    const Result decoded = runTool(ffmpeg(),
        { "-nostdin", "-nostats", "-xerror", "-i", path, "-map", "0", "-af", "volumedetect", "-f", "null",
            "-" });
    info.decodes = decoded.ok;
    if (!decoded.ok)
        info.problem = QString::fromUtf8(decoded.errors.right(400));
    const QRegularExpression mean(QStringLiteral("mean_volume: (-?[0-9.]+) dB"));
    const QRegularExpressionMatch match = mean.match(QString::fromUtf8(decoded.errors));
    if (match.hasMatch())
        info.meanVolumeDb = match.captured(1).toDouble();
    return info;
}

} // namespace MediaSamples
