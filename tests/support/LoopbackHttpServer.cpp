#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace vocalith::test {

QByteArray LoopbackHttpServer::Request::header(QByteArrayView name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QObject(parent)
    , m_responder([](const Request&) {
        return Response{200, "{}"};
    }) {
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("loopback server cannot listen: %s", qPrintable(m_server.errorString()));
}

LoopbackHttpServer::~LoopbackHttpServer() {
    for (QTcpSocket* socket : m_connections.keys())
        socket->abort();
}

QString LoopbackHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(port());
}

void LoopbackHttpServer::enqueue(const Response& response) {
    m_queue.append(response);
}

void LoopbackHttpServer::setResponder(Responder responder) {
    m_responder = std::move(responder);
}

ClosedPort::ClosedPort()
    : m_socket(std::make_unique<QTcpSocket>()) {
    if (!m_socket->bind(QHostAddress::LocalHost, 0))
        qFatal("cannot bind a loopback port");
}

ClosedPort::~ClosedPort() = default;

QString ClosedPort::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_socket->localPort());
}

void LoopbackHttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, {});
        if (m_readRate > 0) {
            // Qt stops taking bytes from the kernel while its small buffer is full.
            constexpr int ticksPerSecond = 10;
            socket->setReadBufferSize(m_readRate / ticksPerSecond);
            auto* tick = new QTimer(socket);
            connect(tick, &QTimer::timeout, this, [this, socket] { onReadyRead(socket); });
            tick->start(1000 / ticksPerSecond);
        } else {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket) {
    Connection& connection = m_connections[socket];
    connection.buffer.append(socket->readAll());
    for (;;) {
        if (!connection.pending && !parseHeaders(connection))
            return;
        Request& request = *connection.pending;
        const qint64 take = std::min<qint64>(connection.bodyRemaining, connection.buffer.size());
        if (m_keepBodies)
            request.body.append(connection.buffer.left(take));
        request.bodySize += take;
        connection.buffer.remove(0, take);
        connection.bodyRemaining -= take;
        if (connection.bodyRemaining > 0)
            return;
        const Request complete = std::move(request);
        connection.pending.reset();
        m_requests.append(complete);
        respond(socket, complete);
        Q_EMIT requestReceived();
    }
}

bool LoopbackHttpServer::parseHeaders(Connection& connection) {
    const qsizetype end = connection.buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = connection.buffer.left(end).split('\n');
    connection.buffer.remove(0, end + 4);

    Request request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    qint64 contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        // Values are kept as sent, but for the space after the colon, so tests see
        // exactly what the client wrote.
        const QByteArray name = line.left(colon);
        QByteArray value = line.mid(colon + 1);
        if (value.startsWith(' '))
            value.remove(0, 1);
        request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    connection.pending = std::move(request);
    connection.bodyRemaining = contentLength;
    return true;
}

void LoopbackHttpServer::respond(QTcpSocket* socket, const Request& request) {
    const Response response = m_queue.isEmpty() ? m_responder(request) : m_queue.takeFirst();
    if (response.delivery == Delivery::neverAnswer)
        return;
    if (response.delivery == Delivery::closeUnanswered) {
        // Queued: closing at once would drop the connection we are still reading.
        QMetaObject::invokeMethod(socket, &QTcpSocket::disconnectFromHost, Qt::QueuedConnection);
        return;
    }
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, socket,
                           [this, socket, response] { answer(socket, response); });
    else
        answer(socket, response);
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const Response& response) {
    // Clients read the number; the reason phrase is free text.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto& [name, value] : response.extraHeaders)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket->write(head);

    switch (response.delivery) {
    case Delivery::whole:
        socket->write(response.body);
        break;
    case Delivery::hangUpMidAnswer:
        socket->write(response.body.left(response.body.size() / 2));
        socket->disconnectFromHost();
        break;
    case Delivery::neverAnswer:
    case Delivery::closeUnanswered:
        break;
    }
}

} // namespace vocalith::test
