#pragma once

#include <QString>

namespace vocalith {

// One timed piece of transcript; times are seconds from the start of the audio.
struct TranscriptSegment {
    QString text;
    double startTime = 0.0;
    double endTime = 0.0;

    bool operator==(const TranscriptSegment&) const = default;
};

} // namespace vocalith
