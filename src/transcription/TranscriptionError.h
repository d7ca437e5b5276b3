#pragma once

#include "core/EngineError.h"

#include <QString>

#include <optional>

namespace vocalith {

// Why an on-device transcription failed, with the text the user reads.
class TranscriptionError {
public:
    enum class Case {
        conversionFailed,
        unsupportedLanguage,
        authorizationDenied,
        invalidAudioFile,
        noAudioTrack,
        recognizerUnavailable,
        noSpeechDetected,
    };

    // underlying: the description of what went wrong while converting, if known.
    static TranscriptionError conversionFailed(const std::optional<QString>& underlying = {});
    static TranscriptionError unsupportedLanguage(const QString& displayName);
    static TranscriptionError authorizationDenied();
    static TranscriptionError invalidAudioFile();
    static TranscriptionError noAudioTrack();
    static TranscriptionError recognizerUnavailable();
    static TranscriptionError noSpeechDetected();

    Case kind() const { return m_case; }
    QString errorDescription() const;
    // Domain "TranscriptionError", code the case's position.
    EngineError toEngineError() const;

private:
    TranscriptionError(Case kind, const std::optional<QString>& text = {});

    Case m_case;
    std::optional<QString> m_text;
};

// The user's message for a recogniser error code; -3002 (no speech) never gets here.
QString recognitionErrorMessage(int code, const QString& description);
// How a recogniser failure travels: domain "Vocalith", code -1, the mapped message.
EngineError recognizerFailure(int code, const QString& description);

} // namespace vocalith
