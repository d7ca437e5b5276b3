#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace vocalith::test {

// A small HTTP/1.1 server on 127.0.0.1 and a free port, for tests and benchmarks.
// It records every request and answers from a queue of scripted responses.
class LoopbackHttpServer final : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target; // path and query, as sent
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        qint64 bodySize = 0; // also counted when bodies are not kept

        // The first header of that name, compared without case; empty if missing.
        QByteArray header(QByteArrayView name) const;
    };

    enum class Delivery {
        whole,           // status, headers and body at once
        hangUpMidAnswer, // headers and half the body, then the connection is closed
        neverAnswer,     // the request is read and the connection left open
        closeUnanswered, // the request is read and the connection closed
    };

    struct Response {
        Response() = default;
        Response(int status, const QByteArray& body, Delivery delivery = Delivery::whole)
            : status(status)
            , body(body)
            , delivery(delivery) {}
        Response& withHeader(const QByteArray& name, const QByteArray& value) {
            extraHeaders.append({name, value});
            return *this;
        }

        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        Delivery delivery = Delivery::whole;
        QList<std::pair<QByteArray, QByteArray>> extraHeaders;
        int delayMs = 0; // a slow server: the answer starts this long after the request
    };
    using Responder = std::function<Response(const Request&)>;

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // "http://127.0.0.1:<port>", no trailing slash.
    QString baseUrl() const;
    quint16 port() const { return m_server.serverPort(); }

    // Answers the next requests in order; when the queue is empty the responder
    // decides (by default 200 with "{}").
    void enqueue(const Response& response);
    void setResponder(Responder responder);
    // Large uploads: count body bytes without keeping them.
    void setKeepBodies(bool keep) { m_keepBodies = keep; }
    // A slow uplink: each connection is read at about this many bytes a second.
    void setReadRate(qint64 bytesPerSecond) { m_readRate = bytesPerSecond; }

    const QList<Request>& requests() const { return m_requests; }

Q_SIGNALS:
    void requestReceived();

private:
    struct Connection {
        QByteArray buffer;
        std::optional<Request> pending; // headers read, body still coming
        qint64 bodyRemaining = 0;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    bool parseHeaders(Connection& connection);
    void respond(QTcpSocket* socket, const Request& request);
    void answer(QTcpSocket* socket, const Response& response);

    QTcpServer m_server;
    QHash<QTcpSocket*, Connection> m_connections;
    QList<Request> m_requests;
    QList<Response> m_queue;
    Responder m_responder;
    bool m_keepBodies = true;
    qint64 m_readRate = 0;
};

// A loopback port the test holds bound but never listens on: connections to it are
// refused, and no other process can take the port meanwhile.
class ClosedPort final {
public:
    ClosedPort();
    ~ClosedPort();
    // "http://127.0.0.1:<port>".
    QString baseUrl() const;

private:
    std::unique_ptr<QTcpSocket> m_socket;
};

} // namespace vocalith::test
