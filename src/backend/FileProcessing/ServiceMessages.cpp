#include "ServiceMessages.h"

#include "ReplyTimeout.h"

#include <QNetworkReply>

bool ServiceMessages::isUnreachable(const QNetworkReply *reply)
{
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

QString ServiceMessages::unreachable(const QNetworkReply *reply)
{
    const QString address
        = reply->url().adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    return QStringLiteral("The ZELK service at %1 cannot be reached: %2. Check that it is running.")
        .arg(address, ReplyTimeout::errorString(reply));
}

QString ServiceMessages::failure(const QNetworkReply *reply, const QString &prefix)
{
    return isUnreachable(reply) ? unreachable(reply) : prefix + ReplyTimeout::errorString(reply);
}

QString ServiceMessages::noAnswer(const QString &step)
{
    return QStringLiteral("The service gave no answer while %1.").arg(step);
}
