#pragma once

#include <QString>

#include <atomic>
#include <memory>

#include "FileProcessing/ConversionThread.h"
#include "HostedWindow/HostedWindow.h"

class ConvertingFile;
class ZelkServer;

// The small modal window that brings one archived result track into the save folder: it downloads the
// service's WAV of the track and makes the chosen format straight from it, so that no lossy file is ever
// encoded again; a video format takes the picture it is given.
class ArchiveHandler : public HostedWindow
{
    Q_OBJECT

public:
    explicit ArchiveHandler(QWidget *parent = nullptr);
    ~ArchiveHandler() override;

    // target: the file to make; picture: the video whose picture a video target keeps; local: the
    // song's source, whose name the window shows.
    void openWindow(const QString &target, const QString &picture, const QString &local);
    void download(int id, bool isMix);

signals:
    void finishWork();

public slots:
    void downloadingFirst(double percents);
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

    void startConversion();
    void reportConversionFailure(const QString &missing);
    bool isCancelled() const;
    void setScreen(const char *name, const QVariant &value);
    // The target with ".wav" appended, or a numbered variant when a file of the user's is there.
    QString freeDownloadPath() const;

    std::unique_ptr<ZelkServer> server;
    QString targetPath;
    QString picturePath;
    QString localPath;
    QString downloadPath;
    qint32 songId = -1;
    ConversionThread conversion;
    std::atomic<int> cancelFlag { 0 };
    Stage stage = Stage::Idle;
};
