#pragma once

#include "core/EngineError.h"

#include <QString>

namespace vocalith {

// Why a transcription through a provider failed, with the text the user reads.
class ExternalError {
public:
    enum class Case {
        network,
        apiError,
        parseError,
        invalidURL,
        cannotReadFile,
        emptyResponse,
        noSegments,
        unusableApiKey,
        cancelled,
    };

    static ExternalError network(const QString& message);
    static ExternalError apiError(int statusCode, const QString& responseText);
    static ExternalError parseError(const QString& message);
    static ExternalError invalidURL();
    static ExternalError cannotReadFile();
    static ExternalError emptyResponse();
    static ExternalError noSegments();
    // A key with a line break or another control character cannot go into a header.
    static ExternalError unusableApiKey();
    // The user stopped the job.
    static ExternalError cancelled();

    Case kind() const { return m_case; }
    QString errorDescription() const;
    // Domain "ExternalError", code the case's position.
    EngineError toEngineError() const;

private:
    ExternalError(Case kind, int statusCode = 0, const QString& text = {});

    Case m_case;
    int m_statusCode;
    QString m_text;
};

} // namespace vocalith
