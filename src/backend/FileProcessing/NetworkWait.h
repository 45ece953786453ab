#pragma once

#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;

// The blocking exchanges of the service client and the account controller: both wait for their
// reply in a local event loop on the GUI thread.
namespace NetworkWait {

// Spins a local event loop until the reply has finished. Answers false when the reply or its owner
// was destroyed meanwhile (the owner's code must then not touch itself any more).
bool untilFinished(QNetworkReply *reply, const QObject *owner);

// The connectivity probe: a GET of url, limited to `limit` in all; true when it ends without error.
// When the host gave no answer at all, `unreachable` (if given) receives the text that says so.
bool probe(QNetworkAccessManager *manager, const QUrl &url, std::chrono::milliseconds limit,
    const QObject *owner, QString *unreachable = nullptr);

} // namespace NetworkWait
