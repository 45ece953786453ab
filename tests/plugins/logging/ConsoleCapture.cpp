#include "ConsoleCapture.h"

#include <QFile>

#include <unistd.h>

ConsoleCapture::ConsoleCapture(FILE *captured)
    : stream(captured)
{
    if (!file.open())
        return;
    std::fflush(stream);
    savedDescriptor = ::dup(::fileno(stream));
    ::dup2(file.handle(), ::fileno(stream));
}

ConsoleCapture::~ConsoleCapture()
{
    finish();
}

QString ConsoleCapture::finish()
{
    if (savedDescriptor < 0)
        return {};
    std::fflush(stream);
    ::dup2(savedDescriptor, ::fileno(stream));
    ::close(savedDescriptor);
    savedDescriptor = -1;

    QFile written(file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(written.readAll());
}
