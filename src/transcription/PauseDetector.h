#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <span>

namespace vocalith {

// Follows a live stream of 10 ms frames and tells where speech starts and where a pause
// ends it, judged as speechSpans() judges a whole recording, against the quietest tenth
// of the last 20 s heard.
class PauseDetector {
public:
    enum class Change { none, speechStarted, speechEnded };

    Change addFrame(std::span<const short> frame);
    bool inSpeech() const { return m_inSpeech; }
    // Loud frames since speech last started: a stretch with few is a click.
    std::size_t loudFrames() const { return m_loudFrames; }

private:
    static constexpr int binsPerDb = 2;
    static constexpr std::size_t bins = 92 * binsPerDb; // 16-bit samples stay below 91 dB
    static constexpr std::size_t window = 2000;         // frames

    double floorDb() const;

    std::array<int, bins> m_histogram{};
    std::deque<std::size_t> m_recent; // the bins of the window's frames
    bool m_inSpeech = false;
    std::size_t m_loudFrames = 0;
    std::size_t m_quietFrames = 0;
};

} // namespace vocalith
