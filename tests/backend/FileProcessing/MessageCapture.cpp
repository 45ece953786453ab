#include "MessageCapture.h"

#include <atomic>

namespace {
std::atomic<MessageCapture *> active { nullptr };
}

MessageCapture::MessageCapture()
{
    previous = qInstallMessageHandler(&MessageCapture::handler);
    active = this;
}

MessageCapture::~MessageCapture()
{
    active = nullptr;
    qInstallMessageHandler(previous);
}

QStringList MessageCapture::messages(QtMsgType type) const
{
    const QMutexLocker locker(&lock);
    QStringList result;
    for (const auto &entry : captured) {
        if (entry.first == type)
            result << entry.second;
    }
    return result;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    MessageCapture *capture = active;
    if (!capture)
        return;
    {
        const QMutexLocker locker(&capture->lock);
        capture->captured.append({ type, message });
    }
    if (capture->previous)
        capture->previous(type, context, message);
}
