#include "LiveTranscription.h"

#include "live/FlacRecorder.h"
#include "live/LiveProviderParts.h"
#include "live/LiveRecognizer.h"
#include "live/MicrophoneCapture.h"
#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionService.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cmath>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vocalith {

namespace {

const QString unfinished = QStringLiteral(".part");

// The loudness of samples on a 60 dB scale, 0 to 1.
double meterLevel(std::span<const short> samples) {
    if (samples.empty())
        return 0.0;
    double energy = 0.0;
    for (const short sample : samples)
        energy += double(sample) * sample;
    const double rms = std::sqrt(energy / double(samples.size())) / 32768.0;
    const double db = 20.0 * std::log10(std::max(rms, 1e-6));
    return std::clamp((db + 60.0) / 60.0, 0.0, 1.0);
}

} // namespace

LiveTranscription::LiveTranscription(QObject* parent)
    : QObject(parent) {
    m_statusTimer.setInterval(100);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] {
        const double behind = m_engine ? m_engine->secondsBehind() : 0.0;
        if (behind != m_secondsBehind) {
            m_secondsBehind = behind;
            Q_EMIT secondsBehindChanged();
        }
        const double elapsed = double(m_samples) / LiveEngine::sampleRate;
        if (elapsed != m_elapsed) {
            m_elapsed = elapsed;
            Q_EMIT elapsedChanged();
        }
    });
}

LiveTranscription::~LiveTranscription() {
    // Nothing they say while they stop may reach this object, which is half gone.
    for (QObject* part :
         {static_cast<QObject*>(m_capture.get()), static_cast<QObject*>(m_engine.get())})
        if (part)
            part->disconnect(this);
    if (m_capture)
        m_capture->stop();
    if (m_recorder)
        m_recorder->close();
}

std::optional<QString> LiveTranscription::takeInterruptedRecording() {
    const QDir directory(TranscriptionService::recordingsDirectory());
    const QStringList names =
        directory.entryList({QLatin1Char('*') + unfinished}, QDir::Files, QDir::Time);
    for (const QString& name : names) {
        const QString path = directory.filePath(name);
        // One being recorded, here or by another process, is locked by its recorder; the
        // lock taken here keeps another window from taking the same one meanwhile.
        const int lock = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (lock < 0)
            continue;
        std::optional<QString> kept;
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            QString error;
            // Offered once: what could not be read is of no use either.
            if (FlacRecorder::seal(path, error) &&
                QFile::rename(path, path.chopped(unfinished.size())))
                kept = path.chopped(unfinished.size());
            else
                QFile::remove(path);
        }
        ::close(lock);
        if (kept)
            return kept;
    }
    return std::nullopt;
}

bool LiveTranscription::start(const QAudioDevice& device, const TranscriptionEngine& engine,
                              TranscriptionLanguage language, const QString& apiKey) {
    if (m_isRecording || m_isFinishing)
        return false;
    m_errorMessage.clear();
    m_segments.clear();
    m_samples = 0;
    m_writeFailed = false;
    m_engine.reset();

    std::optional<PocketSphinxDecoder::Model> model;
    if (engine.isOnDevice()) {
        const PocketSphinxRecognizerProvider models;
        const QString locale = language == TranscriptionLanguage::autoDetect
                                   ? models.currentLocaleIdentifier()
                                   : rawValue(language);
        model = PocketSphinxDecoder::installedModel(
            PocketSphinxRecognizerProvider::defaultModelRoot, locale);
        if (!model) {
            m_errorMessage =
                TranscriptionError::unsupportedLanguage(displayName(language)).errorDescription();
            return false;
        }
    }

    QDir().mkpath(TranscriptionService::recordingsDirectory());
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QString path = QDir(TranscriptionService::recordingsDirectory())
                       .filePath(QStringLiteral("Recording %1.flac").arg(stamp));
    for (int n = 2; QFileInfo::exists(path) || QFileInfo::exists(path + unfinished); ++n)
        path = QDir(TranscriptionService::recordingsDirectory())
                   .filePath(QStringLiteral("Recording %1 (%2).flac").arg(stamp).arg(n));
    QString error;
    m_recorder = FlacRecorder::create(path + unfinished, LiveEngine::sampleRate, error);
    if (!m_recorder) {
        m_errorMessage = QStringLiteral("The recording could not be made in %1: %2")
                             .arg(TranscriptionService::recordingsDirectory(), error);
        return false;
    }
    m_recordingPath = path;

    if (model)
        m_engine = std::make_unique<LiveRecognizer>(*model);
    else
        m_engine = std::make_unique<LiveProviderParts>(
            *engine.provider(), apiKey, language, TranscriptionService::defaultWorkDirectory());
    connect(m_engine.get(), &LiveEngine::partialText, this, &LiveTranscription::setPartialText);
    connect(m_engine.get(), &LiveEngine::utteranceRecognized, this,
            &LiveTranscription::applyUtterance);
    // Failures come from inside feed(), which runs inside the capture: they end the
    // recording from the event loop, and the end follows them there, in order.
    connect(
        m_engine.get(), &LiveEngine::failed, this,
        [this](const QString& message) { endRecording(message); }, Qt::QueuedConnection);
    connect(
        m_engine.get(), &LiveEngine::finished, this,
        [this] {
            m_isFinishing = false;
            Q_EMIT isFinishingChanged();
            Q_EMIT finished();
        },
        Qt::QueuedConnection);
    if (auto* parts = qobject_cast<LiveProviderParts*>(m_engine.get()))
        connect(parts, &LiveProviderParts::partFailed, this, [this](const QString& message) {
            if (m_errorMessage.isEmpty())
                m_errorMessage = message;
        });

    m_capture = std::make_unique<MicrophoneCapture>();
    connect(m_capture.get(), &MicrophoneCapture::failed, this,
            [this](const QString& message) { endRecording(message); });
    if (!m_capture->start(device, [this](std::span<const short> samples) { hear(samples); })) {
        m_errorMessage = m_capture->errorString();
        m_capture.reset();
        m_engine.reset();
        m_recorder->close();
        m_recorder.reset();
        QFile::remove(path + unfinished);
        return false;
    }
    m_isRecording = true;
    m_statusTimer.start();
    Q_EMIT isRecordingChanged();
    return true;
}

void LiveTranscription::hear(std::span<const short> samples) {
    if (!m_isRecording)
        return;
    m_engine->feed(samples);
    m_samples += qint64(samples.size());
    const double level = meterLevel(samples);
    if (level != m_level) {
        m_level = level;
        Q_EMIT levelChanged();
    }
    if (!m_writeFailed && !m_recorder->write(samples)) {
        m_writeFailed = true;
        fail(QStringLiteral("The recording could not be written (%1); what was heard until "
                            "then is kept.")
                 .arg(m_recorder->errorString()));
    }
}

void LiveTranscription::stop() {
    endRecording({});
}

void LiveTranscription::endRecording(const QString& error) {
    if (!error.isEmpty())
        m_errorMessage = error;
    if (!m_isRecording || m_isEnding)
        return;
    m_isEnding = true;
    m_capture->stop(); // its last samples still come to hear()
    m_capture->disconnect(this);
    m_capture.release()->deleteLater(); // this may run inside its own signal
    m_isRecording = false;
    m_isEnding = false;
    if (!m_recorder->close() && m_errorMessage.isEmpty())
        m_errorMessage =
            QStringLiteral("The recording could not be finished: ") + m_recorder->errorString();
    QFile::rename(m_recordingPath + unfinished, m_recordingPath);
    m_recorder.reset(); // named as finished before its lock goes
    m_statusTimer.stop();
    m_elapsed = double(m_samples) / LiveEngine::sampleRate;
    m_level = 0.0;
    Q_EMIT elapsedChanged();
    Q_EMIT levelChanged();
    m_isFinishing = true;
    Q_EMIT isRecordingChanged();
    Q_EMIT isFinishingChanged();
    m_engine->finish();
}

void LiveTranscription::applyUtterance(const QList<TranscriptSegment>& words) {
    m_segments.append(words);
    Q_EMIT utteranceRecognized(words);
}

void LiveTranscription::setPartialText(const QString& text) {
    if (text == m_partialText)
        return;
    m_partialText = text;
    Q_EMIT partialTextChanged();
}

void LiveTranscription::fail(const QString& message) {
    // The recording so far is kept; what the engine made of it comes with finished().
    // Never inside hear(): the capture, the recorder and the engine are still in use.
    QMetaObject::invokeMethod(
        this, [this, message] { endRecording(message); }, Qt::QueuedConnection);
}

QList<UploadPreparation::Part> LiveTranscription::takeFailedParts() {
    auto* parts = qobject_cast<LiveProviderParts*>(m_engine.get());
    return parts ? parts->takeFailedParts() : QList<UploadPreparation::Part>{};
}

} // namespace vocalith
