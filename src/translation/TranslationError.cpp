#include "TranslationError.h"

namespace vocalith {

TranslationError::TranslationError(Case kind, int statusCode, const QString& text)
    : m_case(kind)
    , m_statusCode(statusCode)
    , m_text(text) {
}

TranslationError TranslationError::network(const QString& message) {
    return {Case::network, 0, message};
}

TranslationError TranslationError::apiError(int statusCode, const QString& body) {
    return {Case::apiError, statusCode, body};
}

TranslationError TranslationError::parseError(const QString& message) {
    return {Case::parseError, 0, message};
}

TranslationError TranslationError::invalidURL() {
    return {Case::invalidURL};
}

TranslationError TranslationError::encodingFailed() {
    return {Case::encodingFailed};
}

TranslationError TranslationError::emptyResponse() {
    return {Case::emptyResponse};
}

TranslationError TranslationError::emptyInput() {
    return {Case::emptyInput};
}

TranslationError TranslationError::unusableApiKey() {
    return {Case::unusableApiKey};
}

QString TranslationError::errorDescription() const {
    switch (m_case) {
    case Case::network:
        return QStringLiteral("Network error: ") + m_text;
    case Case::apiError:
        return QStringLiteral("API error (HTTP ") + QString::number(m_statusCode) +
               QStringLiteral("): ") + m_text;
    case Case::parseError:
        return QStringLiteral("Failed to parse response: ") + m_text;
    case Case::invalidURL:
        return QStringLiteral("Invalid provider base URL.");
    case Case::encodingFailed:
        return QStringLiteral("Failed to encode the request body.");
    case Case::emptyResponse:
        return QStringLiteral("The provider returned an empty response.");
    case Case::emptyInput:
        return QStringLiteral("No SRT blocks found in the input.");
    case Case::unusableApiKey:
        return QStringLiteral("The API key contains a line break or another control character. "
                              "Edit the provider and enter the key again.");
    }
    Q_UNREACHABLE();
    return {};
}

EngineError TranslationError::toEngineError() const {
    return {QStringLiteral("TranslationError"), static_cast<int>(m_case), errorDescription()};
}

} // namespace vocalith
