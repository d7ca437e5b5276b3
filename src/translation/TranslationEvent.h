#pragma once

#include "core/EngineError.h"

#include <QString>

#include <functional>
#include <variant>

namespace vocalith {

// One step of a translation job: any number of progress events, then exactly one
// success or failure.
struct TranslationEvent {
    struct Progress {
        double fraction = 0.0;
        QString message;
        bool operator==(const Progress&) const = default;
    };
    struct Success {
        QString text;
        bool operator==(const Success&) const = default;
    };
    struct Failure {
        EngineError error;
        bool operator==(const Failure&) const = default;
    };

    static TranslationEvent progress(double fraction, const QString& message) {
        return {Progress{fraction, message}};
    }
    static TranslationEvent success(const QString& text) { return {Success{text}}; }
    static TranslationEvent failure(const EngineError& error) { return {Failure{error}}; }

    bool isFinal() const { return !std::holds_alternative<Progress>(value); }

    std::variant<Progress, Success, Failure> value;

    bool operator==(const TranslationEvent&) const = default;
};

// Jobs may call it from any thread.
using TranslationEventHandler = std::function<void(const TranslationEvent&)>;

} // namespace vocalith
