#include "FolderWatcher.h"

#include "transcription/TranscriptionViewModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace vocalith {

namespace {

QFileInfoList mediaIn(const QString& folder) {
    QStringList patterns;
    for (const QString& extension : TranscriptionViewModel::mediaExtensions())
        patterns.append(QStringLiteral("*.") + extension);
    QDir dir(folder);
    dir.setNameFilters(patterns);
    dir.setFilter(QDir::Files | QDir::Readable);
    // Extensions in capitals too: recorders write "REC001.WAV".
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    return dir.entryInfoList();
}

} // namespace

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent) {
    // Changes wake a scan at once; the timer sees files settle, and catches what a
    // network folder never reports.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::scan);
    connect(&m_poll, &QTimer::timeout, this, &FolderWatcher::scan);
    m_poll.setInterval(500);
}

bool FolderWatcher::watch(const QString& folder, bool existing) {
    stop();
    const QFileInfo info(folder);
    if (!info.isDir()) {
        Q_EMIT stopped(QStringLiteral("No such folder: ") + folder);
        return false;
    }
    m_folder = info.absoluteFilePath();
    if (!existing) {
        for (const QFileInfo& file : mediaIn(m_folder))
            m_seen.insert(file.absoluteFilePath());
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
    m_seen.clear();
    m_growing.clear();
}

void FolderWatcher::scan() {
    if (m_folder.isEmpty())
        return;
    if (!QFileInfo(m_folder).isDir()) {
        const QString folder = m_folder;
        stop();
        Q_EMIT stopped(QStringLiteral("The watched folder ") + folder +
                       QStringLiteral(" is gone; watching stopped."));
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QSet<QString> present;
    for (const QFileInfo& file : mediaIn(m_folder)) {
        const QString path = file.absoluteFilePath();
        present.insert(path);
        if (m_seen.contains(path))
            continue;
        Growing& growing = m_growing[path];
        if (growing.size != file.size()) {
            growing = {file.size(), now};
            continue;
        }
        if (file.size() > 0 && now - growing.unchangedSince >= settleMs) {
            m_growing.remove(path);
            m_seen.insert(path);
            Q_EMIT fileReady(path);
        }
    }
    // A file that went away and comes back is a new file.
    m_seen.intersect(present);
    for (auto it = m_growing.begin(); it != m_growing.end();)
        it = present.contains(it.key()) ? std::next(it) : m_growing.erase(it);
}

} // namespace vocalith
