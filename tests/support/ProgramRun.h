#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a program of ours to its end in a home folder of the test's choosing, offscreen.
struct ProgramRun
{
    int exitCode = -1; // -2 when it crashed, -1 when it did not finish in time
    QString output; // standard output and standard error, interleaved

    static ProgramRun run(const QString &program, const QString &home, const QStringList &arguments,
        const QProcessEnvironment &extra = {}, int timeoutMs = 60000);
};
