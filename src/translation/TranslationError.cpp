#include "TranslationError.h"

#include "providers/ProviderHttp.h"

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

TranslationError TranslationError::cancelled() {
    return {Case::cancelled};
}

TranslationError TranslationError::batchMismatch(qsizetype batch, qsizetype batchCount,
                                                 const QString& difference) {
    return {Case::batchMismatch, 0,
            QStringLiteral("Batch ") + QString::number(batch) + QStringLiteral(" of ") +
                QString::number(batchCount) + QStringLiteral(": ") + difference + QLatin1Char('.')};
}

QString TranslationError::errorDescription() const {
    switch (m_case) {
    case Case::network:
        return ProviderHttp::networkErrorText(m_text);
    case Case::apiError:
        return ProviderHttp::apiErrorText(m_statusCode, m_text);
    case Case::parseError:
        return QStringLiteral("Failed to parse response: ") + m_text;
    case Case::invalidURL:
        return QStringLiteral("Invalid provider base URL.");
    case Case::encodingFailed:
        return QStringLiteral("Failed to encode the request body.");
    case Case::emptyResponse:
        return ProviderHttp::emptyResponseText();
    case Case::emptyInput:
        return QStringLiteral("No SRT blocks found in the input.");
    case Case::unusableApiKey:
        return ProviderHttp::unusableApiKeyText();
    case Case::cancelled:
        return QStringLiteral("Translation was cancelled.");
    case Case::batchMismatch:
        return m_text;
    }
    Q_UNREACHABLE();
    return {};
}

EngineError TranslationError::toEngineError() const {
    return {QStringLiteral("TranslationError"), static_cast<int>(m_case), errorDescription()};
}

} // namespace vocalith
