#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

#include "SignedForm.h"

class GlobalsInfo;
class QFileDevice;
class QNetworkAccessManager;
class QNetworkReply;

// Client of the processing service: uploads, resubmissions, remaining time, cancels, result
// downloads and the connectivity probe. Outcomes leave only as signals; the owner shows the errors.
//
// At most one tracked exchange (proceed.php, repeat.php, download.php) is in flight: a new one
// aborts the old, whose completion step reports the cancellation before the new request is sent.
class ZelkServer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ZelkServer)

public:
    explicit ZelkServer(QObject *parent = nullptr);
    ~ZelkServer() override;

    // Returns false, sending and emitting nothing, when filePath cannot be opened for reading.
    bool proceedFile(const QString &instrument, const QString &filePath, const QString &fileName,
        const QString &hash, const QString &version, const QString &originalFilePath,
        const QString &extension);
    void repeatFile(const QString &instrument, const QString &uploadedFileName, const QString &fileName,
        const QString &hash, const QString &version, const QString &originalFilePath,
        const QString &extension);
    void getRemainSeconds(int songId);
    void cancelProcces(int songId);
    void downloadFiles(int songId, const QString &firstPath, const QString &secondPath, qint64 expectedSize);
    void downloadSingle(int songId, const QString &path, bool mix);
    void downloadFile(const QUrl &url, const QString &path, bool isFirst, qint64 expectedSize);
    // Stops every result download in flight without a word: nothing more is reported or written.
    void abortDownloads();
    // Both block in a local event loop until the reply is in.
    void removeUploaded(const QString &fileName);
    bool checkInternetConnection();

    // Tests shorten the limits; the program keeps the defaults of ReplyTimeout.
    void setTimeLimits(std::chrono::milliseconds probe, std::chrono::milliseconds inactivity);

signals:
    void progressPercents(double percents);
    void showError(const QString &text);
    void remainSeconds(int seconds);
    void savedWithId(int songId);
    void filesReady();
    void downloadingFirst(double percents);
    void downloadingSecond(double percents);

private:
    struct SongIdTexts
    {
        QString errorPrefix;
        QString logPrefix;
        QString refusedLog;
        QString step; // names the exchange in the text for an empty answer
    };

    QNetworkReply *postForm(const QString &path, const SignedForm::Fields &fields);
    void abortTracked();
    void releaseTracked(QNetworkReply *reply);
    void finishSongIdReply(QNetworkReply *reply, const SongIdTexts &texts);
    // Asks download.php for the two result URLs and hands them to start.
    void requestResultUrls(int songId, std::function<void(const QUrl &first, const QUrl &second)> start);
    void finishDownload(QNetworkReply *reply, QFileDevice *file, const QString &path, bool isFirst);
    void emitDownloadProgress(bool isFirst, double percents);

    GlobalsInfo *globals;
    QNetworkAccessManager *manager;
    QNetworkReply *currentReply = nullptr;
    QList<QNetworkReply *> downloads;
    std::chrono::milliseconds probeLimit;
    std::chrono::milliseconds inactivityLimit;
};
