#pragma once

#include "core/TranscriptSegment.h"
#include "transcription/PocketSphinxDecoder.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace vocalith {

// Recognises a live stream of 16 kHz mono samples on a thread of its own, one
// utterance per stretch of speech between pauses of half a second. Audio given while
// the decoder is busy waits in a queue; none is dropped. Signals come from the worker.
class LiveRecognizer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveRecognizer)

public:
    static constexpr int sampleRate = 16000;

    explicit LiveRecognizer(const PocketSphinxDecoder::Model& model, QObject* parent = nullptr);
    // Stops at once; what was not recognised is dropped.
    ~LiveRecognizer() override;

    // Any thread, in order.
    void feed(std::span<const short> samples);
    // No more audio: the queue is recognised to its end, then finished() follows.
    void finish();
    // How much audio waits for the decoder.
    double secondsBehind() const;

Q_SIGNALS:
    // The words of the utterance still being heard, at most five times a second.
    void partialText(const QString& text);
    // The words of an utterance that ended, one segment per word, timed from the
    // stream's start.
    void utteranceRecognized(const QList<vocalith::TranscriptSegment>& words);
    void failed(const QString& message);
    void finished();

private:
    void run();
    void recognize(std::span<const short> samples);
    void endUtterance();

    PocketSphinxDecoder::Model m_model;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::vector<short>> m_queue;
    bool m_finishing = false;
    bool m_stopping = false;
    std::atomic<std::size_t> m_queued{0};

    // The worker's own.
    std::unique_ptr<PocketSphinxDecoder> m_decoder;
    std::vector<short> m_preRoll;      // the quiet just before speech, up to the margin
    std::vector<short> m_partialFrame; // the start of a 10 ms frame, until the rest comes
    std::size_t m_frame = 0;           // 10 ms frames heard
    std::size_t m_utteranceStart = 0;
    std::size_t m_loudFrames = 0;
    QString m_lastPartial;
    std::chrono::steady_clock::time_point m_lastPartialTime;

    std::thread m_worker; // last: starts once everything it uses exists
};

} // namespace vocalith
