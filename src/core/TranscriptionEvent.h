#pragma once

#include "core/EngineError.h"
#include "core/TranscriptSegment.h"

#include <QList>

#include <functional>
#include <optional>
#include <variant>

namespace vocalith {

// One step of a transcription job: any number of progress events, then exactly
// one success or failure.
struct TranscriptionEvent {
    struct Progress {
        double fraction = 0.0;
        QString message;
        std::optional<double> secondsLeft; // when the job can tell
        bool operator==(const Progress&) const = default;
    };
    struct Success {
        QList<TranscriptSegment> segments;
        bool operator==(const Success&) const = default;
    };
    struct Failure {
        EngineError error;
        bool operator==(const Failure&) const = default;
    };

    static TranscriptionEvent progress(double fraction, const QString& message,
                                       std::optional<double> secondsLeft = std::nullopt) {
        return {Progress{fraction, message, secondsLeft}};
    }
    static TranscriptionEvent success(const QList<TranscriptSegment>& segments) {
        return {Success{segments}};
    }
    static TranscriptionEvent failure(const EngineError& error) { return {Failure{error}}; }

    bool isFinal() const { return !std::holds_alternative<Progress>(value); }

    std::variant<Progress, Success, Failure> value;

    bool operator==(const TranscriptionEvent&) const = default;
};

// Engines may call it from any thread.
using TranscriptionEventHandler = std::function<void(const TranscriptionEvent&)>;

} // namespace vocalith
