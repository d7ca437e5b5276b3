#include "QueueItem.h"

#include <QFileInfo>

#include <cmath>

namespace vocalith {

QString QueueItem::name() const {
    return QFileInfo(path).fileName();
}

QString QueueItem::statusText() const {
    switch (state) {
    case State::waiting:
        return QStringLiteral("Waiting");
    case State::preparing:
        return QStringLiteral("Preparing");
    case State::transcribing: {
        QString text = QStringLiteral("Transcribing %1 %").arg(std::lround(progress * 100.0));
        if (secondsLeft) {
            const auto seconds = std::max(0L, std::lround(*secondsLeft));
            text += QStringLiteral(" · %1:%2 left")
                        .arg(seconds / 60)
                        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        }
        return text;
    }
    case State::done:
        return QStringLiteral("Done");
    case State::failed:
        return QStringLiteral("Failed: ") + error;
    case State::cancelled:
        return QStringLiteral("Cancelled");
    }
    return {};
}

} // namespace vocalith
