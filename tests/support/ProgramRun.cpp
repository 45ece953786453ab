#include "ProgramRun.h"

#include <QProcess>

ProgramRun ProgramRun::run(const QString &program, const QString &home, const QStringList &arguments,
    const QProcessEnvironment &extra, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(extra);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished)
        process.kill();
    process.waitForFinished();
    const bool crashed = process.exitStatus() == QProcess::CrashExit;
    return { !finished ? -1 : crashed ? -2 : process.exitCode(), QString::fromUtf8(process.readAll()) };
}
