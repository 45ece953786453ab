#pragma once

#include <QProcess>
#include <QString>
#include <QUrl>

// Runs build/bin/zelk-service on a free port with a given data folder, for black-box tests.
class ServiceProcess final
{
public:
    ServiceProcess() = default;
    ~ServiceProcess();
    Q_DISABLE_COPY_MOVE(ServiceProcess)

    // Starts the service and waits for its "listening on HOST:PORT" line.
    bool start(const QString &dataDir, int minSeconds);
    // Ends it with SIGTERM and waits; true when it exited normally.
    bool stop();
    QUrl url(const QString &path) const;
    // Everything the service printed so far.
    QString output();

private:
    QProcess process;
    QByteArray log;
    int port = 0;
};
