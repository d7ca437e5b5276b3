#include "FolderWatcher.h"

#include "core/SerialQueue.h"
#include "transcription/TranscriptionViewModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <utility>

namespace vocalith {

namespace {

// The media files in a folder and their sizes, absent when it is gone.
std::optional<QList<std::pair<QString, qint64>>> mediaIn(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    QStringList patterns;
    for (const QString& extension : TranscriptionViewModel::mediaExtensions())
        patterns.append(QStringLiteral("*.") + extension);
    QDir dir(folder);
    dir.setNameFilters(patterns);
    dir.setFilter(QDir::Files | QDir::Readable);
    // Extensions in capitals too: recorders write "REC001.WAV".
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    QList<std::pair<QString, qint64>> files;
    for (const QFileInfo& file : dir.entryInfoList())
        files.append({file.absoluteFilePath(), file.size()});
    return files;
}

} // namespace

// What a watch knows of its folder: kept on the lister's thread, which alone reads the
// folder, so a folder of thousands of files never holds up the window.
struct FolderWatcher::State {
    struct Growing {
        qint64 size = -1;
        qint64 unchangedSince = 0; // ms since the epoch
    };
    QSet<QString> seen; // handed over, or there before watching began
    QHash<QString, Growing> growing;

    // The files that have stopped growing since the last look; absent when the folder is gone.
    std::optional<QStringList> look(const QString& folder) {
        const auto listing = mediaIn(folder);
        if (!listing)
            return std::nullopt;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QStringList ready;
        QSet<QString> present;
        for (const auto& [path, size] : *listing) {
            present.insert(path);
            if (seen.contains(path))
                continue;
            Growing& file = growing[path];
            if (file.size != size) {
                file = {size, now};
                continue;
            }
            if (size > 0 && now - file.unchangedSince >= settleMs) {
                growing.remove(path);
                seen.insert(path);
                ready.append(path);
            }
        }
        // A file that went away and comes back is a new file.
        seen.intersect(present);
        for (auto it = growing.begin(); it != growing.end();)
            it = present.contains(it.key()) ? std::next(it) : growing.erase(it);
        return ready;
    }
};

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent)
    , m_lister(SerialQueue::create(QStringLiteral("com.vocalith.folderWatcher"))) {
    // Changes wake a scan at once; the timer sees files settle, and catches what a
    // network folder never reports.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::scan);
    connect(&m_poll, &QTimer::timeout, this, &FolderWatcher::scan);
    m_poll.setInterval(500);
}

FolderWatcher::~FolderWatcher() {
    m_lister->close();
}

bool FolderWatcher::watch(const QString& folder, bool existing) {
    stop();
    const QFileInfo info(folder);
    if (!info.isDir()) {
        Q_EMIT stopped(QStringLiteral("No such folder: ") + folder);
        return false;
    }
    m_folder = info.absoluteFilePath();
    m_state = std::make_shared<State>();
    // Listed here, once: a file copied in a moment later is a new one.
    if (const auto there = existing ? std::nullopt : mediaIn(m_folder)) {
        for (const auto& [path, size] : *there)
            m_state->seen.insert(path);
    }
    m_watcher.addPath(m_folder);
    m_poll.start();
    scan();
    return true;
}

void FolderWatcher::stop() {
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    m_poll.stop();
    m_folder.clear();
    m_state.reset(); // a look on its way finishes with its own
    m_looking = false;
    m_again = false;
}

void FolderWatcher::scan() {
    if (!m_state)
        return;
    if (m_looking) {
        m_again = true;
        return;
    }
    m_looking = true;
    QPointer<FolderWatcher> self(this);
    m_lister->post([self, state = m_state, folder = m_folder] {
        const std::optional<QStringList> ready = state->look(folder);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, state, ready] {
                if (self && self->m_state == state)
                    self->apply(ready);
            },
            Qt::QueuedConnection);
    });
}

void FolderWatcher::apply(const std::optional<QStringList>& ready) {
    m_looking = false;
    if (!ready) {
        const QString folder = m_folder;
        stop();
        Q_EMIT stopped(QStringLiteral("The watched folder ") + folder +
                       QStringLiteral(" is gone; watching stopped."));
        return;
    }
    const std::shared_ptr<State> state = m_state;
    for (const QString& path : *ready) {
        if (m_state != state)
            return; // a receiver stopped the watch, or watches another folder
        Q_EMIT fileReady(path);
    }
    if (std::exchange(m_again, false))
        scan();
}

} // namespace vocalith
