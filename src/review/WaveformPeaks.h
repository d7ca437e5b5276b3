#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <variant>

namespace vocalith {

// A recording's envelope: the lowest and highest sample of every 20 ms, enough to draw
// it at any zoom a review needs, and small (3 hours in about 2 MB).
struct WaveformPeaks {
    static constexpr int perSecond = 50;

    struct Peak {
        qint8 low = 0;
        qint8 high = 0;
    };
    QList<Peak> peaks;

    double duration() const { return double(peaks.size()) / perSecond; }
    // The peak covering a time, or silence outside the recording.
    Peak at(double seconds) const;

    // Decodes the whole recording once. `progress` hears the fraction done; a set `stop`
    // ends it early. The envelope, or why it could not be made.
    static std::variant<WaveformPeaks, QString>
    compute(const QString& path, const std::function<void(double)>& progress = {},
            const std::atomic<bool>* stop = nullptr);
};

} // namespace vocalith
