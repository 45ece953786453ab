#pragma once

#include <QString>

class QNetworkReply;

// The texts every window shows for a failed exchange with the service, kept in one place so that the
// processing window, the Archive and the account windows say the same thing for the same fault.
namespace ServiceMessages {

// The service is down, unreachable or went silent: no answer came back at all.
bool isUnreachable(const QNetworkReply *reply);
// "The ZELK service at <address> cannot be reached: <reason>. Check that it is running."
QString unreachable(const QNetworkReply *reply);
// The unreachable text when that is what happened, else the prefix and the network layer's reason.
QString failure(const QNetworkReply *reply, const QString &prefix);
// "The service gave no answer while <step>.", for a reply that succeeded with an empty body.
QString noAnswer(const QString &step);

} // namespace ServiceMessages
