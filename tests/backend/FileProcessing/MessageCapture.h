#pragma once

#include <QMutex>
#include <QStringList>

// Collects the messages of every thread while it lives and passes them on to the previous handler.
class MessageCapture final
{
public:
    MessageCapture();
    ~MessageCapture();

    QStringList messages(QtMsgType type) const;

private:
    Q_DISABLE_COPY_MOVE(MessageCapture)

    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex lock;
    QList<QPair<QtMsgType, QString>> captured;
    QtMessageHandler previous = nullptr;
};
