#include "ReplyTimeout.h"

#include <QNetworkReply>

void ReplyTimeout::watch(QNetworkReply *reply, std::chrono::milliseconds limit, Kind kind)
{
    if (reply->isFinished())
        return;
    new ReplyTimeout(reply, limit, kind); // owned by the reply
}

QString ReplyTimeout::errorString(const QNetworkReply *reply)
{
    const auto *timeout = reply->findChild<ReplyTimeout *>(QString(), Qt::FindDirectChildrenOnly);
    if (!timeout || !timeout->fired)
        return reply->errorString();
    const QString seconds = QString::number(timeout->timer.interval() / 1000.0);
    if (timeout->kind == Kind::Inactivity)
        return QStringLiteral("Network timeout: nothing was transferred for %1 seconds").arg(seconds);
    return QStringLiteral("Network timeout: no answer within %1 seconds").arg(seconds);
}

ReplyTimeout::ReplyTimeout(QNetworkReply *reply, std::chrono::milliseconds limit, Kind kind)
    : QObject(reply)
    , kind(kind)
{
    timer.setSingleShot(true);
    timer.setInterval(limit);
    connect(&timer, &QTimer::timeout, this, [this, reply] {
        fired = true;
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, &timer, &QTimer::stop);
    if (kind == Kind::Inactivity) {
        const auto restart = [this] { timer.start(); };
        connect(reply, &QNetworkReply::uploadProgress, this, restart);
        connect(reply, &QNetworkReply::downloadProgress, this, restart);
        connect(reply, &QNetworkReply::metaDataChanged, this, restart);
    }
    timer.start();
}
