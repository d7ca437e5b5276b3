#include "InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace vocalith {

namespace {
constexpr int timeoutMs = 2000;
}

InstanceChannel::InstanceChannel(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                QDataStream stream(socket);
                stream.startTransaction();
                QStringList paths;
                stream >> paths;
                if (!stream.commitTransaction())
                    return; // the rest is still on its way
                Q_EMIT filesReceived(paths);
                socket->disconnectFromServer();
            });
        }
    });
}

QString InstanceChannel::serverName() {
    // Without a session's runtime folder (a bare X session), the temporary one; asking
    // QStandardPaths then only prints a warning.
    const QString directory =
        qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
            ? QDir::tempPath()
            : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return QDir(directory).filePath(QStringLiteral("vocalith-") + QString::number(getuid()) +
                                    QStringLiteral(".socket"));
}

bool InstanceChannel::handOver(const QStringList& absolutePaths) {
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QDataStream stream(&socket);
    stream << absolutePaths;
    socket.flush();
    // Done when the window has read the list and closed the connection.
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(timeoutMs);
}

bool InstanceChannel::listen() {
    if (m_server->listen(serverName()))
        return true;
    QLocalSocket probe;
    probe.connectToServer(serverName());
    if (probe.waitForConnected(timeoutMs))
        return false; // another window started meanwhile
    // Left by a window that crashed: nobody answers on it, so it can go.
    QLocalServer::removeServer(serverName());
    return m_server->listen(serverName());
}

} // namespace vocalith
