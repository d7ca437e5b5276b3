#pragma once

#include "live/LiveEngine.h"
#include "transcription/PocketSphinxDecoder.h"
#include "transcription/WrittenForm.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace vocalith {

// Recognises a live stream on the device, on a thread of its own, one utterance per
// stretch of speech between pauses of half a second. Audio given while the decoder is
// busy waits in a queue; none is dropped. Signals come from the worker, partial text at
// most five times a second.
class LiveRecognizer final : public LiveEngine {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveRecognizer)

public:
    explicit LiveRecognizer(const PocketSphinxDecoder::Model& model, QObject* parent = nullptr);
    // Stops at once; what was not recognised is dropped.
    ~LiveRecognizer() override;

    void feed(std::span<const short> samples) override;
    void finish() override;
    double secondsBehind() const override;

private:
    void run();
    void recognize(std::span<const short> samples);
    // pauseAfter: the quiet that ended it, in seconds (0 where it was cut without one).
    void endUtterance(double pauseAfter);

    PocketSphinxDecoder::Model m_model;
    const bool m_writtenForm; // read once, on the thread that made the recogniser
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
    // Sentences run on from one utterance to the next.
    std::optional<WrittenForm> m_writer;
    QString m_lastPartial;
    std::chrono::steady_clock::time_point m_lastPartialTime;

    std::thread m_worker; // last: starts once everything it uses exists
};

} // namespace vocalith
