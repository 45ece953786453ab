#include "ConvertingFile.h"

#include "SourceCheck.h"

#include "GlobalsInfo/MediaFormats.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace {

using MediaFormats::isVideoOutput;
using MediaFormats::suffixOf;

// The per-format video encoding arguments; "mov", "mkv" and "mp4" share the H.264 block.
QStringList encoderBlock(const QString &suffix)
{
    if (suffix == QLatin1String("mpg"))
        return { "-c:v", "mpeg2video", "-qscale:v", "2", "-c:a", "mp2" };
    if (suffix == QLatin1String("webm"))
        return { "-c:v", "libvpx", "-crf", "30", "-b:v", "1M", "-c:a", "libvorbis" };
    if (suffix == QLatin1String("wmv"))
        return { "-c:v", "wmv2", "-c:a", "wmav2" };
    return { "-c:v", "libx264", "-crf", "23", "-preset", "medium", "-c:a", "aac" };
}

// Audio containers that hold a cover picture.
bool holdsCover(const QString &suffix)
{
    return suffix == QLatin1String("mp3") || suffix == QLatin1String("m4a")
        || suffix == QLatin1String("flac");
}

// The part a result holds, from the name both windows give it: "vocals - song.mp3" holds "Vocals",
// "Mix Without vocals - song.mp3" holds "Without Vocals". Empty for any other name.
QString partOf(const QString &outputPath)
{
    static const QRegularExpression named(QStringLiteral("^(Mix Without )?([A-Za-z]+) - "));
    const QRegularExpressionMatch match = named.match(QFileInfo(outputPath).fileName());
    if (!match.hasMatch())
        return {};
    const QString name = match.captured(2);
    const QString part = name.left(1).toUpper() + name.mid(1).toLower();
    return match.capturedLength(1) > 0 ? QStringLiteral("Without ") + part : part;
}

QString &programOverride()
{
    static QString path;
    return path;
}

QString lastLines(const QByteArray &text, int count)
{
    QStringList lines
        = QString::fromUtf8(text).split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    if (lines.size() > count)
        lines = lines.mid(lines.size() - count);
    return lines.join(QLatin1String(" | "));
}

} // namespace

ConvertingFile::ConvertingFile(const std::atomic<int> *cancelFlag, const QString &inputPath,
    const QString &outputPath, const QString &videoSourcePath, bool isMain, QObject *parent)
    : QObject(parent)
    , inputPath(inputPath)
    , outputPath(outputPath)
    , videoSourcePath(videoSourcePath)
    , isMain(isMain)
    , cancelFlag(cancelFlag)
{ }

QString ConvertingFile::programPath()
{
    const QString &path = programOverride();
    if (!path.isEmpty())
        return path;
    return QFileInfo(QStringLiteral("%1/ffmpeg").arg(QCoreApplication::applicationDirPath()))
        .absoluteFilePath();
}

void ConvertingFile::setProgramPath(const QString &path)
{
    programOverride() = path;
}

void ConvertingFile::prepareToUpload()
{
    outputExistedBefore = QFileInfo::exists(outputPath);
    const QString suffix = suffixOf(inputPath);
    QStringList arguments;
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv"))
        arguments = QStringList { "-i", inputPath, "-y", outputPath };
    else if (MediaFormats::videoSources().contains(suffix))
        arguments
            = QStringList { "-i", inputPath, "-vn", "-acodec", "pcm_s16le", "-ac", "2", "-y", outputPath };
    else
        arguments = QStringList { "-i", inputPath, "-vn", "-c:a", "pcm_s16le", "-y", outputPath };

    // The caller judges the preparation by the WAV's presence, so a half-written one must not stay.
    if (!producedOutput(runCommand(arguments), outputPath))
        removePartialOutput();
    emit doneUploadConverting();
}

void ConvertingFile::prepareFinal()
{
    outputExistedBefore = QFileInfo::exists(outputPath);
    readSourceTags();
    const QString outSuffix = suffixOf(outputPath);
    const QString intermediate = intermediatePath();
    QList<QStringList> finalAttempts;
    bool intermediateReady = true;

    if (isVideoOutput(outSuffix)) {
        if (suffixOf(videoSourcePath) == outSuffix || outSuffix == QLatin1String("mp4")) {
            finalAttempts = { muxingBlock() << outputPath, reencodingBlock(outSuffix) << outputPath };
        } else {
            removeIntermediate();
            const RunResult first = runFirstThatWorks(
                { muxingBlock() << intermediate, reencodingBlock(QStringLiteral("mp4")) << intermediate },
                intermediate);
            intermediateReady = producedOutput(first, intermediate);
            finalAttempts = { fromIntermediate(outSuffix) };
        }
    } else {
        finalAttempts = taggedAudioAttempts();
    }

    if (isCancelled()) {
        QFile::remove(inputPath);
        removeIntermediate();
        return;
    }

    RunResult result = RunResult::Failed;
    if (intermediateReady)
        result = runFirstThatWorks(finalAttempts, outputPath);
    else
        qDebug().noquote() << "No intermediate video was made, skipping:"
                           << finalAttempts.first().join(QLatin1Char(' '));

    // The downloaded WAV is the user's only copy of the result until the conversion has produced one.
    if (producedOutput(result, outputPath)) {
        QFile::remove(inputPath);
    } else {
        removePartialOutput();
        if (isCancelled())
            QFile::remove(inputPath);
        else
            qWarning().noquote() << "Conversion failed, keeping" << inputPath;
    }
    removeIntermediate();
    if (isMain)
        emit doneMain();
    else
        emit doneMix();
}

void ConvertingFile::convertFile()
{
    outputExistedBefore = QFileInfo::exists(outputPath);
    readSourceTags();
    const QString outSuffix = suffixOf(outputPath);
    const QString intermediate = intermediatePath();
    QList<QStringList> attempts;
    bool intermediateReady = true;

    if (isVideoOutput(outSuffix)) {
        if (isVideoOutput(suffixOf(inputPath))) {
            attempts << (QStringList { "-y", "-i", inputPath } + encoderBlock(outSuffix) << outputPath);
        } else if (outSuffix == QLatin1String("mp4")) {
            attempts << (QStringList { "-y" } + muxingBlock() << outputPath)
                     << (QStringList { "-y" } + reencodingBlock(outSuffix) << outputPath);
        } else {
            const QStringList list = QStringList { "-y" } + muxingBlock() << intermediate;
            qDebug() << "Pre init commad:";
            qDebug().noquote() << list.join(QLatin1Char(' '));
            const RunResult first = runFirstThatWorks(
                { list, QStringList { "-y" } + reencodingBlock(QStringLiteral("mp4")) << intermediate },
                intermediate);
            intermediateReady = producedOutput(first, intermediate);
            attempts << fromIntermediate(outSuffix);
        }
    } else {
        attempts = taggedAudioAttempts();
    }

    if (isCancelled()) {
        removeIntermediate();
        return;
    }

    qDebug().noquote() << attempts.first().join(QLatin1Char(' '));
    RunResult result = RunResult::Failed;
    if (intermediateReady)
        result = runFirstThatWorks(attempts, outputPath);
    if (!producedOutput(result, outputPath)) {
        removePartialOutput();
        if (!isCancelled())
            qWarning().noquote() << "Conversion failed:" << outputPath;
    }
    removeIntermediate();
    emit doneMain();
}

// Audio outputs: the codec follows from the output's suffix.
QStringList ConvertingFile::audioArguments() const
{
    return { "-i", inputPath, "-b:a", "320k", "-vn", outputPath };
}

QList<QStringList> ConvertingFile::taggedAudioAttempts() const
{
    if (!hasTagSource)
        return { audioArguments() };
    const QStringList head { "-i", inputPath, "-i", videoSourcePath, "-map", "0:a:0" };
    const QStringList tail
        = QStringList { "-map_metadata", "1" } + titleArguments() + QStringList { "-b:a", "320k" }
        << outputPath;
    QList<QStringList> attempts;
    if (coverStream >= 0 && holdsCover(suffixOf(outputPath)))
        attempts << head
                + QStringList { "-map", QStringLiteral("1:%1").arg(coverStream), "-c:v", "copy",
                      "-disposition:v:0", "attached_pic" }
                + tail;
    // A cover the container refuses, or tags it cannot take, must not cost the result.
    attempts << head + tail << audioArguments();
    return attempts;
}

void ConvertingFile::readSourceTags()
{
    hasTagSource = QFileInfo(videoSourcePath).isFile();
    if (!hasTagSource)
        return;
    const SourceCheck::Tags tags = SourceCheck::tags(videoSourcePath, [this] { return isCancelled(); });
    sourceTitle = tags.title;
    coverStream = tags.coverStream;
}

// The source's title, or its file name without the suffix, followed by the part: "Song (Vocals)".
QString ConvertingFile::resultTitle() const
{
    const QString part = partOf(outputPath);
    if (part.isEmpty())
        return {};
    const QString title
        = sourceTitle.trimmed().isEmpty() ? QFileInfo(videoSourcePath).completeBaseName() : sourceTitle;
    return QStringLiteral("%1 (%2)").arg(title, part);
}

QStringList ConvertingFile::titleArguments() const
{
    const QString title = hasTagSource ? resultTitle() : QString();
    if (title.isEmpty())
        return {};
    return { "-metadata", QStringLiteral("title=") + title };
}

// The second of two video runs: the intermediate MP4 re-encoded into the output's format.
QStringList ConvertingFile::fromIntermediate(const QString &outSuffix) const
{
    return QStringList { "-y", "-i", intermediatePath() } + encoderBlock(outSuffix) << outputPath;
}

bool ConvertingFile::isCancelled() const
{
    return cancelFlag && cancelFlag->load(std::memory_order_acquire) == 1;
}

ConvertingFile::RunResult ConvertingFile::runCommand(const QStringList &arguments) const
{
    if (isCancelled())
        return RunResult::Cancelled;

    const QString program = programPath();
    QProcess process;
    // Without an input ffmpeg answers its overwrite question with no instead of waiting for ever.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadWrite);

    while (process.state() != QProcess::NotRunning && !isCancelled()) {
        if (process.waitForFinished(100))
            break;
    }

    RunResult result = RunResult::Succeeded;
    if (process.error() == QProcess::FailedToStart) {
        qWarning().noquote() << "ffmpeg could not be started:" << program << "-" << process.errorString();
        result = RunResult::NotStarted;
    } else if (process.state() != QProcess::NotRunning) {
        // Only a cancel leaves the loop while ffmpeg still runs.
        process.terminate();
        if (!process.waitForFinished(500)) {
            process.kill();
            process.waitForFinished(1000);
        }
        result = RunResult::Cancelled;
    } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qDebug().noquote() << "ffmpeg failed with status" << process.exitCode() << ":"
                           << lastLines(process.readAllStandardError(), 3);
        result = RunResult::Failed;
    }
    process.close();
    return result;
}

// A refused list is not the end: many containers refuse a copied picture (VP8 in MP4, AAC in WEBM or MPG),
// which the next list encodes, and a cover or tags an audio container refuses are left out next.
ConvertingFile::RunResult ConvertingFile::runFirstThatWorks(
    const QList<QStringList> &attempts, const QString &producedPath) const
{
    RunResult result = RunResult::Failed;
    for (qsizetype i = 0; i < attempts.size(); ++i) {
        if (i > 0) {
            qDebug().noquote() << "ffmpeg failed, trying:" << attempts.at(i).join(QLatin1Char(' '));
            if (producedPath == outputPath)
                removePartialOutput();
            else
                QFile::remove(producedPath);
        }
        result = runCommand(attempts.at(i));
        if (result == RunResult::NotStarted || result == RunResult::Cancelled || isCancelled()
            || producedOutput(result, producedPath))
            break;
    }
    return result;
}

bool ConvertingFile::producedOutput(RunResult result, const QString &path) const
{
    const QFileInfo info(path);
    return result == RunResult::Succeeded && info.isFile() && info.size() > 0;
}

void ConvertingFile::removePartialOutput() const
{
    if (!outputExistedBefore)
        QFile::remove(outputPath);
}

void ConvertingFile::removeIntermediate() const
{
    const QString intermediate = intermediatePath();
    if (QFileInfo::exists(intermediate))
        QFile::remove(intermediate);
}

QStringList ConvertingFile::mappingBlock() const
{
    // The source's own tags come with its picture; only the title is the result's.
    const QStringList mapping { "-i", videoSourcePath, "-i", inputPath, "-map", "0:v:0", "-map", "1:a:0" };
    return mapping + titleArguments();
}

QStringList ConvertingFile::muxingBlock() const
{
    return mappingBlock() + QStringList { "-c:v", "copy", "-c:a", "aac" };
}

QStringList ConvertingFile::reencodingBlock(const QString &suffix) const
{
    return mappingBlock() + encoderBlock(suffix);
}

QString ConvertingFile::intermediatePath() const
{
    return QStringLiteral("%1.mp4").arg(outputPath);
}
