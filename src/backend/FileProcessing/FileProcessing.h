#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

#include "HostedWindow/HostedWindow.h"
#include "ProcessingRun.h"

// The processing window: the choice of instrument and format, the screens of a ProcessingRun and the
// opening of the results. The document draws the screens; this class writes its root properties and
// answers its signals.
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
    // Files to process after the current one, with its instrument and format.
    void queueFiles(const QStringList &paths);

    // For tests: the pair of result names of the current run.
    QString mainResultPath() const { return run->mainResultPath(); }
    QString mixResultPath() const { return run->mixResultPath(); }

signals:
    void openAnotherFile();
    void resetProccesing();
    void forceProcessAnotherFile();
    void changeLayerWithDelay(const QString &layer);
    // After every remaining-time reply, so the screen asks again even when the value did not change.
    void remainsArrived();

public slots:
    void startProcess();
    void cancel();
    void getRemainsSeconds();
    void openFinalFiles(const QString &type);
    void proceedAnotherFile();
    void proceedAnotherInstrument();
    // Stops the file under way; in a queue, asks whether to drop the files still waiting.
    void cancelProcess();
    void openResult(const QString &path);

protected:
    void fillDocument() override;
    // During a run, asks whether to stop it; closing then cancels it.
    void closeEvent(QCloseEvent *event) override;

private:
    Q_DISABLE_COPY(FileProcessing)

    bool acceptFile(const QString &path);
    void showStage(ProcessingRun::Stage stage);
    void takeDownloadProgress(int part, double percents);
    void takeSuccess();
    void takeFailure(const QString &title, const QString &text);
    // The next waiting file that can be processed starts; with none left, the queue's summary shows.
    void startNext();
    void recordOutcome(const QString &mainPath, const QString &mixPath, const QString &error);
    void recordFailure(const QString &title, const QString &text);
    // Stops the run and forgets the queue, without asking.
    void stopAll();
    void showWaiting();
    void resetProgress();
    void initQMLconnections();

    void setScreen(const char *name, const QVariant &value);
    QString screenText(const char *name) const;

    std::unique_ptr<ProcessingRun> run;
    QStringList waiting;
    // One entry per file of the queue so far: { file, main, mix, error }.
    QVariantList summary;
    bool inBatch = false;
};
