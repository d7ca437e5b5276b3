#pragma once

#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QMimeData;
class QWidget;

namespace vocalith {

// The first dropped item, when it is a local file (not a folder) with one of the
// extensions, compared without case; later items are ignored.
std::optional<QUrl> droppedFile(const QMimeData* data, const QStringList& extensions);

// The dropped local files and folders, in order. One file without one of the extensions
// is left out here; of several, each is looked at by whoever opens them, as checking
// hundreds here would stall the window.
QStringList droppedPaths(const QMimeData* data, const QStringList& extensions);

// Lets the whole widget take dropped files; onDrop gets every drop of files.
void acceptDrops(QWidget* target, std::function<void(const QMimeData*)> onDrop);

// Lets the whole widget take dropped files. Every drop of files is accepted; only a
// first item that droppedFile() allows reaches onDrop, on the main thread.
void acceptFileDrops(QWidget* target, const QStringList& extensions,
                     std::function<void(const QUrl&)> onDrop);

} // namespace vocalith
