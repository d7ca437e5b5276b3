#pragma once

#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"
#include "live/LiveEngine.h"
#include "providers/CustomProvider.h"
#include "transcription/PauseDetector.h"
#include "transcription/UploadPreparation.h"

#include <QQueue>

#include <memory>
#include <vector>

namespace vocalith {

class ExternalTranscriptionService;
class SpeakerVoices;

// Transcribes a live stream through a provider: the audio is cut at pauses into parts
// of 20 to 30 s, and each part is sent once complete and the one before it answered,
// with the text so far as its prompt. With speakers asked for, every part's labels are
// named as one recording's, a diarize model hearing clips of those known so far. A part
// the provider fails on is kept to be sent again later, and the rest goes on. Lives on
// the main thread.
class LiveProviderParts final : public LiveEngine {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveProviderParts)

public:
    static constexpr double shortestPart = 20.0; // seconds
    static constexpr double longestPart = 30.0;

    LiveProviderParts(const CustomProvider& provider, const QString& apiKey,
                      TranscriptionLanguage language, const QString& workDirectory,
                      QObject* parent = nullptr);
    ~LiveProviderParts() override;

    void feed(std::span<const short> samples) override;
    void finish() override;
    double secondsBehind() const override;
    // The parts the provider failed on, to be sent again; their files are the caller's.
    QList<UploadPreparation::Part> takeFailedParts();

Q_SIGNALS:
    // A part could not be transcribed; it is kept and the recording goes on.
    void partFailed(const QString& message);

private:
    struct Part {
        QString path;
        double start = 0.0; // seconds from the stream's start
        double seconds = 0.0;
    };
    void cut(std::size_t length);
    void sendNext();
    void handleEvent(const TranscriptionEvent& event);

    CustomProvider m_provider;
    QString m_apiKey;
    TranscriptionLanguage m_language;
    QString m_workDirectory;
    std::unique_ptr<ExternalTranscriptionService> m_service;
    std::shared_ptr<SpeakerVoices> m_speakers; // when the provider is asked for them
    PauseDetector m_pauses;
    std::vector<short> m_current; // the part being heard
    std::vector<short> m_partialFrame;
    double m_currentStart = 0.0;
    QQueue<Part> m_waiting;
    std::optional<Part> m_sending;
    QList<Part> m_failedParts;
    QString m_text; // everything transcribed so far
    bool m_finishing = false;
    bool m_finished = false;
    bool m_cannotWrite = false; // no part file could be written: nothing more is cut
};

} // namespace vocalith
