#pragma once

#include "transcription/ProviderEngine.h"

#include <QByteArray>

#include <chrono>

class QNetworkAccessManager;

namespace vocalith {

namespace ProviderHttp {
struct Answer;
}

// Transcription by provider: the whole file goes up as one multipart POST to
// "/audio/transcriptions" and the "verbose_json" answer becomes the segments.
// Keeps nothing per job; call on the thread that owns the network manager.
class ExternalTranscriptionService final : public ProviderEngine {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{300'000};

    explicit ExternalTranscriptionService(QNetworkAccessManager* network = nullptr,
                                          std::chrono::milliseconds timeout = defaultTimeout);

    void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                    const QString& apiKey, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;

    // The multipart body is head, the file's bytes, tail.
    static QByteArray multipartHead(const QByteArray& boundary, const QString& model,
                                    const std::optional<QString>& languageCode,
                                    const QString& fileName);
    static QByteArray multipartTail(const QByteArray& boundary);

private:
    static void handleAnswer(const ProviderHttp::Answer& answer,
                             const TranscriptionEventHandler& onEvent);

    QNetworkAccessManager& m_network;
    std::chrono::milliseconds m_timeout;
};

} // namespace vocalith
