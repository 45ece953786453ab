#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

// Runs ffmpeg for one conversion: the WAV made for upload, a downloaded result into the chosen format
// (under the source video's picture for a video format), or an archive file into another format. A result
// keeps the source's tags and cover picture, its title naming the part taken from its file name.
// The owner moves the object to a worker thread and starts one entry slot from the thread's start; the
// slot blocks that thread until ffmpeg has ended and then emits its done signal.
class ConvertingFile : public QObject
{
    Q_OBJECT

public:
    // The cancel flag belongs to the owner, which keeps it alive longer than the conversion; 1 = stop.
    ConvertingFile(const std::atomic<int> *cancelFlag, const QString &inputPath, const QString &outputPath,
        const QString &videoSourcePath, bool isMain, QObject *parent = nullptr);

    // "ffmpeg" in the executable's folder, unless a test has pointed the conversions elsewhere.
    static QString programPath();
    // For tests only: an empty path restores the program's own ffmpeg. Set it before any conversion starts.
    static void setProgramPath(const QString &path);

signals:
    void doneUploadConverting();
    void doneMain();
    void doneMix();

public slots:
    void prepareToUpload();
    void prepareFinal();
    void convertFile();

private:
    Q_DISABLE_COPY(ConvertingFile)

    // How one ffmpeg run ended.
    enum class RunResult { Succeeded, Failed, NotStarted, Cancelled };

    bool isCancelled() const;
    RunResult runCommand(const QStringList &arguments) const;
    // Runs each list in turn until one produces the file: the later ones ask less of ffmpeg.
    RunResult runFirstThatWorks(const QList<QStringList> &attempts, const QString &producedPath) const;
    bool producedOutput(RunResult result, const QString &path) const;
    void removePartialOutput() const;
    void removeIntermediate() const;

    // "-i" VID "-i" IN and the picture of the first, the audio of the second.
    QStringList mappingBlock() const;
    QStringList muxingBlock() const;
    QStringList audioArguments() const;
    // An audio output tagged from the source, with its cover in the containers that hold one.
    QList<QStringList> taggedAudioAttempts() const;
    void readSourceTags();
    QString resultTitle() const;
    QStringList titleArguments() const;
    QStringList fromIntermediate(const QString &outSuffix) const;
    QStringList reencodingBlock(const QString &suffix) const;
    QString intermediatePath() const;

    const QString inputPath;
    const QString outputPath;
    const QString videoSourcePath;
    const bool isMain;
    const std::atomic<int> *const cancelFlag;
    // A file that was at OUT before the conversion is not ours to remove.
    bool outputExistedBefore = false;
    // What the source video or song gives the result; read on the worker before the runs.
    bool hasTagSource = false;
    QString sourceTitle;
    int coverStream = -1;
};
