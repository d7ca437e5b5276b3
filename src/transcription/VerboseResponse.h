#pragma once

#include "core/TranscriptSegment.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vocalith {

// The "verbose_json" answer of a transcription endpoint; only what we read.
struct VerboseResponse {
    struct Segment {
        double start = 0.0;
        double end = 0.0;
        QString text;
        // The model's scores, when it gives them.
        std::optional<double> averageLogProbability;
        std::optional<double> noSpeechProbability;
        // Who spoke it, as the server labels them ("speaker" or "speaker_id"); empty
        // when it does not say.
        QString speaker;
    };

    std::optional<QString> text;
    std::optional<QList<Segment>> segments;

    // Absent, with a reason in error, when the body is not such an answer.
    static std::optional<VerboseResponse> decode(const QByteArray& body, QString& error);

    // One segment per element with its line breaks folded into spaces and its text
    // trimmed of white space and its speaker's label; else the whole text, folded so, as one
    // segment at 0; else nothing.
    QList<TranscriptSegment> transcriptSegments() const;
};

} // namespace vocalith
