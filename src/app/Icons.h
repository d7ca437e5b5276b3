#pragma once

#include <QIcon>
#include <QString>

namespace vocalith {

// Icons by the names the design uses ("globe", "trash"...), taken from the desktop's
// icon theme, with bundled or style icons when the theme has none.
namespace Icons {
QIcon get(const QString& name);
QIcon logo();
} // namespace Icons

} // namespace vocalith
