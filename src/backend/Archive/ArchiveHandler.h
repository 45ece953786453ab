#pragma once

#include <QString>

#include <atomic>
#include <memory>

#include "HostedWindow/HostedWindow.h"

class ConvertingFile;
class QThread;
class ZelkServer;

// The small modal window that brings one archived result track into the save folder: it downloads the
// track as WAV when the stored-format file is missing, turns it into the stored format, then converts
// that into the format the user chose.
class ArchiveHandler : public HostedWindow
{
    Q_OBJECT

public:
    explicit ArchiveHandler(QWidget *parent = nullptr);
    ~ArchiveHandler() override;

    void openWindow(const QString &stored, const QString &target, const QString &local);
    void download(int id, bool isMix);
    void convert();

    // Where the track is downloaded to before it takes the stored format. For tests.
    QString downloadFilePath() const { return downloadPath; }

signals:
    void finishWork();

public slots:
    void downloadingFirst(double percents);
    void doneDownloadedConvert();
    void doneConvert();
    void cancelProcess();
    void showError(const QString &message);

protected:
    void fillDocument() override;
    void closeEvent(QCloseEvent *event) override;

private:
    Q_DISABLE_COPY(ArchiveHandler)

    // Which step the opening is in; signals that arrive in another step are late and change nothing.
    enum class Stage { Idle, Downloading, Converting };

    using DoneSlot = void (ArchiveHandler::*)();
    void startConversion(const QString &input, const QString &output, const char *entrySlot, DoneSlot onDone);
    void stopWorker();
    void reportConversionFailure(const QString &missing);
    bool isCancelled() const;
    void setScreen(const char *name, const QVariant &value);
    // The stored path with ".wav" appended, or a numbered variant when a file of the user's is there.
    QString freeDownloadPath() const;

    std::unique_ptr<ZelkServer> server;
    QString storedPath;
    QString targetPath;
    QString localPath;
    QString downloadPath;
    qint32 songId = -1;
    QThread *thread = nullptr;
    ConvertingFile *converter = nullptr;
    std::atomic<int> cancelFlag { 0 };
    Stage stage = Stage::Idle;
};
