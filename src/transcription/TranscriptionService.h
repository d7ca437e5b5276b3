#pragma once

#include "transcription/OnDeviceEngine.h"
#include "transcription/SpeechAuthorizer.h"
#include "transcription/SpeechRecognizer.h"

#include <QLockFile>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <variant>

namespace vocalith {

class SerialQueue;

// The on-device engine: converts the file to 16 kHz mono PCM on its own thread, cuts
// it into chunks of about 45 seconds at quiet moments, recognises them on several threads and joins
// the words in chunk order, each shifted by its chunk's offset. Removes every file it makes, and on
// start those a killed process left behind.
class TranscriptionService final : public OnDeviceEngine {
public:
    static constexpr double chunkDuration = 45.0;
    // A chunk ends at the quietest 0.2 s within this many seconds of its nominal end.
    static constexpr double cutReach = 2.0;

    struct Chunk {
        QString path;
        double offset = 0.0; // seconds from the start of the audio
        double duration = 0.0;
        bool operator==(const Chunk&) const = default;
    };

    // Defaults: Debian's PocketSphinx models, no permission needed, ~/.cache/Vocalith,
    // a recognition thread per core.
    explicit TranscriptionService(std::shared_ptr<SpeechRecognizerProvider> recognizers = {},
                                  std::unique_ptr<SpeechAuthorizer> authorizer = {},
                                  const QString& workDirectory = {}, int threads = 0);
    ~TranscriptionService() override;

    void transcribe(const QString& audioFilePath, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;
    void cancel() override;

    QString workDirectory() const { return m_workDirectory; }
    static QString defaultWorkDirectory();
    // Where microphone recordings are made: the cache folder's "recordings".
    static QString recordingsDirectory();

    // Chunk files of chunkDuration ± cutReach seconds, each ending at its quietest
    // moment (the last one shorter), or the reason why the file could not be cut.
    // Chunks already written are removed on failure.
    static std::variant<QList<Chunk>, QString> splitIntoChunks(const QString& intermediatePath,
                                                               const QString& workDirectory);

private:
    void startJob(const QString& audioFilePath, TranscriptionLanguage language,
                  const TranscriptionEventHandler& onEvent);
    void runAuthorizedJob(const QString& audioFilePath, TranscriptionLanguage language,
                          const TranscriptionEventHandler& onEvent);
    void recognizeChunks(SpeechRecognizer& recognizer, const QList<Chunk>& chunks,
                         const TranscriptionEventHandler& onEvent);
    // Takes this process's lock in the work directory and removes the work files of
    // jobs that died with their process, unless another live process may own them.
    void removeLeftovers();
    // Swaps in the task of the recognition about to start, cancelled if stopping.
    std::shared_ptr<RecognitionTask> beginTask();

    std::shared_ptr<SpeechRecognizerProvider> m_recognizers;
    std::unique_ptr<SpeechAuthorizer> m_authorizer;
    QString m_workDirectory;
    std::unique_ptr<QLockFile> m_instanceLock;
    int m_threads;
    std::shared_ptr<SerialQueue> m_queue;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_stopConversion{false};
    quint64 m_cancelled = 0;     // cancels so far; guarded by m_taskMutex
    quint64 m_jobGeneration = 0; // m_cancelled when the running job started
    std::mutex m_taskMutex;
    std::shared_ptr<RecognitionTask> m_recognitionTask;
};

} // namespace vocalith
