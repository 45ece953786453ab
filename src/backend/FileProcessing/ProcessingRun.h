#pragma once

#include <QObject>
#include <QString>

#include "ConversionThread.h"

#include <atomic>
#include <memory>

class ConvertingFile;
class GlobalsInfo;
class ZelkServer;

// One file's run from the prepared WAV to the two results, without any window: the WAV made for
// upload, the upload, the wait while the service works, the two downloads, their conversion into the
// chosen format, the naming of the pair and its record in the archive. It reports only through its
// signals; errors leave as a title and a text for the owner to show.
class ProcessingRun : public QObject
{
    Q_OBJECT

public:
    // Where the run is. Replies and worker signals are taken only in the stage that expects them, so a
    // late or repeated one from a cancelled, failed or earlier run changes nothing.
    enum class Stage { Choosing, Preparing, Uploading, Processing, Downloading, Converting };
    Q_ENUM(Stage)

    struct Problem
    {
        QString title;
        QString text;
        bool isEmpty() const { return text.isEmpty(); }
    };

    explicit ProcessingRun(QObject *parent = nullptr);
    ~ProcessingRun() override;

    ZelkServer *service() const { return server.get(); }

    // Why this file cannot be processed: missing, not offered or without a sound ffmpeg reads.
    static Problem sourceProblem(const QString &path);
    // Why this file cannot give results in that format: a video format needs a picture to keep.
    static Problem formatProblem(const QString &path, const QString &format);
    // Why the service cannot be used now (the probe); blocks until it answers.
    Problem serviceProblem();
    // Why a run cannot start now: the save folder or the temporary folder.
    Problem startProblem() const;

    // The next file; the previous file's prepared WAV is dropped.
    void setSource(const QString &path);
    QString source() const { return sourcePath; }
    // Results go there instead of the save folder of the settings; empty restores that one.
    void setSaveFolder(const QString &path) { saveFolder = path; }
    // Where the results go.
    QString resultFolder() const;

    // Starts a run, once startProblem() is empty; the prepared WAV of an earlier run of the same file is
    // asked for again instead of uploaded.
    void start(const QString &instrument, const QString &format);
    // Ends the run where it stands and tells the service; nothing half-made stays.
    void cancel();
    // Asks the service once more how long it still needs.
    void askRemaining();
    // Drops the service's copy of the prepared WAV, and the local one.
    void removeUploaded();

    bool isRunning() const { return stage != Stage::Choosing; }
    Stage currentStage() const { return stage; }
    // True while the upload in flight is a resubmission.
    bool isRepeat() const { return repeating; }
    QString instrument() const { return runInstrument; }
    QString format() const { return runFormat; }
    QString mainResultPath() const { return resultMainPath; }
    QString mixResultPath() const { return resultMixPath; }

signals:
    void stageChanged(ProcessingRun::Stage stage);
    // What the worker is converting now.
    void convertingText(const QString &text);
    void uploadProgress(double percents);
    void remainingSeconds(int seconds);
    // part 1 is the instrument, 2 the mix.
    void downloadProgress(int part, double percents);
    void succeeded(const QString &mainPath, const QString &mixPath);
    // The run is over; whatever it had made is gone, unless the text says where it is.
    void failed(const QString &title, const QString &text);

private:
    Q_DISABLE_COPY(ProcessingRun)

    void doneUploadConverting();
    void repeatWithSameUploaded();
    void savedWithId(int id);
    void takeRemaining(int seconds);
    void filesReady();
    void takeDownloadProgress(int part, double percents);
    void finalConvert();
    void finalConvertMix();
    void successProcces();
    void showError(const QString &message);
    // Fails the run when a result is missing or empty.
    bool reportUnwritten(const QString &lead, const QString &note = QString());
    void finish();

    using DoneSignal = void (ConvertingFile::*)();
    using DoneSlot = void (ProcessingRun::*)();
    using EntrySlot = void (ConvertingFile::*)();
    void startWorker(ConvertingFile *job, DoneSignal done, DoneSlot onDone, EntrySlot entry);

    bool isCancelled() const;
    bool runIs(Stage expected) const { return stage == expected; }
    void enter(Stage next);
    void abandonRun(bool tellService);
    QString currentStep() const;
    void reportFailure(const QString &title, const QString &text);
    QString mainWavPath() const { return resultMainPath + QStringLiteral(".wav"); }
    QString mixWavPath() const { return resultMixPath + QStringLiteral(".wav"); }

    GlobalsInfo *globals;
    std::unique_ptr<ZelkServer> server;
    QString sourcePath;
    QString saveFolder;
    QString runInstrument;
    QString runFormat;
    ConversionThread conversion;
    QString uploadWavPath;
    qint32 songId = 0;
    QString resultMainPath;
    QString resultMixPath;
    double download1Percent = 0;
    double download2Percent = 0;
    std::atomic<int> cancelFlag { 0 };
    Stage stage = Stage::Choosing;
    bool repeating = false;
};
