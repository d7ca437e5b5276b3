#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

namespace vocalith {

class SerialQueue;

// Watches a folder for new audio and video files and hands over each once it has
// stopped growing, so a file still being copied in is never transcribed half-way.
class FolderWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderWatcher)

public:
    // A file whose size has not changed for this long is complete.
    static constexpr int settleMs = 2000;

    explicit FolderWatcher(QObject* parent = nullptr);
    ~FolderWatcher() override;

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
    struct State;
    // Looks at the folder on the lister's thread, one look at a time.
    void scan();
    void apply(const std::optional<QStringList>& ready);

    std::shared_ptr<SerialQueue> m_lister;
    std::shared_ptr<State> m_state; // none when not watching
    bool m_looking = false;         // a look is on its way
    bool m_again = false;           // the folder changed meanwhile
    QString m_folder;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;
};

} // namespace vocalith
