#pragma once

#include "core/TranscriptSegment.h"
#include "core/TranscriptionLanguage.h"
#include "providers/TranscriptionEngine.h"
#include "transcription/UploadPreparation.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <span>

namespace vocalith {

class FlacRecorder;
class LiveEngine;
class MicrophoneCapture;

// One recording from a microphone, transcribed as it is spoken (on the device, or by a
// provider in parts cut at pauses) and kept as FLAC in the cache folder. Lives on the
// main thread.
class LiveTranscription final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveTranscription)

    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isFinishing READ isFinishing NOTIFY isFinishingChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(double level READ level NOTIFY levelChanged)
    Q_PROPERTY(QString partialText READ partialText NOTIFY partialTextChanged)
    Q_PROPERTY(double secondsBehind READ secondsBehind NOTIFY secondsBehindChanged)

public:
    explicit LiveTranscription(QObject* parent = nullptr);
    ~LiveTranscription() override;

    // A recording that a crash interrupted, made complete and named as finished ones
    // are, so each is handed out once.
    static std::optional<QString> takeInterruptedRecording();

    // Starts hearing the device; false with the reason in errorMessage(). apiKey is the
    // provider's, for a provider engine.
    bool start(const QAudioDevice& device, const TranscriptionEngine& engine,
               TranscriptionLanguage language, const QString& apiKey = {});
    // Ends the recording; finished() follows once the words heard are recognised.
    void stop();

    bool isRecording() const { return m_isRecording; }
    // Stopped, and the last words still being recognised.
    bool isFinishing() const { return m_isFinishing; }
    // Seconds of audio heard so far.
    double elapsed() const { return m_elapsed; }
    // The loudness of the last moment, 0 (silence) to 1 (full scale).
    double level() const { return m_level; }
    QString partialText() const { return m_partialText; }
    double secondsBehind() const { return m_secondsBehind; }
    // The words of the utterances that ended, one segment per word.
    const QList<TranscriptSegment>& segments() const { return m_segments; }
    QString recordingPath() const { return m_recordingPath; }
    // Why the recording could not start, why it ended early, or why part of it could
    // not be transcribed.
    QString errorMessage() const { return m_errorMessage; }
    // The parts a provider failed on, to be sent again; their files are the caller's.
    QList<UploadPreparation::Part> takeFailedParts();

Q_SIGNALS:
    void isRecordingChanged();
    void isFinishingChanged();
    void elapsedChanged();
    void levelChanged();
    void partialTextChanged();
    void secondsBehindChanged();
    void utteranceRecognized(const QList<vocalith::TranscriptSegment>& words);
    // The recording is closed and every word heard recognised: segments() is complete.
    void finished();

private:
    void hear(std::span<const short> samples);
    void endRecording(const QString& error);
    void applyUtterance(const QList<TranscriptSegment>& words);
    void setPartialText(const QString& text);
    // Ends the recording with the error, from the event loop.
    void fail(const QString& message);

    std::unique_ptr<MicrophoneCapture> m_capture;
    std::unique_ptr<FlacRecorder> m_recorder;
    std::unique_ptr<LiveEngine> m_engine;
    QTimer m_statusTimer;
    bool m_isRecording = false;
    bool m_isFinishing = false;
    bool m_isEnding = false; // the capture hands over its last samples
    bool m_writeFailed = false;
    qint64 m_samples = 0;
    double m_elapsed = 0.0;
    double m_level = 0.0;
    double m_secondsBehind = 0.0;
    QString m_partialText;
    QList<TranscriptSegment> m_segments;
    QString m_recordingPath;
    QString m_errorMessage;
};

} // namespace vocalith
