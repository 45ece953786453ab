#include "NetworkWait.h"

#include "ReplyTimeout.h"
#include "ServiceMessages.h"

#include <QDebug>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

bool NetworkWait::untilFinished(QNetworkReply *reply, const QObject *owner)
{
    const QPointer<const QObject> ownerAlive(owner);
    const QPointer<QNetworkReply> replyAlive(reply);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The owner may delete itself, and its replies, while the loop spins.
    QObject::connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    return ownerAlive && replyAlive;
}

bool NetworkWait::probe(QNetworkAccessManager *manager, const QUrl &url, std::chrono::milliseconds limit,
    const QObject *owner, QString *unreachable)
{
    QNetworkReply *reply = manager->get(QNetworkRequest(url));
    ReplyTimeout::watch(reply, limit, ReplyTimeout::Kind::Total);
    if (!untilFinished(reply, owner))
        return false;
    const bool online = reply->error() == QNetworkReply::NoError;
    if (!online)
        qDebug() << "Connectivity probe failed:" << ReplyTimeout::errorString(reply);
    if (unreachable)
        *unreachable
            = ServiceMessages::isUnreachable(reply) ? ServiceMessages::unreachable(reply) : QString();
    reply->deleteLater();
    return online;
}
