#pragma once

#include <QStringList>
#include <QUrl>

#include <optional>

class QMimeData;

namespace vocalith {

// The first dropped item, when it is a local file (not a folder) with one of the
// extensions, compared without case; later items are ignored.
std::optional<QUrl> droppedFile(const QMimeData* data, const QStringList& extensions);

} // namespace vocalith
