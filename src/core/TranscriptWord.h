#pragma once

#include <QString>

namespace vocalith {

// One recognised word with its own times (seconds from the start of the audio) and how
// sure the recogniser was of it, 0 to 1.
struct TranscriptWord {
    QString text;
    double startTime = 0.0;
    double endTime = 0.0;
    double confidence = 1.0;

    static constexpr double doubtfulBelow = 0.5;
    bool isDoubtful() const { return confidence < doubtfulBelow; }

    bool operator==(const TranscriptWord&) const = default;
};

} // namespace vocalith
