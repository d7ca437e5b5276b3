#include "PauseDetector.h"

#include "transcription/SpeechSpans.h"

#include <algorithm>

namespace vocalith {

double PauseDetector::floorDb() const {
    // The frame at the tenth of the sorted levels, as speechSpans() takes it.
    const std::size_t rank = m_recent.size() / 10;
    std::size_t seen = 0;
    for (std::size_t bin = 0; bin < bins; ++bin) {
        seen += std::size_t(m_histogram[bin]);
        if (seen > rank)
            return double(bin) / binsPerDb;
    }
    return 0.0;
}

PauseDetector::Change PauseDetector::addFrame(std::span<const short> frame) {
    const double level = speech::frameLevel(frame);
    const std::size_t bin = std::min(bins - 1, std::size_t(level * binsPerDb));
    ++m_histogram[bin];
    m_recent.push_back(bin);
    if (m_recent.size() > window) {
        --m_histogram[m_recent.front()];
        m_recent.pop_front();
    }
    // The floor's bin starts up to half a dB below the level it stands for.
    const bool loud = level >= floorDb() + 1.0 / binsPerDb + speech::soundAboveFloorDb;
    if (loud) {
        m_quietFrames = 0;
        ++m_loudFrames;
        if (!m_inSpeech) {
            m_inSpeech = true;
            m_loudFrames = 1;
            return Change::speechStarted;
        }
        return Change::none;
    }
    if (m_inSpeech && ++m_quietFrames >= speech::shortestPause) {
        m_inSpeech = false;
        return Change::speechEnded;
    }
    return Change::none;
}

} // namespace vocalith
