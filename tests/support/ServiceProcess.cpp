#include "ServiceProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

ServiceProcess::~ServiceProcess()
{
    stop();
}

bool ServiceProcess::start(const QString &dataDir, int minSeconds)
{
    log.clear();
    port = 0;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ZELK_SERVICE_BINARY),
        { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dataDir,
            QStringLiteral("--min-seconds"), QString::number(minSeconds) });
    if (!process.waitForStarted())
        return false;
    const QRegularExpression firstLine(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\n"));
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        process.waitForReadyRead(100);
        log += process.readAll();
        const QRegularExpressionMatch match = firstLine.match(QString::fromUtf8(log));
        if (match.hasMatch()) {
            port = match.captured(1).toInt();
            return port > 0;
        }
        if (process.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

bool ServiceProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return true;
    process.terminate();
    const bool finished = process.waitForFinished(10000);
    log += process.readAll();
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return false;
    }
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
