#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace vocalith {

// One window per user session: a second start hands its files to the first one.
class InstanceChannel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstanceChannel)

public:
    explicit InstanceChannel(QObject* parent = nullptr);

    // Where the running window listens: in XDG_RUNTIME_DIR, named for the user.
    static QString serverName();
    // Gives the files to a running window; false when there is none.
    static bool handOver(const QStringList& absolutePaths);
    // Starts listening; false when another window listens already.
    bool listen();

Q_SIGNALS:
    // Another start asked for these files (possibly none): show them and come forward.
    void filesReceived(const QStringList& absolutePaths);

private:
    QLocalServer* m_server;
};

} // namespace vocalith
