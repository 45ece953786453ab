#pragma once

#include <QString>
#include <QTemporaryFile>

#include <cstdio>

// Diverts one C stream (stdout or stderr) into a temporary file until finish(), so that a test reads
// what the code under test printed.
class ConsoleCapture final
{
public:
    explicit ConsoleCapture(FILE *stream);
    ~ConsoleCapture();
    Q_DISABLE_COPY_MOVE(ConsoleCapture)

    // Restores the stream and answers everything written to it meanwhile.
    QString finish();

private:
    FILE *stream;
    int savedDescriptor = -1;
    QTemporaryFile file;
};
