#include "LiveRecognizer.h"

#include "core/TextTrimming.h"
#include "transcription/PauseDetector.h"
#include "transcription/SpeechSpans.h"

#include <limits>
#include <utility>

namespace vocalith {

namespace {

constexpr std::size_t frameLength = LiveRecognizer::sampleRate / speech::framesPerSecond;
constexpr std::size_t block = LiveRecognizer::sampleRate / 10; // fed 0.1 s at a time
// An utterance without a pause is cut here, so its words still come in time.
constexpr std::size_t longestUtterance = 30 * speech::framesPerSecond;
constexpr auto partialInterval = std::chrono::milliseconds(200);

} // namespace

LiveRecognizer::LiveRecognizer(const PocketSphinxDecoder::Model& model, QObject* parent)
    : LiveEngine(parent)
    , m_model(model)
    , m_writtenForm(WrittenForm::isEnabled())
    , m_worker([this] { run(); }) {
}

LiveRecognizer::~LiveRecognizer() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void LiveRecognizer::feed(std::span<const short> samples) {
    if (samples.empty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.emplace_back(samples.begin(), samples.end());
    }
    m_queued += samples.size();
    m_wake.notify_all();
}

void LiveRecognizer::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_all();
}

double LiveRecognizer::secondsBehind() const {
    return double(m_queued.load()) / sampleRate;
}

void LiveRecognizer::run() {
    if (m_writtenForm)
        WordList::system(); // read while the decoder loads
    m_decoder = PocketSphinxDecoder::load(m_model, [this] {
        const std::lock_guard lock(m_mutex);
        return m_stopping;
    });
    if (!m_decoder) {
        std::unique_lock lock(m_mutex);
        if (m_stopping)
            return;
        Q_EMIT failed(QStringLiteral("The PocketSphinx model could not be loaded from ") +
                      m_model.acousticModel);
        m_wake.wait(lock, [this] { return m_stopping || m_finishing; });
        if (!m_stopping)
            Q_EMIT finished();
        return;
    }
    if (m_writtenForm)
        m_writer.emplace(WordList::system().get());
    PauseDetector detector;
    for (;;) {
        std::vector<short> samples;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_finishing || !m_queue.empty(); });
            if (m_stopping)
                return;
            if (m_queue.empty()) { // finishing, and everything heard is recognised
                lock.unlock();
                endUtterance(std::numeric_limits<double>::infinity());
                Q_EMIT finished();
                return;
            }
            samples = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // Frames are judged whole; a partial one waits for the rest.
        std::vector<short> input = std::exchange(m_partialFrame, {});
        input.insert(input.end(), samples.begin(), samples.end());
        const std::size_t whole = input.size() - input.size() % frameLength;
        std::vector<short> rest(input.begin() + std::ptrdiff_t(whole), input.end());
        std::vector<short> speech;
        for (std::size_t at = 0; at < whole; at += frameLength, ++m_frame) {
            const std::span frame(input.data() + at, frameLength);
            const PauseDetector::Change change = detector.addFrame(frame);
            if (change == PauseDetector::Change::speechStarted) {
                m_utteranceStart = m_frame - m_preRoll.size() / frameLength;
                m_decoder->startUtterance();
                m_decoder->process(m_preRoll);
                m_preRoll.clear();
                m_loudFrames = 0;
            }
            if (m_decoder->isUtteranceOpen()) {
                speech.insert(speech.end(), frame.begin(), frame.end());
                m_loudFrames = detector.loudFrames();
                const bool tooLong = m_frame + 1 - m_utteranceStart >= longestUtterance;
                if (change == PauseDetector::Change::speechEnded || tooLong ||
                    speech.size() >= block) {
                    recognize(speech);
                    speech.clear();
                }
                if (change == PauseDetector::Change::speechEnded || tooLong) {
                    // The detector ends speech after exactly the shortest pause.
                    endUtterance(tooLong ? 0.0
                                         : double(speech::shortestPause) / speech::framesPerSecond);
                    if (tooLong && detector.inSpeech()) { // goes on in a new utterance
                        m_utteranceStart = m_frame + 1;
                        m_decoder->startUtterance();
                    }
                }
            } else {
                m_preRoll.insert(m_preRoll.end(), frame.begin(), frame.end());
                const std::size_t keep = speech::margin * frameLength;
                if (m_preRoll.size() > keep)
                    m_preRoll.erase(m_preRoll.begin(), m_preRoll.end() - std::ptrdiff_t(keep));
            }
        }
        recognize(speech);
        m_partialFrame = std::move(rest);
        m_queued -= samples.size();
    }
}

void LiveRecognizer::recognize(std::span<const short> samples) {
    if (samples.empty() || !m_decoder->isUtteranceOpen())
        return;
    m_decoder->process(samples);
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastPartialTime < partialInterval)
        return;
    const QString text = m_decoder->partialText();
    if (text != m_lastPartial) {
        m_lastPartial = text;
        m_lastPartialTime = now;
        Q_EMIT partialText(text);
    }
}

void LiveRecognizer::endUtterance(double pauseAfter) {
    if (!m_decoder->isUtteranceOpen())
        return;
    const QList<RecognizedWord> words = m_decoder->endUtterance(int(m_utteranceStart));
    m_lastPartial.clear();
    Q_EMIT partialText({});
    // A stretch this short was a click or a cough, as for recordings.
    if (m_loudFrames < speech::shortestSound)
        return;
    QList<TranscriptSegment> segments;
    for (const RecognizedWord& word : words) {
        const QString text = trimmedWhiteSpace(word.text);
        if (!text.isEmpty()) {
            // One segment a word; the word inside tells review it may group it.
            const double end = word.timestamp + word.duration;
            segments.append({.text = text,
                             .startTime = word.timestamp,
                             .endTime = end,
                             .confidence = word.confidence,
                             .words = {{text, word.timestamp, end, word.confidence}}});
        }
    }
    if (m_writer)
        m_writer->rewriteUtterance(std::span(segments.data(), std::size_t(segments.size())),
                                   pauseAfter);
    if (!segments.isEmpty())
        Q_EMIT utteranceRecognized(segments);
}

} // namespace vocalith
