#pragma once

#include "network/HttpClient.h"
#include "providers/KeptJob.h"
#include "providers/RateLimit.h"
#include "transcription/ProviderEngine.h"
#include "transcription/SpeakerVoices.h"
#include "transcription/UploadPreparation.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace vocalith {

class SerialQueue;

// Transcription by provider: the recording, or its audio cut into parts that fit the
// upload limit, is streamed from disk as multipart POSTs to "/audio/transcriptions",
// one after another, each with the text so far as its prompt; the "verbose_json"
// answers become the segments. A provider asked to identify speakers gets the fields its
// kind of model takes, and the labels of every part are named as one transcript's.
// Events after the first ones come from other threads.
class ExternalTranscriptionService final : public ProviderEngine {
public:
    // No byte moved for this long ends the upload.
    static constexpr std::chrono::milliseconds defaultTimeout{300'000};
    // What OpenAI and Groq's free tier take; a preference under uploadLimitKey().
    static constexpr qint64 defaultUploadLimit = 25'000'000;
    // A preference below this, or one that is no number, counts as unset: parts must
    // have room for audio beside the request's own bytes.
    static constexpr qint64 smallestUploadLimit = 2'000'000;
    static QString uploadLimitKey();
    static qint64 uploadLimitSetting();

    // Without a time-out or a limit the preferences are read at each job; parts are cut
    // in workDirectory (default: the on-device engine's cache folder).
    explicit ExternalTranscriptionService(std::optional<std::chrono::milliseconds> timeout = {},
                                          std::optional<qint64> uploadLimit = {},
                                          const QString& workDirectory = {});
    ~ExternalTranscriptionService() override;

    void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                    const QString& apiKey, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;
    // The same, the first part's prompt being the end of what was said before it, and
    // the speakers heard before it those of `speakers` (kept up to date for the next).
    void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                    const QString& apiKey, TranscriptionLanguage language,
                    const QString& textBefore, TranscriptionEventHandler onEvent,
                    const std::shared_ptr<SpeakerVoices>& speakers = {});
    void cancel() override;
    bool hasKeptJob() const override;
    bool resume(TranscriptionEventHandler onEvent) override;
    void discardKeptJob() override;
    void keepParts(const QList<UploadPreparation::Part>& parts,
                   const QList<TranscriptSegment>& segments, const CustomProvider& provider,
                   const QString& apiKey, TranscriptionLanguage language) override;

    // Models that tell speakers apart by name ("gpt-4o-transcribe-diarize"): they answer
    // "diarized_json", refuse a prompt and take clips of the speakers known so far.
    static bool isDiarizeModel(const QString& model);
    // The multipart body is head, the file's bytes, tail. With speakers, they are asked
    // for, and a diarize model is given those references.
    static QByteArray
    multipartHead(const QByteArray& boundary, const QString& model,
                  const std::optional<QString>& languageCode, const QString& prompt,
                  const QString& fileName, const QByteArray& contentType,
                  const std::optional<QList<SpeakerVoices::Reference>>& speakers = std::nullopt);
    static QByteArray multipartTail(const QByteArray& boundary);

private:
    struct Job;
    void sendPart(const std::shared_ptr<Job>& job);
    void handleAnswer(const std::shared_ptr<Job>& job, const HttpAnswer& answer);

    // Stopped when its job was cancelled, so a wait for a rate limit ends at once.
    std::function<bool()> stopped(const std::shared_ptr<Job>& job);

    std::optional<std::chrono::milliseconds> m_timeout;
    std::optional<qint64> m_uploadLimit;
    QString m_workDirectory;
    std::shared_ptr<SerialQueue> m_queue;
    mutable std::mutex m_cancelMutex; // a part is never sent past a cancel
    quint64 m_generation = 0;
    std::weak_ptr<Job> m_preparing; // the job cancel() stops; guarded by m_cancelMutex
    KeptJob<Job> m_kept;            // the failed job resume() continues
    RateLimit::Wait m_rateWait;
    HttpClient m_http; // last: its transfers end before anything else goes
};

} // namespace vocalith
