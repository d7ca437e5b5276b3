#include "TranscriptionError.h"

namespace vocalith {

TranscriptionError::TranscriptionError(Case kind, const std::optional<QString>& text)
    : m_case(kind)
    , m_text(text) {
}

TranscriptionError TranscriptionError::conversionFailed(const std::optional<QString>& underlying) {
    return {Case::conversionFailed, underlying};
}

TranscriptionError TranscriptionError::unsupportedLanguage(const QString& displayName) {
    return {Case::unsupportedLanguage, displayName};
}

TranscriptionError TranscriptionError::authorizationDenied() {
    return {Case::authorizationDenied};
}

TranscriptionError TranscriptionError::invalidAudioFile() {
    return {Case::invalidAudioFile};
}

TranscriptionError TranscriptionError::noAudioTrack() {
    return {Case::noAudioTrack};
}

TranscriptionError TranscriptionError::recognizerUnavailable() {
    return {Case::recognizerUnavailable};
}

TranscriptionError TranscriptionError::noSpeechDetected() {
    return {Case::noSpeechDetected};
}

QString TranscriptionError::errorDescription() const {
    switch (m_case) {
    case Case::conversionFailed:
        if (m_text)
            return QStringLiteral("Failed to convert audio: ") + *m_text;
        return QStringLiteral("Failed to convert MP3 to a compatible format.");
    case Case::unsupportedLanguage:
        return QStringLiteral("On-device speech recognition is not available for ") +
               m_text.value_or(QString()) + QLatin1Char('.');
    case Case::authorizationDenied:
        return QStringLiteral("Speech recognition access denied. Enable it in System Settings → "
                              "Privacy & Security → Speech Recognition.");
    case Case::invalidAudioFile:
        return QStringLiteral("The selected file is not a valid audio file.");
    case Case::noAudioTrack:
        return QStringLiteral("No audio track found in the selected file.");
    case Case::recognizerUnavailable:
        return QStringLiteral(
            "Speech recognizer is currently unavailable. Please check your internet connection.");
    case Case::noSpeechDetected:
        return QStringLiteral("No speech was detected in the audio. Note: songs and music are "
                              "difficult to transcribe accurately — speech recognition works best "
                              "with clear spoken words.");
    }
    Q_UNREACHABLE();
    return {};
}

EngineError TranscriptionError::toEngineError() const {
    return {QStringLiteral("TranscriptionError"), static_cast<int>(m_case), errorDescription()};
}

QString recognitionErrorMessage(int code, const QString& description) {
    switch (code) {
    case -3003:
        return QStringLiteral("The audio format is not supported for speech recognition.");
    case -3001:
        return QStringLiteral("Speech recognition is unavailable. The language model may be "
                              "downloading — wait a moment and try again.");
    case -1100:
        return QStringLiteral(
            "The audio file could not be accessed by the speech recognizer. Please try again.");
    case 102:
        return QStringLiteral("Speech recognition model is not available. Please ensure you're "
                              "connected to the internet and try again.");
    default:
        return QStringLiteral("Speech recognition error (") + QString::number(code) +
               QStringLiteral("): ") + description;
    }
}

EngineError recognizerFailure(int code, const QString& description) {
    return {QStringLiteral("Vocalith"), -1, recognitionErrorMessage(code, description)};
}

} // namespace vocalith
