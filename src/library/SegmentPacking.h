#pragma once

#include "core/TranscriptSegment.h"

#include <QByteArray>
#include <QList>

namespace vocalith {

// Segments with their words and confidences in a compact binary form, exactly as
// they were (times and confidences as doubles). Speakers are kept elsewhere.
class SegmentPacking final {
public:
    static QByteArray pack(const QList<TranscriptSegment>& segments);
    // Empty for bytes that are not a packing.
    static QList<TranscriptSegment> unpack(const QByteArray& bytes);
};

} // namespace vocalith
