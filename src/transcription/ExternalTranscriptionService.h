#pragma once

#include "network/HttpClient.h"
#include "transcription/ProviderEngine.h"

#include <QByteArray>

#include <chrono>

namespace vocalith {

// Transcription by provider: the file is streamed from disk as one multipart POST to
// "/audio/transcriptions" and the "verbose_json" answer becomes the segments. Events
// after the first ones come from the transfer's thread.
class ExternalTranscriptionService final : public ProviderEngine {
public:
    // No byte moved for this long ends the upload.
    static constexpr std::chrono::milliseconds defaultTimeout{300'000};

    explicit ExternalTranscriptionService(std::chrono::milliseconds timeout = defaultTimeout);

    void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                    const QString& apiKey, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;
    void cancel() override;

    // The multipart body is head, the file's bytes, tail.
    static QByteArray multipartHead(const QByteArray& boundary, const QString& model,
                                    const std::optional<QString>& languageCode,
                                    const QString& fileName);
    static QByteArray multipartTail(const QByteArray& boundary);

private:
    static void handleAnswer(const HttpAnswer& answer, const TranscriptionEventHandler& onEvent);

    std::chrono::milliseconds m_timeout;
    HttpClient m_http; // last: its transfers end before anything else goes
};

} // namespace vocalith
