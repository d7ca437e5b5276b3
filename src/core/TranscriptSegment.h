#pragma once

#include "core/TranscriptWord.h"

#include <QList>
#include <QString>

#include <algorithm>

namespace vocalith {

// One timed piece of transcript; times are seconds from the start of the audio.
struct TranscriptSegment {
    QString text;
    double startTime = 0.0;
    double endTime = 0.0;
    // How sure the recogniser was, 0 to 1: a word's posterior probability, or for a
    // provider's segment 0 when its scores call it doubtful. Never saved.
    double confidence = 1.0;
    // For subtitles opened for review: the block of the file this row was read from, so
    // saving writes the untouched ones back as they were; -1 for anything else.
    int subtitleBlock = -1;
    // The recogniser's words of the segment, its text being their texts joined by one
    // space; empty where the engine gives no words (providers, subtitles).
    QList<TranscriptWord> words = {};
    // Who spoke it, as the reader sees the name ("Speaker 1", or one the user gave);
    // empty where nobody told speakers apart.
    QString speaker = {};

    static constexpr double doubtfulBelow = TranscriptWord::doubtfulBelow;
    // Where the segment has words, any of them in doubt.
    bool isDoubtful() const {
        if (words.isEmpty())
            return confidence < doubtfulBelow;
        return std::any_of(words.begin(), words.end(),
                           [](const TranscriptWord& word) { return word.isDoubtful(); });
    }

    bool operator==(const TranscriptSegment&) const = default;
};

} // namespace vocalith
