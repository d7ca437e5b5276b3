#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace vocalith {

// Watches a folder for new audio and video files and hands over each once it has
// stopped growing, so a file still being copied in is never transcribed half-way.
class FolderWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderWatcher)

public:
    // A file whose size has not changed for this long is complete.
    static constexpr int settleMs = 2000;

    explicit FolderWatcher(QObject* parent = nullptr);

    // Starts watching; files there already are handed over too when existing is true,
    // otherwise left alone. False, with error() saying why, for a folder that is not one.
    bool watch(const QString& folder, bool existing = false);
    void stop();
    const QString& folder() const { return m_folder; }
    bool isWatching() const { return !m_folder.isEmpty(); }

Q_SIGNALS:
    void fileReady(const QString& path);
    // The folder went away or could not be read: watching ended.
    void stopped(const QString& message);

private:
    struct Growing {
        qint64 size = -1;
        qint64 unchangedSince = 0; // ms on m_clock
    };
    void scan();

    QString m_folder;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;
    QSet<QString> m_seen; // handed over, or there before watching began
    QHash<QString, Growing> m_growing;
};

} // namespace vocalith
