#include "FolderWatcher.h"

#include "core/SerialQueue.h"
#include "transcription/TranscriptionViewModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <utility>

namespace vocalith {

namespace {

// The media files in a folder by name, and their sizes; absent when it is gone. A listing
// that is stopped half-way is of no use to anyone.
std::optional<QList<std::pair<QString, qint64>>> mediaIn(const QString& folder,
                                                         const std::atomic<bool>& stopped) {
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    QStringList patterns;
    for (const QString& extension : TranscriptionViewModel::mediaExtensions())
        patterns.append(QStringLiteral("*.") + extension);
    // Extensions in capitals too: recorders write "REC001.WAV".
    QDirIterator it(folder, patterns, QDir::Files | QDir::Readable);
    QList<std::pair<QString, qint64>> files;
    while (it.hasNext() && !stopped) {
        it.next();
        files.append({it.filePath(), it.fileInfo().size()});
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
    });
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
    std::atomic<bool> stopped = false; // the only member the window touches after watch()

    // The files that have stopped growing since the last look; absent when the folder is gone.
    std::optional<QStringList> look(const QString& folder) {
        const auto listing = mediaIn(folder, stopped);
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
    stop(); // a long listing ends at the next file
    m_lister->close();
}

bool FolderWatcher::watch(const QString& folder, bool existing) {
    const QFileInfo info(folder);
    // The same folder again goes on as it was: a file settling now is not lost.
    if (m_state && info.absoluteFilePath() == m_folder)
        return true;
    stop();
    if (!info.isDir()) {
        Q_EMIT stopped(QStringLiteral("No such folder: ") + folder);
        return false;
    }
    m_folder = info.absoluteFilePath();
    m_state = std::make_shared<State>();
    // Listed here, once: a file copied in a moment later is a new one.
    if (const auto there = existing ? std::nullopt : mediaIn(m_folder, m_state->stopped)) {
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
    if (m_state)
        m_state->stopped = true;
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
