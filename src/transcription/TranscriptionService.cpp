#include "TranscriptionService.h"

#include "core/SerialQueue.h"
#include "core/TextTrimming.h"
#include "core/UuidText.h"
#include "core/WorkFiles.h"
#include "transcription/AudioConverter.h"
#include "transcription/ChunkRecognizer.h"
#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/SoundFile.h"
#include "transcription/SpeechSpans.h"
#include "transcription/TranscriptionError.h"
#include "transcription/WrittenForm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <vector>

namespace vocalith {

namespace {

void removeChunks(const QList<TranscriptionService::Chunk>& chunks) {
    for (const TranscriptionService::Chunk& chunk : chunks)
        WorkFiles::remove(chunk.path);
}

void report(const TranscriptionEventHandler& onEvent, const TranscriptionError& error) {
    onEvent(TranscriptionEvent::failure(error.toEngineError()));
}

} // namespace

TranscriptionService::TranscriptionService(std::shared_ptr<SpeechRecognizerProvider> recognizers,
                                           std::unique_ptr<SpeechAuthorizer> authorizer,
                                           const QString& workDirectory, int threads)
    : m_recognizers(recognizers ? std::move(recognizers)
                                : std::make_shared<PocketSphinxRecognizerProvider>())
    , m_authorizer(authorizer ? std::move(authorizer) : std::make_unique<AlwaysAuthorized>())
    , m_workDirectory(workDirectory.isEmpty() ? defaultWorkDirectory() : workDirectory)
    , m_instanceLock(std::make_unique<QLockFile>(
          QDir(m_workDirectory)
              .filePath(QStringLiteral(".instance-") + uuidText() + QStringLiteral(".lock"))))
    , m_threads(threads > 0 ? threads : ChunkRecognizer::defaultThreadCount())
    , m_queue(SerialQueue::create(QStringLiteral("com.vocalith.recognition"))) {
    m_queue->post([this] { removeLeftovers(); });
    WordList::system(); // read while the first file converts
}

TranscriptionService::~TranscriptionService() {
    // A running job ends at its next check; jobs still waiting are dropped.
    m_stopping.store(true);
    cancel();
    m_queue->close();
}

QString TranscriptionService::defaultWorkDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Vocalith");
}

QString TranscriptionService::recordingsDirectory() {
    return defaultWorkDirectory() + QStringLiteral("/recordings");
}

void TranscriptionService::cancel() {
    const std::lock_guard lock(m_taskMutex);
    if (m_recognitionTask)
        m_recognitionTask->cancel();
    m_recognitionTask.reset();
    m_stopConversion = true;
    ++m_cancelled; // a job that has not reached its recognition yet stops there
}

void TranscriptionService::transcribe(const QString& audioFilePath, TranscriptionLanguage language,
                                      TranscriptionEventHandler onEvent) {
    cancel(); // a new request ends the job before it
    const quint64 generation = m_cancelled;
    m_queue->post([this, audioFilePath, language, onEvent, generation] {
        {
            const std::lock_guard lock(m_taskMutex);
            if (generation != m_cancelled)
                return; // cancelled before it started
            m_jobGeneration = generation;
            m_stopConversion = false;
        }
        startJob(audioFilePath, language, onEvent);
    });
}

void TranscriptionService::startJob(const QString& audioFilePath, TranscriptionLanguage language,
                                    const TranscriptionEventHandler& onEvent) {
    switch (m_authorizer->status()) {
    case SpeechAuthorizer::Status::authorized:
        return runAuthorizedJob(audioFilePath, language, onEvent);
    case SpeechAuthorizer::Status::denied:
    case SpeechAuthorizer::Status::restricted:
        return report(onEvent, TranscriptionError::authorizationDenied());
    case SpeechAuthorizer::Status::notDetermined:
        break;
    }
    // The answer may come on any thread; the job goes on here, on the engine's own
    // thread, so the conversion never blocks the window.
    const std::weak_ptr<SerialQueue> queue = m_queue;
    m_authorizer->requestAuthorization(
        [this, queue, audioFilePath, language, onEvent](SpeechAuthorizer::Status answer) {
            const std::shared_ptr<SerialQueue> alive = queue.lock();
            if (!alive)
                return;
            alive->post([this, answer, audioFilePath, language, onEvent] {
                if (answer != SpeechAuthorizer::Status::authorized)
                    return report(onEvent, TranscriptionError::authorizationDenied());
                runAuthorizedJob(audioFilePath, language, onEvent);
            });
        });
}

void TranscriptionService::runAuthorizedJob(const QString& audioFilePath,
                                            TranscriptionLanguage language,
                                            const TranscriptionEventHandler& onEvent) {
    const QString locale = language == TranscriptionLanguage::autoDetect
                               ? m_recognizers->currentLocaleIdentifier()
                               : rawValue(language);
    const std::shared_ptr<SpeechRecognizer> recognizer = m_recognizers->recognizerFor(locale);
    if (!recognizer)
        return report(onEvent, TranscriptionError::unsupportedLanguage(displayName(language)));
    if (!recognizer->isAvailable())
        return report(onEvent, TranscriptionError::recognizerUnavailable());

    onEvent(
        TranscriptionEvent::progress(0.05, QStringLiteral("Converting MP3 to audio buffer...")));
    QDir().mkpath(m_workDirectory);
    const QString intermediate =
        QDir(m_workDirectory).filePath(uuidText() + QStringLiteral(".wav"));
    WorkFiles::track(intermediate);
    if (const std::optional<QString> error =
            AudioConverter::convertAudio(audioFilePath, intermediate, &m_stopConversion)) {
        WorkFiles::remove(intermediate);
        return report(onEvent, TranscriptionError::conversionFailed(*error));
    }

    onEvent(TranscriptionEvent::progress(0.1, QStringLiteral("Splitting audio into chunks...")));
    const std::variant<QList<Chunk>, QString> split =
        splitIntoChunks(intermediate, m_workDirectory);
    WorkFiles::remove(intermediate);
    if (const auto* error = std::get_if<QString>(&split))
        return report(onEvent, TranscriptionError::conversionFailed(*error));
    const QList<Chunk>& chunks = std::get<QList<Chunk>>(split);
    if (chunks.isEmpty())
        return report(onEvent, TranscriptionError::invalidAudioFile());

    recognizeChunks(*recognizer, chunks, onEvent);
}

void TranscriptionService::recognizeChunks(SpeechRecognizer& recognizer, const QList<Chunk>& chunks,
                                           const TranscriptionEventHandler& onEvent) {
    const bool onDevice = recognizer.supportsOnDeviceRecognition();
    const qsizetype n = chunks.size();
    onEvent(TranscriptionEvent::progress(
        0.15, QStringLiteral("Transcribing ") + QString::number(n) + QStringLiteral(" chunk(s) [") +
                  (onDevice ? QStringLiteral("on-device") : QStringLiteral("online")) +
                  QStringLiteral("]...")));

    QStringList paths;
    for (const Chunk& chunk : chunks)
        paths.append(chunk.path);
    const double total = chunks.last().offset + chunks.last().duration;
    const std::shared_ptr<RecognitionTask> task = beginTask();
    const QList<RecognitionOutcome> outcomes = ChunkRecognizer::recognize(
        recognizer, onDevice, paths, total, m_threads, *task,
        [&](const ChunkRecognizer::Progress& progress) {
            // Audio fed is not audio done: each chunk's last pass remains.
            const double share =
                total > 0.0 ? std::min(progress.recognizedSeconds / total, 0.99) : 0.0;
            onEvent(TranscriptionEvent::progress(
                share * 0.85 + 0.15,
                QStringLiteral("Transcribing chunk ") +
                    QString::number(std::min(progress.chunksDone + 1, n)) + QStringLiteral(" of ") +
                    QString::number(n) + QStringLiteral("..."),
                progress.secondsLeft));
        });
    removeChunks(chunks);

    QList<TranscriptSegment> segments;
    QList<qsizetype> utteranceEnds;
    for (qsizetype i = 0; i < n; ++i) {
        const RecognitionOutcome& outcome = outcomes[i];
        if (outcome.errorCode) {
            if (*outcome.errorCode == RecognitionCode::noSpeech)
                continue;
            // A chunk cancelled because a later one failed is not the cause.
            const auto cause =
                std::find_if(outcomes.cbegin() + i, outcomes.cend(), [](const auto& o) {
                    return o.errorCode && *o.errorCode != RecognitionCode::noSpeech &&
                           *o.errorCode != RecognitionCode::cancelled;
                });
            const RecognitionOutcome& failed = cause != outcomes.cend() ? *cause : outcome;
            onEvent(TranscriptionEvent::failure(
                recognizerFailure(*failed.errorCode, failed.errorDescription)));
            return;
        }
        const double offset = chunks[i].offset;
        for (const RecognizedWord& word : outcome.words) {
            const QString text = trimmedWhiteSpace(word.text);
            if (text.isEmpty())
                continue;
            // One segment a word, as always; the word inside tells review it may group it.
            const double start = offset + word.timestamp;
            const double end = start + word.duration;
            segments.append({.text = text,
                             .startTime = start,
                             .endTime = end,
                             .confidence = word.confidence,
                             .words = {{text, start, end, word.confidence}}});
            if (word.endsUtterance)
                utteranceEnds.append(segments.size() - 1);
        }
    }
    if (segments.isEmpty())
        return report(onEvent, TranscriptionError::noSpeechDetected());
    // A chunk's end is an utterance's end too: the pause across it, measured as any
    // other, tells whether the sentence goes on.
    if (WrittenForm::isEnabled())
        WrittenForm(WordList::system().get()).rewriteTranscript(segments, utteranceEnds);
    onEvent(TranscriptionEvent::progress(1.0, QStringLiteral("Complete")));
    onEvent(TranscriptionEvent::success(segments));
}

void TranscriptionService::removeLeftovers() {
    QDir directory(m_workDirectory);
    directory.mkpath(QStringLiteral("."));
    if (!m_instanceLock->tryLock(0))
        return;
    const QString own = QFileInfo(m_instanceLock->fileName()).fileName();
    for (const QString& name :
         directory.entryList({QStringLiteral(".instance-*.lock")}, QDir::Files | QDir::Hidden)) {
        if (name == own)
            continue;
        QLockFile other(directory.filePath(name));
        other.setStaleLockTime(0); // only a dead owner makes a lock stale, never its age
        if (!other.tryLock(0))
            return; // a running Vocalith may be using the files
        other.unlock();
    }
    static const QRegularExpression workFile(QStringLiteral(
        "^((chunk|part)_\\d+_)?[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\."
        "(wav|mp3|m4a|ogg|flac)$"));
    for (const QString& name : directory.entryList(QDir::Files)) {
        if (workFile.match(name).hasMatch())
            directory.remove(name);
    }
}

std::shared_ptr<RecognitionTask> TranscriptionService::beginTask() {
    auto task = std::make_shared<RecognitionTask>();
    const std::lock_guard lock(m_taskMutex);
    if (m_stopping.load() || m_jobGeneration != m_cancelled)
        task->cancel();
    m_recognitionTask = task;
    return task;
}

std::variant<QList<TranscriptionService::Chunk>, QString>
TranscriptionService::splitIntoChunks(const QString& intermediatePath,
                                      const QString& workDirectory) {
    SF_INFO info{};
    const SoundFile input(sf_open(intermediatePath.toUtf8().constData(), SFM_READ, &info));
    if (!input)
        return QString::fromUtf8(sf_strerror(nullptr));
    const sf_count_t rate = info.samplerate;
    const sf_count_t length = info.frames;
    const auto framesPerChunk = static_cast<sf_count_t>(static_cast<double>(rate) * chunkDuration);

    QList<Chunk> chunks;
    const auto fail = [&](const QString& reason) {
        removeChunks(chunks);
        return reason;
    };
    // Each chunk ends at the quietest moment near its nominal end, so a word spoken
    // across that mark is heard whole in one chunk.
    const auto reach = static_cast<sf_count_t>(static_cast<double>(rate) * cutReach);
    std::vector<short> frames;
    for (sf_count_t start = 0; start < length && framesPerChunk > 0;) {
        const bool last = length - start <= framesPerChunk + reach;
        const sf_count_t available = last ? length - start : framesPerChunk + reach;
        if (sf_seek(input.get(), start, SEEK_SET) < 0)
            return fail(QString::fromUtf8(sf_strerror(input.get())));
        frames.resize(static_cast<size_t>(available * info.channels));
        if (sf_readf_short(input.get(), frames.data(), available) != available)
            return fail(QString::fromUtf8(sf_strerror(input.get())));
        const sf_count_t count =
            last ? available
                 : sf_count_t(quietestMoment(frames, int(rate), size_t(framesPerChunk - reach),
                                             size_t(available)));

        const QString path =
            QDir(workDirectory)
                .filePath(QStringLiteral("chunk_") + QString::number(chunks.size()) +
                          QLatin1Char('_') + uuidText() + QStringLiteral(".wav"));
        SF_INFO chunkInfo = info;
        chunkInfo.frames = 0;
        WorkFiles::track(path);
        const SoundFile output(sf_open(path.toUtf8().constData(), SFM_WRITE, &chunkInfo));
        if (!output)
            return fail(QString::fromUtf8(sf_strerror(nullptr)));
        chunks.append({path, static_cast<double>(start) / static_cast<double>(rate),
                       static_cast<double>(count) / static_cast<double>(rate)});
        if (sf_writef_short(output.get(), frames.data(), count) != count)
            return fail(QString::fromUtf8(sf_strerror(output.get())));
        start += count;
    }
    return chunks;
}

} // namespace vocalith
