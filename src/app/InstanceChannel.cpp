#include "InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vocalith {

namespace {

constexpr int timeoutMs = 2000;

// Another local user may connect to, or listen on, a socket in a shared folder.
bool isOwnUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == getuid();
}

// A folder of this user's alone, made if missing; empty when someone else has it.
QString privateFolder(const QString& path) {
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != getuid() || (info.st_mode & 077) != 0)
        return {};
    return path;
}

} // namespace

InstanceChannel::InstanceChannel(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!isOwnUser(*socket)) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!isPlausible(socket->peek(maxMessageBytes + 1)))
                    return socket->abort();
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

bool InstanceChannel::isPlausible(const QByteArray& message) {
    // A list of paths as QDataStream writes it: a count, then each path's size and UTF-16.
    if (message.size() > maxMessageBytes)
        return false;
    if (message.size() < 4)
        return true;
    const quint32 count = qFromBigEndian<quint32>(message.constData());
    return count <= quint32(maxMessageBytes / 4);
}

QString InstanceChannel::serverName() {
    // Without a session's runtime folder (a bare X session), a folder of our own in the
    // temporary one; asking QStandardPaths then only prints a warning.
    const QString directory =
        qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
            ? privateFolder(QDir(QDir::tempPath())
                                .filePath(QStringLiteral("vocalith-") + QString::number(getuid())))
            : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        return {};
    return QDir(directory).filePath(QStringLiteral("vocalith-") + QString::number(getuid()) +
                                    QStringLiteral(".socket"));
}

bool InstanceChannel::handOver(const QStringList& absolutePaths) {
    const QString name = serverName();
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs) || !isOwnUser(socket))
        return false;
    QDataStream stream(&socket);
    stream << absolutePaths;
    socket.flush();
    // Done when the window has read the list and closed the connection.
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(timeoutMs);
}

bool InstanceChannel::listen() {
    const QString name = serverName();
    if (name.isEmpty())
        return true; // no private place to listen: this window stays on its own
    if (m_server->listen(name))
        return true;
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(timeoutMs))
        return false; // another window started meanwhile
    // Left by a window that crashed: nobody answers on it, so it can go.
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

} // namespace vocalith
