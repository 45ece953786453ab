#include "ScriptedHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QByteArray headerEnd = QByteArrayLiteral("\r\n\r\n");

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::text(const QByteArray &body, int status)
{
    Answer answer;
    answer.status = status;
    answer.pieces = { body };
    return answer;
}

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::silent()
{
    Answer answer;
    answer.mode = Mode::Silent;
    return answer;
}

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::reset()
{
    Answer answer;
    answer.mode = Mode::Reset;
    return answer;
}

QByteArray ScriptedHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QList<QPair<QString, QString>> ScriptedHttpServer::Request::formItems() const
{
    QList<QPair<QString, QString>> items;
    for (const QByteArray &item : body.split('&')) {
        const qsizetype equals = item.indexOf('=');
        const QByteArray key = equals < 0 ? item : item.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : item.mid(equals + 1);
        items.append({ QString::fromUtf8(QByteArray::fromPercentEncoding(key)),
            QString::fromUtf8(QByteArray::fromPercentEncoding(value)) });
    }
    return items;
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

ScriptedHttpServer::~ScriptedHttpServer() = default;

bool ScriptedHttpServer::listen()
{
    return server.listen(QHostAddress::LocalHost);
}

QUrl ScriptedHttpServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
}

QUrl ScriptedHttpServer::url(const QString &path) const
{
    QUrl url = baseUrl();
    url.setPath(path);
    return url;
}

void ScriptedHttpServer::script(const QByteArray &path, const Answer &answer)
{
    answers.insert(path, answer);
}

QList<ScriptedHttpServer::Request> ScriptedHttpServer::requestsTo(const QByteArray &path) const
{
    QList<Request> matching;
    for (const Request &request : received) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void ScriptedHttpServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = buffers[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf(headerEnd);
    if (end < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append(
                { lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed() });
    }
    const qint64 length = request.header("Content-Length").toLongLong();
    if (buffer.size() - end - headerEnd.size() < length)
        return; // the body is still coming
    request.body = buffer.mid(end + headerEnd.size(), length);
    buffer.clear();

    received.append(request);
    answer(socket, request);
    emit requestReceived(request.path);
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const QByteArray path = request.path.split('?').constFirst();
    const Answer answer = answers.value(path, Answer::text("not scripted", 404));
    switch (answer.mode) {
    case Answer::Mode::Silent:
        return;
    case Answer::Mode::Reset:
        socket->abort();
        return;
    case Answer::Mode::Respond:
        break;
    }

    qint64 size = 0;
    for (const QByteArray &piece : answer.pieces)
        size += piece.size();
    QByteArray head
        = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
    head += "Content-Type: text/plain\r\nConnection: close\r\n";
    if (answer.contentLength)
        head += "Content-Length: "
            + QByteArray::number(answer.declaredLength >= 0 ? answer.declaredLength : size) + "\r\n";
    head += "\r\n";
    socket->write(head);
    writePieces(socket, answer, 0);
}

void ScriptedHttpServer::writePieces(QTcpSocket *socket, const Answer &answer, int next)
{
    if (next < answer.pieces.size()) {
        socket->write(answer.pieces.at(next));
        socket->flush();
        if (next + 1 < answer.pieces.size()) {
            const QPointer<QTcpSocket> alive(socket);
            QTimer::singleShot(answer.pieceDelayMs, this, [this, alive, answer, next] {
                if (alive)
                    writePieces(alive, answer, next + 1);
            });
            return;
        }
    }
    if (answer.end == Answer::End::Close)
        socket->disconnectFromHost();
}

QList<ScriptedHttpServer::Part> ScriptedHttpServer::multipartParts(const Request &request)
{
    const QByteArray contentType = request.header("Content-Type");
    const qsizetype at = contentType.indexOf("boundary=");
    if (at < 0)
        return {};
    QByteArray boundary = contentType.mid(at + 9);
    if (boundary.startsWith('"') && boundary.endsWith('"'))
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;

    QList<Part> parts;
    qsizetype from = request.body.indexOf(delimiter);
    while (from >= 0) {
        from += delimiter.size();
        if (request.body.mid(from, 2) == "--")
            break; // closing delimiter
        from += 2; // CRLF after the delimiter
        const qsizetype next = request.body.indexOf("\r\n" + delimiter, from);
        if (next < 0)
            break;
        const QByteArray raw = request.body.mid(from, next - from);
        const qsizetype split = raw.indexOf(headerEnd);
        Part part;
        for (const QByteArray &line : raw.left(split).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                part.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
        }
        part.body = raw.mid(split + headerEnd.size());
        parts.append(part);
        from = next + 2;
    }
    return parts;
}
