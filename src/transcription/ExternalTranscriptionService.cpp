#include "ExternalTranscriptionService.h"

#include "core/SerialQueue.h"
#include "core/TextTrimming.h"
#include "core/UuidText.h"
#include "core/WorkFiles.h"
#include "providers/ProviderHttp.h"
#include "transcription/ExternalError.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionService.h"
#include "transcription/VerboseResponse.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace vocalith {

namespace {

constexpr QByteArrayView crlf("\r\n");
// The context handed to the next part: about the last 200 characters said.
constexpr qsizetype promptLength = 200;

// A quote or line break in a file name would end the header early or start a new
// one; they are percent-encoded the way browsers encode form data.
QByteArray headerSafeFileName(const QString& fileName) {
    QByteArray name = fileName.toUtf8();
    name.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return name;
}

void appendField(QByteArray& body, const QByteArray& boundary, QByteArrayView name,
                 const QString& value) {
    body.append("--").append(boundary).append(crlf);
    body.append("Content-Disposition: form-data; name=\"").append(name).append("\"");
    body.append(crlf).append(crlf);
    body.append(value.toUtf8()).append(crlf);
}

QString lastWords(const QString& text) {
    if (text.size() <= promptLength)
        return text;
    const QString tail = text.right(promptLength);
    const qsizetype space = tail.indexOf(QLatin1Char(' '));
    return space >= 0 ? tail.mid(space + 1) : tail;
}

} // namespace

// One transcription: its parts, where it stands, and what was heard so far. Removes
// the parts it made when the job ends, however it ends.
struct ExternalTranscriptionService::Job {
    QUrl url;
    QString apiKey;
    CustomProvider provider;
    std::optional<QString> language;
    TranscriptionEventHandler onEvent;
    quint64 generation = 0;
    QList<UploadPreparation::Part> parts;
    QList<bool> halves; // a part already cut in two after a 413 is not cut again
    qsizetype index = 0;
    qint64 totalBytes = 0;
    qint64 doneBytes = 0;
    int percent = 20;
    QList<TranscriptSegment> segments;
    bool fillsGaps = false; // the parts' words go between those kept, by time
    QString text;
    // Who spoke, when the provider is asked; handed in when parts of one recording come
    // as jobs of their own, each then keeping clips for the next.
    std::shared_ptr<SpeakerVoices> speakers;
    bool speakersGoOn = false;
    // Set by cancel(): preparation stops at its next packet.
    std::atomic<bool> stop{false};
    std::chrono::milliseconds timeout{defaultTimeout};
    // One for the job, so a request sent again after a 429 is the same to the byte.
    QByteArray boundary = "Boundary-" + uuidText().toLatin1();
    // 429 answers to the part being sent, and the time waited for them.
    int rateAttempts = 0;
    std::chrono::milliseconds rateWaited{0};

    ~Job() { removeParts(); }
    // Before the final event, so whoever sees it finds nothing left behind.
    void removeParts() const {
        for (const UploadPreparation::Part& part : parts) {
            if (part.temporary)
                WorkFiles::remove(part.path);
        }
    }
    // The failure, naming its part when there are several; a cancel is the job's. A job
    // kept to be resumed keeps its parts.
    void fail(const ExternalError& error, bool kept = false) const {
        if (!kept)
            removeParts();
        EngineError failure = error.toEngineError();
        if (parts.size() > 1 && error.kind() != ExternalError::Case::cancelled)
            failure.description = QStringLiteral("Part ") + QString::number(index + 1) +
                                  QStringLiteral(" of ") + QString::number(parts.size()) +
                                  QStringLiteral(": ") + failure.description;
        onEvent(TranscriptionEvent::failure(failure));
    }
    QString status() const {
        if (parts.size() == 1)
            return QStringLiteral("Uploading & transcribing via ") + provider.name +
                   QStringLiteral("...");
        return QStringLiteral("Uploading part ") + QString::number(index + 1) +
               QStringLiteral(" of ") + QString::number(parts.size()) + QStringLiteral(" via ") +
               provider.name + QStringLiteral("...");
    }
    // Between 0.2 and 0.8 with the bytes sent; one event per whole percent, with the
    // time left at the rate so far (answers to earlier parts included) once it shows.
    void uploaded(qint64 bytes) {
        if (totalBytes <= 0)
            return;
        const qint64 sent = std::min(doneBytes + bytes, totalBytes);
        const int now = int(20 + 60 * sent / totalBytes);
        if (now <= percent)
            return;
        percent = now;
        std::optional<double> left;
        const double elapsed = double(uploadClock.elapsed()) / 1000.0;
        if (elapsed >= rateAfterSeconds && sent > 0)
            left = double(totalBytes - sent) / (double(sent) / elapsed);
        onEvent(TranscriptionEvent::progress(percent / 100.0, status(), left));
    }
    static constexpr double rateAfterSeconds = 2.0;
    QElapsedTimer uploadClock;
};

QString ExternalTranscriptionService::uploadLimitKey() {
    return QStringLiteral("com.vocalith.uploadLimitBytes");
}

qint64 ExternalTranscriptionService::uploadLimitSetting() {
    bool ok = false;
    const qint64 limit = QSettings().value(uploadLimitKey()).toLongLong(&ok);
    return ok && limit >= smallestUploadLimit ? limit : defaultUploadLimit;
}

ExternalTranscriptionService::ExternalTranscriptionService(
    std::optional<std::chrono::milliseconds> timeout, std::optional<qint64> uploadLimit,
    const QString& workDirectory)
    : m_timeout(timeout)
    , m_uploadLimit(uploadLimit)
    , m_workDirectory(workDirectory.isEmpty() ? TranscriptionService::defaultWorkDirectory()
                                              : workDirectory)
    , m_queue(SerialQueue::create(QStringLiteral("com.vocalith.upload"))) {
}

ExternalTranscriptionService::~ExternalTranscriptionService() {
    // Preparation may still post a transfer: it ends first, while the client lives.
    cancel();
    m_queue->close();
}

void ExternalTranscriptionService::cancel() {
    {
        const std::lock_guard lock(m_cancelMutex);
        ++m_generation;
        if (const std::shared_ptr<Job> job = m_preparing.lock())
            job->stop = true;
        m_http.cancelAll();
    }
    // Outside the lock: a waiting job takes the wait's lock, then asks stopped().
    m_rateWait.wakeAll();
}

std::function<bool()> ExternalTranscriptionService::stopped(const std::shared_ptr<Job>& job) {
    return [this, job] {
        const std::lock_guard lock(m_cancelMutex);
        return job->generation != m_generation;
    };
}

bool ExternalTranscriptionService::hasKeptJob() const {
    return m_kept.has();
}

bool ExternalTranscriptionService::resume(TranscriptionEventHandler onEvent) {
    const std::shared_ptr<Job> job = m_kept.take();
    if (!job)
        return false;
    {
        const std::lock_guard lock(m_cancelMutex);
        job->generation = m_generation;
    }
    job->onEvent = std::move(onEvent);
    job->rateAttempts = 0;
    job->rateWaited = {};
    sendPart(job);
    return true;
}

void ExternalTranscriptionService::discardKeptJob() {
    m_kept.discard(); // its files go when the last owner lets go
}

void ExternalTranscriptionService::keepParts(const QList<UploadPreparation::Part>& parts,
                                             const QList<TranscriptSegment>& segments,
                                             const CustomProvider& provider, const QString& apiKey,
                                             TranscriptionLanguage language) {
    auto job = std::make_shared<Job>();
    job->parts = parts; // removed with the job, however it ends
    const std::optional<QUrl> url =
        ProviderHttp::endpoint(provider.baseURL, QStringLiteral("/audio/transcriptions"));
    if (parts.isEmpty() || !url)
        return;
    job->url = *url;
    job->provider = provider;
    job->apiKey = apiKey;
    job->language = languageCode(language);
    job->timeout = m_timeout.value_or(ProviderHttp::timeoutSetting(defaultTimeout));
    job->halves = QList<bool>(parts.size(), false);
    job->segments = segments;
    job->fillsGaps = true;
    if (provider.identifySpeakers) {
        job->speakers = std::make_shared<SpeakerVoices>();
        job->speakers->knowNames(segments);
    }
    for (const TranscriptSegment& segment : segments) {
        if (segment.startTime < parts.first().start)
            job->text += (job->text.isEmpty() ? QString() : QStringLiteral(" ")) + segment.text;
    }
    for (const UploadPreparation::Part& part : parts)
        job->totalBytes += QFileInfo(part.path).size();
    m_kept.keep(job);
}

void ExternalTranscriptionService::transcribe(const QString& audioFilePath,
                                              const CustomProvider& provider, const QString& apiKey,
                                              TranscriptionLanguage language,
                                              TranscriptionEventHandler onEvent) {
    transcribe(audioFilePath, provider, apiKey, language, {}, std::move(onEvent));
}

void ExternalTranscriptionService::transcribe(const QString& audioFilePath,
                                              const CustomProvider& provider, const QString& apiKey,
                                              TranscriptionLanguage language,
                                              const QString& textBefore,
                                              TranscriptionEventHandler onEvent,
                                              const std::shared_ptr<SpeakerVoices>& speakers) {
    discardKeptJob(); // a new job replaces the one kept
    onEvent(TranscriptionEvent::progress(0.05, QStringLiteral("Preparing upload to ") +
                                                   provider.name + QStringLiteral("...")));
    auto job = std::make_shared<Job>();
    job->provider = provider;
    job->text = textBefore;
    job->onEvent = std::move(onEvent);
    if (provider.identifySpeakers) {
        job->speakers = speakers ? speakers : std::make_shared<SpeakerVoices>();
        job->speakersGoOn = speakers != nullptr;
    }
    const std::optional<QUrl> url =
        ProviderHttp::endpoint(provider.baseURL, QStringLiteral("/audio/transcriptions"));
    if (!url)
        return job->fail(ExternalError::invalidURL());
    if (!ProviderHttp::isUsableApiKey(apiKey))
        return job->fail(ExternalError::unusableApiKey());
    const QFileInfo file(audioFilePath);
    if (!file.isFile() || !file.isReadable())
        return job->fail(ExternalError::cannotReadFile());

    job->url = *url;
    job->apiKey = apiKey;
    job->language = languageCode(language);
    job->timeout = m_timeout.value_or(ProviderHttp::timeoutSetting(defaultTimeout));
    {
        const std::lock_guard lock(m_cancelMutex);
        job->generation = m_generation;
        m_preparing = job;
    }
    // Cutting a long recording takes a while: never on the caller's thread.
    m_queue->post([this, job, audioFilePath] {
        QString error;
        std::optional<QList<UploadPreparation::Part>> parts = UploadPreparation::prepare(
            audioFilePath, m_workDirectory, m_uploadLimit.value_or(uploadLimitSetting()), error,
            &job->stop);
        if (job->stop)
            return job->fail(ExternalError::cancelled());
        if (!parts)
            return job->onEvent(TranscriptionEvent::failure(
                TranscriptionError::conversionFailed(error).toEngineError()));
        job->parts = std::move(*parts);
        job->halves = QList<bool>(job->parts.size(), false);
        for (const UploadPreparation::Part& part : job->parts)
            job->totalBytes += QFileInfo(part.path).size();
        sendPart(job);
    });
}

void ExternalTranscriptionService::sendPart(const std::shared_ptr<Job>& job) {
    // Checked and sent under the lock, so a cancel between two parts stops the job.
    const std::lock_guard lock(m_cancelMutex);
    if (job->generation != m_generation)
        return job->fail(ExternalError::cancelled());
    const UploadPreparation::Part& part = job->parts[job->index];
    const QByteArray& boundary = job->boundary;
    HttpRequest request;
    request.url = job->url;
    request.headers = {{"Content-Type", "multipart/form-data; boundary=" + boundary}};
    if (!job->apiKey.isEmpty()) // a server on the user's own network may need none
        request.headers.prepend({"Authorization", "Bearer " + job->apiKey.toUtf8()});
    std::optional<QList<SpeakerVoices::Reference>> speakers;
    if (job->speakers)
        speakers = job->speakers->references();
    request.body = {BodyPart::data(multipartHead(
                        boundary, job->provider.model, job->language, lastWords(job->text),
                        QFileInfo(part.path).fileName(), part.contentType, speakers)),
                    BodyPart::file(part.path), BodyPart::data(multipartTail(boundary))};
    request.idleTimeout = job->timeout;
    job->onEvent(TranscriptionEvent::progress(job->percent / 100.0, job->status()));
    if (!job->uploadClock.isValid())
        job->uploadClock.start();
    const qint64 partBytes = QFileInfo(part.path).size();
    m_http.post(
        request,
        [job, partBytes](qint64 sent, qint64 total) {
            job->uploaded(total > 0 ? sent * partBytes / total : 0);
        },
        [this, job](const HttpAnswer& answer) { handleAnswer(job, answer); });
}

void ExternalTranscriptionService::handleAnswer(const std::shared_ptr<Job>& job,
                                                const HttpAnswer& answer) {
    if (answer.cancelled)
        return job->fail(ExternalError::cancelled());
    // Kept before the failure is told, so whoever sees it can resume the job.
    const auto failKept = [&](const ExternalError& error) {
        {
            const std::lock_guard lock(m_cancelMutex);
            if (job->generation == m_generation)
                m_kept.keep(job);
        }
        job->fail(error, true);
    };
    if (answer.bodyUnreadable)
        return failKept(ExternalError::cannotReadFile());
    if (answer.transportError)
        return failKept(ExternalError::network(*answer.transportError));
    // Refused as too large although under the limit: that body was not processed, so
    // it is sent once more, cut in two.
    constexpr int tooLarge = 413;
    UploadPreparation::Part& part = job->parts[job->index];
    if (answer.status == tooLarge && !job->halves[job->index]) {
        QString error;
        if (const auto halves =
                UploadPreparation::halve(part, m_workDirectory, error, &job->stop)) {
            if (part.temporary)
                WorkFiles::remove(part.path);
            job->parts.replace(job->index, halves->at(0));
            job->parts.insert(job->index + 1, halves->at(1));
            job->halves.replace(job->index, true);
            job->halves.insert(job->index + 1, true);
            return sendPart(job);
        }
    }
    if (const auto wait = RateLimit::nextWait(answer, ++job->rateAttempts, job->rateWaited)) {
        job->rateWaited += *wait;
        m_rateWait.wait(*wait, stopped(job), [job](int secondsLeft) {
            job->onEvent(TranscriptionEvent::progress(
                job->percent / 100.0, RateLimit::statusText(job->provider.name, secondsLeft)));
        });
        return sendPart(job); // which tells a cancel during the wait
    }
    if (!answer.isSuccessStatus())
        return failKept(
            ExternalError::apiError(answer.status, ProviderHttp::bodyText(answer.body)));

    const bool single = job->parts.size() == 1;
    if (single)
        job->onEvent(TranscriptionEvent::progress(0.9, QStringLiteral("Parsing transcription...")));
    QString decodeError;
    const std::optional<VerboseResponse> response =
        VerboseResponse::decode(answer.body, decodeError);
    if (!response)
        return failKept(ExternalError::parseError(decodeError));
    // A part with nothing said in it is skipped, as silent chunks are on the device.
    auto at = job->segments.end();
    if (job->fillsGaps)
        at = std::find_if(
            job->segments.begin(), job->segments.end(),
            [&](const TranscriptSegment& kept) { return kept.startTime >= part.start; });
    QList<TranscriptSegment> read = response->transcriptSegments();
    if (job->speakers) {
        // Only a diarize model is given clips, and its labels start again in each part.
        const bool diarize = isDiarizeModel(job->provider.model);
        job->speakers->name(read, diarize);
        if (diarize && (job->speakersGoOn || job->index + 1 < job->parts.size()))
            job->speakers->listen(part.path, read);
    } else {
        // Labels nobody asked for (a server that always diarizes) leave the transcript
        // as it always was.
        for (TranscriptSegment& segment : read)
            segment.speaker.clear();
    }
    for (TranscriptSegment segment : read) {
        segment.startTime += part.start;
        segment.endTime += part.start;
        at = job->segments.insert(at, segment) + 1;
        job->text += (job->text.isEmpty() ? QString() : QStringLiteral(" ")) + segment.text;
    }
    job->doneBytes += QFileInfo(part.path).size();
    job->rateAttempts = 0;
    job->rateWaited = {};
    if (++job->index < job->parts.size())
        return sendPart(job);
    job->index = job->parts.size() - 1;
    if (job->segments.isEmpty())
        return job->fail(ExternalError::noSegments());
    job->removeParts();
    job->onEvent(TranscriptionEvent::progress(1.0, QStringLiteral("Complete")));
    job->onEvent(TranscriptionEvent::success(job->segments));
}

bool ExternalTranscriptionService::isDiarizeModel(const QString& model) {
    return model.contains(QLatin1String("diarize"), Qt::CaseInsensitive);
}

QByteArray ExternalTranscriptionService::multipartHead(
    const QByteArray& boundary, const QString& model, const std::optional<QString>& languageCode,
    const QString& prompt, const QString& fileName, const QByteArray& contentType,
    const std::optional<QList<SpeakerVoices::Reference>>& speakers) {
    const bool diarize = speakers && isDiarizeModel(model);
    QByteArray head;
    appendField(head, boundary, "model", model);
    if (diarize) {
        appendField(head, boundary, "response_format", QStringLiteral("diarized_json"));
        appendField(head, boundary, "chunking_strategy", QStringLiteral("auto"));
    } else {
        appendField(head, boundary, "response_format", QStringLiteral("verbose_json"));
    }
    if (languageCode)
        appendField(head, boundary, "language", *languageCode);
    if (diarize) {
        // Such models answer 400 to a prompt; the clips carry what the parts share.
        for (const SpeakerVoices::Reference& reference : *speakers)
            appendField(head, boundary, "known_speaker_names[]", reference.name);
        for (const SpeakerVoices::Reference& reference : *speakers)
            appendField(head, boundary, "known_speaker_references[]",
                        QString::fromLatin1(reference.dataUrl));
    } else if (!prompt.isEmpty()) {
        appendField(head, boundary, "prompt", prompt);
    }
    if (speakers && !diarize) {
        appendField(head, boundary, "diarize", QStringLiteral("true"));
        appendField(head, boundary, "timestamp_granularities[]", QStringLiteral("segment"));
    }

    head.append("--").append(boundary).append(crlf);
    head.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
        .append(headerSafeFileName(fileName))
        .append("\"")
        .append(crlf);
    head.append("Content-Type: ").append(contentType).append(crlf).append(crlf);
    return head;
}

QByteArray ExternalTranscriptionService::multipartTail(const QByteArray& boundary) {
    return crlf.toByteArray() + "--" + boundary + "--" + crlf.toByteArray();
}

} // namespace vocalith
