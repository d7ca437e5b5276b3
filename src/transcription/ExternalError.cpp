#include "ExternalError.h"

#include "providers/ProviderHttp.h"
#include "providers/ProviderPresets.h"

namespace vocalith {

ExternalError::ExternalError(Case kind, int statusCode, const QString& text)
    : m_case(kind)
    , m_statusCode(statusCode)
    , m_text(text) {
}

ExternalError ExternalError::network(const QString& message) {
    return {Case::network, 0, message};
}

ExternalError ExternalError::apiError(int statusCode, const QString& responseText) {
    return {Case::apiError, statusCode, responseText};
}

ExternalError ExternalError::parseError(const QString& message) {
    return {Case::parseError, 0, message};
}

ExternalError ExternalError::invalidURL() {
    return {Case::invalidURL};
}

ExternalError ExternalError::cannotReadFile() {
    return {Case::cannotReadFile};
}

ExternalError ExternalError::emptyResponse() {
    return {Case::emptyResponse};
}

ExternalError ExternalError::noSegments() {
    return {Case::noSegments};
}

ExternalError ExternalError::unusableApiKey() {
    return {Case::unusableApiKey};
}

ExternalError ExternalError::cancelled() {
    return {Case::cancelled};
}

QString ExternalError::errorDescription() const {
    switch (m_case) {
    case Case::network:
        return ProviderHttp::networkErrorText(m_text);
    case Case::apiError:
        return ProviderHttp::apiErrorText(m_statusCode, m_text);
    case Case::parseError:
        return QStringLiteral("Failed to parse the provider response: ") + m_text;
    case Case::invalidURL:
        return QStringLiteral("Invalid provider base URL. Please check the URL format (e.g. ") +
               ProviderPreset::groqWhisper().baseURL + QStringLiteral(").");
    case Case::cannotReadFile:
        return QStringLiteral("Could not read the audio file.");
    case Case::emptyResponse:
        return ProviderHttp::emptyResponseText();
    case Case::noSegments:
        return QStringLiteral(
            "The provider returned no transcription. The audio may contain no speech.");
    case Case::unusableApiKey:
        return ProviderHttp::unusableApiKeyText();
    case Case::cancelled:
        return QStringLiteral("Transcription was cancelled.");
    }
    Q_UNREACHABLE();
    return {};
}

EngineError ExternalError::toEngineError() const {
    return {QStringLiteral("ExternalError"), static_cast<int>(m_case), errorDescription()};
}

} // namespace vocalith
