#include "TimeLeft.h"

#include <algorithm>
#include <cmath>

namespace vocalith {

QString timeLeftText(double seconds) {
    if (seconds < 50.0)
        return QStringLiteral("less than a minute left");
    const auto minutes = static_cast<long long>(std::llround(seconds / 60.0));
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(std::max(minutes, 1LL));
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

} // namespace vocalith
