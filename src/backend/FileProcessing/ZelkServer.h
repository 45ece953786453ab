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
    // For a cancel that comes after the upload or resubmission was sent but before its id: the request
    // goes on untracked, and the id it brings is cancelled at once. Nothing of it is reported. An
    // upload still sending is aborted instead, which leaves the service no song. False when nothing
    // was in flight.
    bool cancelWhenSaved();
    void downloadFiles(int songId, const QString &firstPath, const QString &secondPath, qint64 expectedSize);
    void downloadSingle(int songId, const QString &path, bool mix);
    void downloadFile(const QUrl &url, const QString &path, bool isFirst, qint64 expectedSize);
    // Stops every result download in flight without a word: nothing more is reported or written.
    void abortDownloads();
    // Drops the remaining-time replies still out, so that none reaches a later run.
    void abortQueries();
    // Both block in a local event loop until the reply is in.
    void removeUploaded(const QString &fileName);
    bool checkInternetConnection();
    // Why the last probe failed: the one text for an unreachable service when the probe asks the
    // service's own host, else empty.
    QString probeFailure() const { return probeProblem; }

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
    // A cancel has reached the service, or failed to, or had no song to cancel.
    void cancelSettled();

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
    void sendCancel(int songId);
    void abortUntracked(QList<QNetworkReply *> &replies);

    GlobalsInfo *globals;
    QNetworkAccessManager *manager;
    QNetworkReply *currentReply = nullptr;
    QList<QNetworkReply *> downloads;
    QList<QNetworkReply *> queries;
    // The tracked upload has sent all its bytes: the service may be making its song.
    bool uploadSent = false;
    QString probeProblem;
    std::chrono::milliseconds probeLimit;
    std::chrono::milliseconds inactivityLimit;
};
