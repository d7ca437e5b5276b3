#pragma once

#include "core/EngineError.h"

#include <QString>

namespace vocalith {

// Why a translation failed, with the text the user reads.
class TranslationError {
public:
    enum class Case {
        network,
        apiError,
        parseError,
        invalidURL,
        encodingFailed,
        emptyResponse,
        emptyInput,
        unusableApiKey,
        cancelled,
        batchMismatch,
    };

    static TranslationError network(const QString& message);
    static TranslationError apiError(int statusCode, const QString& body);
    static TranslationError parseError(const QString& message);
    static TranslationError invalidURL();
    static TranslationError encodingFailed();
    static TranslationError emptyResponse();
    static TranslationError emptyInput();
    // A key with a line break or another control character cannot go into a header.
    static TranslationError unusableApiKey();
    // The user stopped the job.
    static TranslationError cancelled();
    // A subtitle batch came back, also after one corrective request, with other blocks
    // than were sent; difference says how, e.g. "the provider returned 14 blocks instead
    // of 15".
    static TranslationError batchMismatch(qsizetype batch, qsizetype batchCount,
                                          const QString& difference);

    Case kind() const { return m_case; }
    QString errorDescription() const;
    // Domain "TranslationError", code the case's position.
    EngineError toEngineError() const;

private:
    TranslationError(Case kind, int statusCode = 0, const QString& text = {});

    Case m_case;
    int m_statusCode;
    QString m_text;
};

} // namespace vocalith
