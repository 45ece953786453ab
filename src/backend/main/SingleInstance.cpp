#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace {

const char acknowledgement = 'k';

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
    , server(new QLocalServer(this))
{
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName()
{
    const QByteArray home
        = QCryptographicHash::hash(QDir::homePath().toUtf8(), QCryptographicHash::Md5).toHex();
#if defined(Q_OS_UNIX)
    const QString user = QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
#endif
    return QStringLiteral("zelk-%1-%2").arg(user, QString::fromLatin1(home.left(12)));
}

bool SingleInstance::handOver(const QStringList &files, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << files;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running program answers once it holds the files; one that hangs does not take them.
    return socket.waitForReadyRead(timeoutMs) && socket.read(1) == QByteArray(1, acknowledgement);
}

bool SingleInstance::listen()
{
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (server->listen(serverName()))
        return true;
    // A ZELK that answers keeps its name; otherwise the name is a crashed program's leftover.
    QLocalSocket probe;
    probe.connectToServer(serverName());
    if (probe.waitForConnected(1000))
        return false;
    QLocalServer::removeServer(serverName());
    return server->listen(serverName());
}

void SingleInstance::takeConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            // The list may come in pieces: read it once it is whole.
            QDataStream stream(socket);
            stream.startTransaction();
            QStringList files;
            stream >> files;
            if (!stream.commitTransaction())
                return;
            socket->write(&acknowledgement, 1);
            socket->disconnectFromServer();
            emit filesArrived(files);
        });
    }
}
