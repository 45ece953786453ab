#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Diverts stdout or stderr into a temporary file until finish(), so that a test reads what the code printed.
class ConsoleCapture final
{
public:
    explicit ConsoleCapture(FILE *captured) : stream(captured)
    {
        if (!file.open())
            return;
        std::fflush(stream);
        saved = ::dup(::fileno(stream));
        ::dup2(file.handle(), ::fileno(stream));
    }
    ~ConsoleCapture() { finish(); }
    Q_DISABLE_COPY_MOVE(ConsoleCapture)

    // Restores the stream and answers everything written to it meanwhile.
    QString finish()
    {
        if (saved < 0)
            return {};
        std::fflush(stream);
        ::dup2(saved, ::fileno(stream));
        ::close(saved);
        saved = -1;
        QFile written(file.fileName());
        return written.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(written.readAll()) : QString();
    }

private:
    FILE *stream;
    int saved = -1;
    QTemporaryFile file;
};
