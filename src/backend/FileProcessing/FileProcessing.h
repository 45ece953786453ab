#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

#include "HostedWindow/HostedWindow.h"

class ConvertingFile;
class ZelkServer;

// The processing window and the controller of one run: the choice of instrument and format, the WAV
// made for upload, the upload, the wait while the service works, the two downloads, their conversion
// into the chosen format and the opening of the results. The document draws the screens; this class
// writes its root properties and answers its signals.
class FileProcessing : public HostedWindow
{
    Q_OBJECT

public:
    explicit FileProcessing(QWidget *parent = nullptr);
    ~FileProcessing() override;

    // Checks the file (there, with a sound ffmpeg reads) and the service, and opens the window on
    // it; false, after a box that says why, when either fails. Waits meanwhile under a cover.
    bool openWindow(const QString &path);
    // Drops the service's copy of the prepared WAV, and the local one.
    void removeUploaded();

    // For tests: the pair of result names of the current run.
    QString mainResultPath() const { return resultMainPath; }
    QString mixResultPath() const { return resultMixPath; }

signals:
    void openAnotherFile();
    void resetProccesing();
    void forceProcessAnotherFile();
    void changeLayerWithDelay(const QString &layer);
    // After every remaining-time reply, so the screen asks again even when the value did not change.
    void remainsArrived();

public slots:
    void doneUploadConverting();
    void startProcess();
    void cancel();
    void showError(const QString &message);
    void progressPercents(double percent);
    void savedWithId(int id);
    void filesReady();
    void remainSeconds(int seconds);
    void getRemainsSeconds();
    void downloadingFirst(double percents);
    void downloadingSecond(double percents);
    void finalConvertMix();
    void successProcces();
    void openFinalFiles(const QString &type);
    void proceedAnotherFile();
    void proceedAnotherInstrument();
    void cancelProcess();

protected:
    void fillDocument() override;
    // During a run, asks whether to stop it; closing then cancels it.
    void closeEvent(QCloseEvent *event) override;

private:
    Q_DISABLE_COPY(FileProcessing)

    // Where the run is. Replies and worker signals are taken only in the stage that expects them, so a
    // late or repeated one from a cancelled, failed or earlier run changes nothing.
    enum class Stage { Choosing, Preparing, Uploading, Processing, Downloading, Converting };

    bool acceptFile(const QString &path);
    // Shows the failure and goes back to the choice when a result is missing or empty.
    bool reportUnwritten(const QString &lead, const QString &note = QString());
    void finalConvert();
    void repeatWithSameUploaded();
    void takeDownloadProgress(double &field, const char *screenProperty, double percents);
    void initQMLconnections();

    using DoneSignal = void (ConvertingFile::*)();
    using DoneSlot = void (FileProcessing::*)();
    void startWorker(ConvertingFile *job, DoneSignal done, DoneSlot onDone, const char *entrySlot);
    void stopWorker();

    bool isCancelled() const;
    bool runIs(Stage expected) const;
    // Ends the run where it stands: the worker and the downloads stop, nothing half-made stays.
    void abandonRun(bool tellService);
    QString currentStep() const;
    void reportFailure(const QString &title, const QString &text);

    void setScreen(const char *name, const QVariant &value);
    QString screenText(const char *name) const;
    QString outputExtension() const;
    QString mainWavPath() const;
    QString mixWavPath() const;

    std::unique_ptr<ZelkServer> server;
    QString sourcePath;
    std::unique_ptr<QThread> workerThread;
    ConvertingFile *converter = nullptr;
    QString uploadWavPath;
    qint32 songId = 0;
    QString resultMainPath;
    QString resultMixPath;
    double download1Percent = 0;
    double download2Percent = 0;
    std::atomic<int> cancelFlag { 0 };
    Stage stage = Stage::Choosing;
    // True while the upload in flight is a resubmission, for the error texts.
    bool repeating = false;
};
