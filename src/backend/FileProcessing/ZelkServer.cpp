#include "ZelkServer.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "NetworkWait.h"
#include "ReplyTimeout.h"
#include "ServiceMessages.h"
#include "TransferProgress.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryFile>
#include <QTimer>

#include <utility>

namespace {

const QString songIdField = QStringLiteral("songID");

// An aborted reply is closed and has no body to read.
QString bodyText(QNetworkReply *reply)
{
    return reply->isOpen() ? QString::fromUtf8(reply->readAll()) : QString();
}

// Results are large: each download keeps at most this much of its body in memory.
constexpr qint64 downloadBufferSize = 256 * 1024;

// The file a result is written into as it arrives, owned by the reply. A new result goes to a hidden
// file beside its final name and is renamed when complete, so an unfinished one never passes for a
// result; an existing special file (a device) is written in place. Not open when it cannot be made.
QFileDevice *openDownloadTarget(const QString &path, QObject *owner)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        auto *file = new QFile(path, owner);
        file->open(QIODevice::WriteOnly);
        return file;
    }
    auto *file = new QTemporaryFile(
        QStringLiteral("%1/.%2.XXXXXX").arg(target.absolutePath(), target.fileName()), owner);
    file->open();
    return file;
}

// Drained even when the file cannot take it, so that the body never piles up in memory.
void storeArrived(QNetworkReply *reply, QFileDevice *file)
{
    while (reply->bytesAvailable() > 0) {
        const QByteArray piece = reply->read(downloadBufferSize);
        if (file->isOpen() && file->error() == QFileDevice::NoError)
            file->write(piece);
    }
}

QHttpPart textPart(const QString &name, const QString &value)
{
    QHttpPart part;
    part.setRawHeader("Content-Disposition", QStringLiteral("form-data; name=\"%1\"").arg(name).toUtf8());
    part.setBody(value.toUtf8());
    return part;
}

} // namespace

ZelkServer::ZelkServer(QObject *parent)
    : QObject(parent)
    , globals(GlobalsInfo::getInstance())
    , manager(new QNetworkAccessManager(this))
    , probeLimit(ReplyTimeout::probeLimit)
    , inactivityLimit(ReplyTimeout::inactivityLimit)
{ }

// The manager and the per-download managers are children: they take every reply still running with
// them, and the connections made with this object as context are gone before that happens.
ZelkServer::~ZelkServer() = default;

void ZelkServer::setTimeLimits(std::chrono::milliseconds probe, std::chrono::milliseconds inactivity)
{
    probeLimit = probe;
    inactivityLimit = inactivity;
}

QNetworkReply *ZelkServer::postForm(const QString &path, const SignedForm::Fields &fields)
{
    QNetworkReply *reply = manager->post(SignedForm::request(globals->serviceEndpoint(path)),
        SignedForm::build(fields, SignedForm::SigningPair::First));
    ReplyTimeout::watch(reply, inactivityLimit, ReplyTimeout::Kind::Inactivity);
    return reply;
}

void ZelkServer::abortTracked()
{
    // abort() finishes the reply at once: its completion step reports the cancellation and clears
    // currentReply before the caller sends the next tracked request.
    if (currentReply)
        currentReply->abort();
}

void ZelkServer::releaseTracked(QNetworkReply *reply)
{
    reply->deleteLater();
    if (currentReply == reply) {
        currentReply = nullptr;
        uploadSent = false;
    }
}

bool ZelkServer::proceedFile(const QString &instrument, const QString &filePath, const QString &fileName,
    const QString &hash, const QString &version, const QString &originalFilePath, const QString &extension)
{
    auto file = std::make_unique<QFile>(filePath);
    if (!file->open(QIODevice::ReadOnly))
        return false;

    emit progressPercents(0.0);

    auto multiPart = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
    QHttpPart filePart;
    filePart.setRawHeader("Content-Disposition",
        QStringLiteral("form-data; name=\"uploadedFile\"; filename=\"%1\"").arg(filePath).toUtf8());
    filePart.setBodyDevice(file.get());
    file.release()->setParent(multiPart.get());
    multiPart->append(filePart);

    const QUrlQuery signing = globals->generateWebAccessData();
    multiPart->append(textPart(QStringLiteral("instrument"), instrument));
    multiPart->append(textPart(QStringLiteral("version"), version));
    multiPart->append(textPart(QStringLiteral("fileName"), fileName));
    for (const auto &[key, value] : signing.queryItems(QUrl::FullyDecoded))
        multiPart->append(textPart(key, value));
    multiPart->append(textPart(QStringLiteral("hash"), hash));
    multiPart->append(textPart(QStringLiteral("extension"), extension));
    multiPart->append(textPart(QStringLiteral("originalFilePath"), originalFilePath));

    abortTracked();
    QNetworkReply *reply
        = manager->post(QNetworkRequest(globals->serviceEndpoint(QStringLiteral("/zelk-server/proceed.php"))),
            multiPart.get());
    multiPart.release()->setParent(reply);
    ReplyTimeout::watch(reply, inactivityLimit, ReplyTimeout::Kind::Inactivity);
    currentReply = reply;
    uploadSent = false;

    connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64 total) {
        if (total > 0 && sent == total)
            uploadSent = true;
        if (const auto percent = TransferProgress::uploadPercent(sent, total))
            emit progressPercents(*percent);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        finishSongIdReply(reply,
            { QStringLiteral("File uploading error:\n\n"), QStringLiteral("File uploading error:"),
                QStringLiteral("File Not uploaded. Error. Server response:"),
                QStringLiteral("uploading the file") });
    });
    return true;
}

void ZelkServer::repeatFile(const QString &instrument, const QString &uploadedFileName,
    const QString &fileName, const QString &hash, const QString &version, const QString &originalFilePath,
    const QString &extension)
{
    const SignedForm::Fields fields {
        { QStringLiteral("instrument"), instrument },
        { QStringLiteral("uploadedFileName"), uploadedFileName },
        { QStringLiteral("fileName"), fileName },
        { QStringLiteral("version"), version },
        { QStringLiteral("hash"), hash },
        { QStringLiteral("extension"), extension },
        { QStringLiteral("originalFilePath"), originalFilePath },
    };
    abortTracked();
    QNetworkReply *reply = postForm(QStringLiteral("/zelk-server/repeat.php"), fields);
    currentReply = reply;
    // A small form: once asked for, the service may already be making the song.
    uploadSent = true;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        finishSongIdReply(reply,
            { QStringLiteral("File repeating error:\n\n"), QStringLiteral("File repeating error:"),
                QStringLiteral("File Not repeated. Error. Server response:"),
                QStringLiteral("sending the file again") });
    });
}

void ZelkServer::finishSongIdReply(QNetworkReply *reply, const SongIdTexts &texts)
{
    const QString body = bodyText(reply);
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << texts.logPrefix << ReplyTimeout::errorString(reply) << body;
        const QString text = ServiceMessages::failure(reply, texts.errorPrefix);
        releaseTracked(reply);
        emit showError(text);
        return;
    }
    const int songId = body.toInt(nullptr, 10);
    releaseTracked(reply);
    if (songId == 0) {
        qDebug() << texts.refusedLog << body;
        emit showError(body.isEmpty() ? ServiceMessages::noAnswer(texts.step) : body);
        return;
    }
    emit savedWithId(songId);
}

void ZelkServer::getRemainSeconds(int songId)
{
    QNetworkReply *reply
        = postForm(QStringLiteral("/zelk-server/remains.php"), { { songIdField, QString::number(songId) } });
    queries.append(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        queries.removeOne(reply);
        reply->deleteLater();
        const QString body = bodyText(reply);
        if (reply->error() != QNetworkReply::NoError) {
            qDebug() << "Remains operation error:" << ReplyTimeout::errorString(reply) << body;
            emit showError(ServiceMessages::failure(reply, QStringLiteral("Remains operation error:\n\n")));
            return;
        }
        if (body.isEmpty()) {
            emit showError(ServiceMessages::noAnswer(QStringLiteral("asking for the remaining time")));
            return;
        }
        const int seconds = body.toInt(nullptr, 10);
        if (seconds == 0 && body != QLatin1String("0"))
            emit showError(body);
        else if (seconds == -1)
            emit filesReady();
        else
            emit remainSeconds(seconds);
    });
}

void ZelkServer::cancelProcces(int songId)
{
    abortTracked();
    sendCancel(songId);
}

bool ZelkServer::cancelWhenSaved()
{
    QNetworkReply *reply = currentReply;
    if (!reply || !uploadSent)
        return false;
    currentReply = nullptr;
    uploadSent = false;
    // Its own steps report nothing any more: the owner has moved on.
    disconnect(reply, nullptr, this, nullptr);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const int songId = reply->error() == QNetworkReply::NoError ? bodyText(reply).toInt(nullptr, 10) : 0;
        qDebug() << "The id of a cancelled upload arrived:" << songId;
        if (songId != 0)
            sendCancel(songId);
        else
            emit cancelSettled();
    });
    return true;
}

void ZelkServer::abortQueries()
{
    for (QNetworkReply *reply : std::exchange(queries, {})) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void ZelkServer::sendCancel(int songId)
{
    QNetworkReply *reply
        = postForm(QStringLiteral("/zelk-server/cancel.php"), { { songIdField, QString::number(songId) } });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QString body = bodyText(reply);
        if (reply->error() != QNetworkReply::NoError)
            qDebug() << "Canceling error:" << ReplyTimeout::errorString(reply) << body;
        else
            qDebug() << "Successfully canceled!" << body;
        emit cancelSettled();
    });
}

void ZelkServer::removeUploaded(const QString &fileName)
{
    QNetworkReply *reply = postForm(
        QStringLiteral("/zelk-server/removeUploaded.php"), { { QStringLiteral("fileName"), fileName } });
    if (!NetworkWait::untilFinished(reply, this))
        return;

    if (reply->error() != QNetworkReply::NoError)
        qDebug() << "Error: " << ReplyTimeout::errorString(reply);
    else
        qDebug() << "Removing File Result: " << bodyText(reply);
    reply->deleteLater();
}

bool ZelkServer::checkInternetConnection()
{
    const QUrl probeUrl = globals->getProbeUrl();
    const QUrl service = globals->getServiceUrl();
    QString unreachable;
    const bool online = NetworkWait::probe(manager, probeUrl, probeLimit, this, &unreachable);
    // A probe of the service's own host that cannot reach it says more than "no internet".
    const bool asksService = probeUrl.host() == service.host() && probeUrl.port(80) == service.port(80);
    probeProblem = online || !asksService ? QString() : unreachable;
    return online;
}

void ZelkServer::downloadFiles(
    int songId, const QString &firstPath, const QString &secondPath, qint64 expectedSize)
{
    QFile::remove(firstPath);
    QFile::remove(secondPath);
    requestResultUrls(songId, [=](const QUrl &first, const QUrl &second) {
        downloadFile(first, firstPath, true, expectedSize);
        downloadFile(second, secondPath, false, expectedSize);
    });
}

void ZelkServer::downloadSingle(int songId, const QString &path, bool mix)
{
    QFile::remove(path);
    requestResultUrls(songId,
        [=](const QUrl &first, const QUrl &second) { downloadFile(mix ? second : first, path, true, -1); });
}

void ZelkServer::requestResultUrls(int songId, std::function<void(const QUrl &, const QUrl &)> start)
{
    abortTracked();
    QNetworkReply *reply
        = postForm(QStringLiteral("/zelk-server/download.php"), { { songIdField, QString::number(songId) } });
    currentReply = reply;
    uploadSent = false;
    connect(reply, &QNetworkReply::finished, this, [this, reply, start = std::move(start)] {
        const QString body = bodyText(reply);
        releaseTracked(reply);
        if (reply->error() != QNetworkReply::NoError) {
            qDebug() << "Downloading error:" << ReplyTimeout::errorString(reply) << body;
            emit showError(ServiceMessages::failure(reply, QStringLiteral("Downloading error:\n\n")));
            return;
        }
        if (body.isEmpty()) {
            emit showError(ServiceMessages::noAnswer(QStringLiteral("asking for the results")));
            return;
        }
        const QStringList urls = body.split(QLatin1Char('|'), Qt::KeepEmptyParts);
        if (urls.size() != 2) {
            emit showError(body);
            return;
        }
        start(QUrl(urls.at(0)), QUrl(urls.at(1)));
    });
}

void ZelkServer::downloadFile(const QUrl &url, const QString &path, bool isFirst, qint64 expectedSize)
{
    // A manager per download, as a child so that it cannot outlive this object; a cancel leaves it running.
    auto *downloads = new QNetworkAccessManager(this);
    QNetworkReply *reply = downloads->get(QNetworkRequest(url));
    reply->setReadBufferSize(downloadBufferSize);
    ReplyTimeout::watch(reply, inactivityLimit, ReplyTimeout::Kind::Inactivity);
    this->downloads.append(reply);
    QFileDevice *file = openDownloadTarget(path, reply);

    connect(reply, &QIODevice::readyRead, this, [reply, file] { storeArrived(reply, file); });
    connect(reply, &QNetworkReply::downloadProgress, this,
        [this, reply, isFirst, expectedSize](qint64 received, qint64 total) {
            // Without Content-Length the network layer still ends with received == total; that is no total.
            if (!reply->header(QNetworkRequest::ContentLengthHeader).isValid())
                total = -1;
            emitDownloadProgress(isFirst, TransferProgress::downloadPercent(received, total, expectedSize));
        });
    connect(reply, &QNetworkReply::finished, this, [this, reply, downloads, file, path, isFirst] {
        this->downloads.removeOne(reply);
        storeArrived(reply, file);
        reply->deleteLater();
        downloads->deleteLater();
        finishDownload(reply, file, path, isFirst);
    });
}

void ZelkServer::abortDownloads()
{
    const QList<QNetworkReply *> running = std::exchange(downloads, {});
    for (QNetworkReply *reply : running) {
        // Disconnected first, so that the abort reaches neither the progress nor the completion step.
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->manager()->deleteLater();
    }
}

void ZelkServer::finishDownload(QNetworkReply *reply, QFileDevice *file, const QString &path, bool isFirst)
{
    // Whatever was written so far goes with the reply, which owns the file.
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "Download error:" << ReplyTimeout::errorString(reply);
        emit showError(ServiceMessages::failure(reply, QStringLiteral("Download error:\n\n")));
        return;
    }
    if (!file->isOpen()) {
        emit showError(QStringLiteral("Failed to open file for writing:\n\n%1").arg(path));
        return;
    }
    bool written = file->flush() && file->error() == QFileDevice::NoError;
    auto *partial = qobject_cast<QTemporaryFile *>(file);
    if (partial && written && partial->size() == 0) {
        emit showError(ServiceMessages::noAnswer(QStringLiteral("downloading the result")));
        return;
    }
    if (partial && written) {
        // A temporary file is private to its owner; a result is as readable as any other new file.
        written = partial->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                      | QFileDevice::ReadGroup | QFileDevice::ReadOther)
            && partial->rename(path);
        // Renamed, the file is the result: it must outlive the reply.
        partial->setAutoRemove(!written);
    }
    if (!written) {
        qDebug() << "Download write error:" << file->errorString();
        emit showError(QStringLiteral("Failed to write file:\n\n%1").arg(path));
        return;
    }
    file->close();
    emitDownloadProgress(isFirst, 100.0);
}

void ZelkServer::emitDownloadProgress(bool isFirst, double percents)
{
    if (isFirst)
        emit downloadingFirst(percents);
    else
        emit downloadingSecond(percents);
}
