#include "ScriptedHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

const QByteArray headerEnd = QByteArrayLiteral("\r\n\r\n");

// "Name: value" lines, as a request's or a part's headers.
QList<QPair<QByteArray, QByteArray>> headerLines(const QByteArray &block)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    for (const QByteArray &line : block.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    return headers;
}

} // namespace

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::text(const QByteArray &body, int status)
{
    return Answer { status, { body } };
}

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::silent()
{
    return Answer { 200, {}, 0, true, -1, End::Close, Mode::Silent };
}

ScriptedHttpServer::Answer ScriptedHttpServer::Answer::reset()
{
    return Answer { 200, {}, 0, true, -1, End::Close, Mode::Reset };
}

QByteArray ScriptedHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QList<QPair<QString, QString>> ScriptedHttpServer::Request::formItems() const
{
    QList<QPair<QString, QString>> items;
    for (const QByteArray &item : body.split('&')) {
        const qsizetype equals = item.indexOf('=');
        const auto decoded
            = [](const QByteArray &text) { return QString::fromUtf8(QByteArray::fromPercentEncoding(text)); };
        items.append({ decoded(equals < 0 ? item : item.left(equals)),
            decoded(equals < 0 ? QByteArray() : item.mid(equals + 1)) });
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
    return baseUrl().resolved(QUrl(path));
}

void ScriptedHttpServer::script(const QByteArray &path, const Answer &answer)
{
    answers.insert(path, answer);
}

QList<ScriptedHttpServer::Request> ScriptedHttpServer::requestsTo(const QByteArray &path) const
{
    QList<Request> matching;
    for (const Request &request : received)
        if (request.path == path)
            matching << request;
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
    const qsizetype lineEnd = buffer.indexOf('\n');
    const QList<QByteArray> requestLine = buffer.left(lineEnd).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    request.headers = headerLines(buffer.mid(lineEnd + 1, end - lineEnd - 1));
    const qint64 length = request.header("Content-Length").toLongLong();
    if (buffer.size() - end - headerEnd.size() < length)
        return; // the body is still coming
    request.body = buffer.mid(end + headerEnd.size(), length);
    buffer.clear();

    received.append(request);
    answer(socket, request);
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const QByteArray path = request.path.split('?').constFirst();
    const Answer answer = answers.value(path, Answer::text("not scripted", 404));
    if (!stopPath.isEmpty() && path == stopPath)
        server.close();
    if (answer.mode == Answer::Mode::Reset)
        socket->abort();
    if (answer.mode != Answer::Mode::Respond)
        return;

    static const QHash<int, QByteArray> reasons { { 200, "OK" }, { 204, "No Content" }, { 404, "Not Found" },
        { 500, "Internal Server Error" } };
    const qint64 size = answer.declaredLength >= 0 ? answer.declaredLength : answer.pieces.join().size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' '
        + reasons.value(answer.status, "Status") + "\r\nContent-Type: text/plain\r\nConnection: close\r\n";
    if (answer.contentLength)
        head += "Content-Length: " + QByteArray::number(size) + "\r\n";
    socket->write(head + "\r\n");
    writePieces(socket, answer, 0);
}

void ScriptedHttpServer::writePieces(QTcpSocket *socket, const Answer &answer, int next)
{
    if (next < answer.pieces.size()) {
        socket->write(answer.pieces.at(next));
        socket->flush();
        if (next + 1 < answer.pieces.size()) {
            // Within the socket's life only: a closed connection drops the rest.
            QTimer::singleShot(answer.pieceDelayMs, socket,
                [this, socket, answer, next] { writePieces(socket, answer, next + 1); });
            return;
        }
    }
    if (answer.end == Answer::End::Close)
        socket->disconnectFromHost();
}

QList<ScriptedHttpServer::Request> ScriptedHttpServer::multipartParts(const Request &request)
{
    const QByteArray contentType = request.header("Content-Type");
    const qsizetype at = contentType.indexOf("boundary=");
    if (at < 0)
        return {};
    // A boundary may be quoted; it never holds a quote itself.
    const QByteArray delimiter = "--" + contentType.mid(at + 9).replace('"', QByteArray());

    QList<Request> parts;
    // Each part runs from the CRLF after its delimiter to the CRLF before the next; "--" closes the body.
    for (qsizetype from = request.body.indexOf(delimiter); from >= 0;) {
        from += delimiter.size();
        const qsizetype next = request.body.indexOf("\r\n" + delimiter, from);
        if (request.body.mid(from, 2) == "--" || next < 0)
            break;
        const QByteArray raw = request.body.mid(from + 2, next - from - 2);
        const qsizetype split = raw.indexOf(headerEnd);
        Request part;
        part.headers = headerLines(raw.left(split));
        part.body = raw.mid(split + headerEnd.size());
        parts.append(part);
        from = next + 2;
    }
    return parts;
}
