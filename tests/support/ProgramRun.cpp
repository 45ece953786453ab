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
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return { -1, QString::fromUtf8(process.readAll()) };
    }
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
             QString::fromUtf8(process.readAll()) };
}
