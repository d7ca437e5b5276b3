#pragma once

#include "library/StoredTranscript.h"

#include <QByteArray>

namespace vocalith {

// A transcript as JSON: the recording, engine, model, language and duration, and each
// segment with its start, end, text, speaker (where known) and words (where known)
// with their start, end and probability. One-word segments are joined into phrases
// first, as subtitles are.
class TranscriptJson final {
public:
    static QByteArray document(const StoredTranscript& transcript);
};

} // namespace vocalith
