#include "LiveProviderParts.h"

#include "core/QueuedEventHandler.h"
#include "core/UuidText.h"
#include "core/WorkFiles.h"
#include "transcription/ExternalError.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/SoundFile.h"
#include "transcription/SpeechSpans.h"

#include <QDir>
#include <QFileInfo>

namespace vocalith {

namespace {

constexpr std::size_t frameLength = LiveEngine::sampleRate / speech::framesPerSecond;
// A stop a moment after the last part leaves nothing worth a request.
constexpr double shortestLastPart = 0.3;

std::size_t samplesFor(double seconds) {
    return std::size_t(seconds * LiveEngine::sampleRate);
}

bool writeWave(const QString& path, std::span<const short> samples) {
    QDir().mkpath(QFileInfo(path).path());
    WorkFiles::track(path);
    SF_INFO info{};
    info.samplerate = LiveEngine::sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile file(sf_open(path.toUtf8().constData(), SFM_WRITE, &info));
    if (file &&
        sf_write_short(file.get(), samples.data(), sf_count_t(samples.size())) ==
            sf_count_t(samples.size()) &&
        sf_close(file.release()) == 0)
        return true;
    WorkFiles::remove(path);
    return false;
}

} // namespace

LiveProviderParts::LiveProviderParts(const CustomProvider& provider, const QString& apiKey,
                                     TranscriptionLanguage language, const QString& workDirectory,
                                     QObject* parent)
    : LiveEngine(parent)
    , m_provider(provider)
    , m_apiKey(apiKey)
    , m_language(language)
    , m_workDirectory(workDirectory)
    , m_service(
          std::make_unique<ExternalTranscriptionService>(std::nullopt, std::nullopt, workDirectory))
    , m_speakers(provider.identifySpeakers ? std::make_shared<SpeakerVoices>() : nullptr) {
}

LiveProviderParts::~LiveProviderParts() {
    m_service->cancel();
    for (const Part& part : std::as_const(m_waiting))
        WorkFiles::remove(part.path);
    if (m_sending)
        WorkFiles::remove(m_sending->path);
    for (const Part& part : std::as_const(m_failedParts))
        WorkFiles::remove(part.path);
}

void LiveProviderParts::feed(std::span<const short> samples) {
    if (m_finishing)
        return;
    // Pauses are judged on whole 10 ms frames.
    std::vector<short> input = std::exchange(m_partialFrame, {});
    input.insert(input.end(), samples.begin(), samples.end());
    const std::size_t whole = input.size() - input.size() % frameLength;
    m_partialFrame.assign(input.begin() + std::ptrdiff_t(whole), input.end());
    for (std::size_t at = 0; at < whole; at += frameLength) {
        const std::span frame(input.data() + at, frameLength);
        m_current.insert(m_current.end(), frame.begin(), frame.end());
        const bool paused = m_pauses.addFrame(frame) == PauseDetector::Change::speechEnded;
        if (paused && m_current.size() >= samplesFor(shortestPart)) {
            cut(m_current.size());
        } else if (m_current.size() >= samplesFor(longestPart)) {
            // No pause long enough: the quietest moment of the last ten seconds.
            cut(quietestMoment(m_current, sampleRate, samplesFor(shortestPart), m_current.size()));
        }
    }
}

void LiveProviderParts::cut(std::size_t length) {
    length = std::min(length, m_current.size());
    const Part part{QDir(m_workDirectory).filePath(uuidText() + QStringLiteral(".wav")),
                    m_currentStart, double(length) / sampleRate};
    const bool wanted = length > 0 && !m_cannotWrite;
    const bool written = wanted && writeWave(part.path, std::span(m_current).first(length));
    // Done with the samples before anyone hears of a failure.
    m_current.erase(m_current.begin(), m_current.begin() + std::ptrdiff_t(length));
    m_currentStart += part.seconds;
    if (written) {
        m_waiting.enqueue(part);
    } else if (wanted) {
        m_cannotWrite = true;
        Q_EMIT failed(QStringLiteral("A part of the recording could not be written to ") +
                      m_workDirectory);
    }
    sendNext();
}

void LiveProviderParts::finish() {
    if (m_finishing)
        return;
    m_current.insert(m_current.end(), m_partialFrame.begin(), m_partialFrame.end());
    m_partialFrame.clear();
    if (double(m_current.size()) / sampleRate >= shortestLastPart)
        cut(m_current.size());
    m_finishing = true;
    sendNext();
}

double LiveProviderParts::secondsBehind() const {
    double behind = double(m_current.size()) / sampleRate;
    for (const Part& part : m_waiting)
        behind += part.seconds;
    return behind + (m_sending ? m_sending->seconds : 0.0);
}

QList<UploadPreparation::Part> LiveProviderParts::takeFailedParts() {
    QList<UploadPreparation::Part> parts;
    for (const Part& part : std::exchange(m_failedParts, {}))
        parts.append({part.path, part.start, UploadPreparation::contentTypeFor(part.path), true});
    return parts;
}

void LiveProviderParts::sendNext() {
    if (m_sending)
        return;
    if (m_waiting.isEmpty()) {
        if (m_finishing && !std::exchange(m_finished, true))
            Q_EMIT finished();
        return;
    }
    m_sending = m_waiting.dequeue();
    m_service->transcribe(m_sending->path, m_provider, m_apiKey, m_language, m_text,
                          queuedEventHandler(this, &LiveProviderParts::handleEvent), m_speakers);
}

void LiveProviderParts::handleEvent(const TranscriptionEvent& event) {
    if (!event.isFinal() || !m_sending)
        return;
    const Part part = *std::exchange(m_sending, std::nullopt);
    const auto* failure = std::get_if<TranscriptionEvent::Failure>(&event.value);
    // A part with nothing said in it is no failure; any other keeps the part.
    if (failure && failure->error != ExternalError::noSegments().toEngineError()) {
        m_failedParts.append(part);
        Q_EMIT partFailed(
            QStringLiteral("The recording from %1 s to %2 s could not be transcribed: %3")
                .arg(qRound(part.start))
                .arg(qRound(part.start + part.seconds))
                .arg(failure->error.description));
        return sendNext();
    }
    WorkFiles::remove(part.path);
    if (const auto* success = std::get_if<TranscriptionEvent::Success>(&event.value)) {
        QList<TranscriptSegment> segments = success->segments;
        for (TranscriptSegment& segment : segments) {
            segment.startTime += part.start;
            segment.endTime += part.start;
            m_text += (m_text.isEmpty() ? QString() : QStringLiteral(" ")) + segment.text;
        }
        Q_EMIT utteranceRecognized(segments);
    }
    sendNext();
}

} // namespace vocalith
