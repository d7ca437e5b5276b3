#include "FileDrop.h"

#include <QFileInfo>
#include <QMimeData>

namespace vocalith {

std::optional<QUrl> droppedFile(const QMimeData* data, const QStringList& extensions) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return std::nullopt;
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return std::nullopt;
    const QFileInfo info(url.toLocalFile());
    if (info.isDir() || !extensions.contains(info.suffix().toLower()))
        return std::nullopt;
    return url;
}

} // namespace vocalith
