#include "WorkFiles.h"

#include <QFile>
#include <QSet>

#include <mutex>

namespace vocalith::WorkFiles {

namespace {

std::mutex mutex;

QSet<QString>& tracked() {
    static QSet<QString> paths;
    return paths;
}

} // namespace

void track(const QString& path) {
    const std::lock_guard lock(mutex);
    tracked().insert(path);
}

void remove(const QString& path) {
    QFile::remove(path);
    const std::lock_guard lock(mutex);
    tracked().remove(path);
}

void removeAll() {
    const std::lock_guard lock(mutex);
    for (const QString& path : std::as_const(tracked()))
        QFile::remove(path);
    tracked().clear();
}

} // namespace vocalith::WorkFiles
