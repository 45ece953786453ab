#pragma once

#include <QHash>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// An HTTP/1.1 server on 127.0.0.1 scripted per path, with raw control over the answer (timed pieces, a
// cut body, a stall, a reset, silence), recording every request for wire-format checks.
class ScriptedHttpServer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ScriptedHttpServer)

public:
    struct Answer
    {
        enum class End { Close, Stall }; // after the last piece: close, or keep the connection idle
        enum class Mode { Respond, Silent, Reset }; // Silent never answers, Reset drops the connection

        int status = 200;
        QList<QByteArray> pieces; // the body, written one piece at a time
        int pieceDelayMs = 0; // pause before every piece after the first
        bool contentLength = true;
        qint64 declaredLength = -1; // Content-Length to announce instead of the body's size
        End end = End::Close;
        Mode mode = Mode::Respond;

        static Answer text(const QByteArray &body, int status = 200);
        static Answer silent();
        static Answer reset();
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        // First header of that name (case-insensitive), empty if absent.
        QByteArray header(const QByteArray &name) const;
        // The form body split at "&" and "=", percent-decoded ("+" stays "+").
        QList<QPair<QString, QString>> formItems() const;
    };

    explicit ScriptedHttpServer(QObject *parent = nullptr);

    bool listen();
    QUrl baseUrl() const;
    QUrl url(const QString &path) const;

    // The answer for every request to path; unscripted paths get 404.
    void script(const QByteArray &path, const Answer &answer);

    // Stops taking connections once a request to path is answered, as a service that was stopped then.
    void stopAfter(const QByteArray &path) { stopPath = path; }

    QList<Request> requests() const { return received; }
    QList<Request> requestsTo(const QByteArray &path) const;

    // The parts of a multipart/form-data request, in order: only their headers and bodies are filled in.
    static QList<Request> multipartParts(const Request &request);

private:
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    void writePieces(QTcpSocket *socket, const Answer &answer, int next);

    QTcpServer server;
    QHash<QByteArray, Answer> answers;
    QHash<QTcpSocket *, QByteArray> buffers;
    QList<Request> received;
    QByteArray stopPath;
};
