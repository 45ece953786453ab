#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class QNetworkReply;

// Ends a reply that waits too long by aborting it, so it finishes through its own completion step
// like any other network error. Lives as a child of the reply it watches.
class ReplyTimeout : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ReplyTimeout)

public:
    enum class Kind {
        Inactivity, // no bytes sent or received for the limit
        Total, // not finished within the limit
    };

    static constexpr std::chrono::milliseconds inactivityLimit { 60000 };
    static constexpr std::chrono::milliseconds probeLimit { 10000 };

    static void watch(QNetworkReply *reply, std::chrono::milliseconds limit, Kind kind);

    // The reply's error text; for a reply ended here, a time-out text instead of the network layer's
    // "Operation canceled", which the user would read as their own cancel.
    static QString errorString(const QNetworkReply *reply);

private:
    ReplyTimeout(QNetworkReply *reply, std::chrono::milliseconds limit, Kind kind);

    QTimer timer;
    Kind kind;
    bool fired = false;
};
