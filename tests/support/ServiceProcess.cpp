#include "ServiceProcess.h"

#include <QRegularExpression>

ServiceProcess::~ServiceProcess()
{
    stop();
}

bool ServiceProcess::start(const QString &dataDir, int minSeconds)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ZELK_SERVICE_BINARY),
        { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dataDir,
            QStringLiteral("--min-seconds"), QString::number(minSeconds) });
    // Its first line names the port it took.
    while (!process.canReadLine() && process.waitForReadyRead(10000))
        continue;
    log = process.readLine();
    const QRegularExpression firstLine(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\n"));
    port = firstLine.match(QString::fromUtf8(log)).captured(1).toInt();
    return port > 0;
}

bool ServiceProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
    log += process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QUrl ServiceProcess::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}

QString ServiceProcess::output()
{
    log += process.readAll();
    return QString::fromUtf8(log);
}
