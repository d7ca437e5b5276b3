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

    // A message larger than this is not a list of paths to open.
    static constexpr qsizetype maxMessageBytes = 1'000'000;

    // Where the running window listens: in XDG_RUNTIME_DIR, or else in a folder of the
    // user's own under the temporary one; named for the user. Empty when there is no
    // such folder.
    static QString serverName();
    // Gives the files to a running window; false when there is none.
    static bool handOver(const QStringList& absolutePaths);
    // Starts listening; false when another window listens already.
    bool listen();
    // Whether the start of a message (up to maxMessageBytes + 1 bytes) may be a list of
    // paths: a hostile size or count is refused before anything is allocated for it.
    static bool isPlausible(const QByteArray& message);

Q_SIGNALS:
    // Another start asked for these files (possibly none): show them and come forward.
    void filesReceived(const QStringList& absolutePaths);

private:
    QLocalServer* m_server;
};

} // namespace vocalith
