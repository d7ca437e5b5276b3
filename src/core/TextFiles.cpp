#include "TextFiles.h"

#include <QSaveFile>

namespace vocalith::TextFiles {

std::optional<QString> save(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        return QStringLiteral("Failed to save: ") + file.errorString();
    return std::nullopt;
}

} // namespace vocalith::TextFiles
