#pragma once

#include <QString>

#include <optional>

namespace vocalith {

namespace TextFiles {

// Writes the text as UTF-8 in place of whatever was at path, whole or not at all.
// Returns "Failed to save: " and the reason when it could not, or nothing.
std::optional<QString> save(const QString& path, const QString& text);

} // namespace TextFiles

} // namespace vocalith
