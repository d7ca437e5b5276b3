#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace vocalith {

// How speech is told from pauses, in 10 ms frames.
namespace speech {
inline constexpr int framesPerSecond = 100;
// Louder than the quietest tenth by this much is sound worth recognising.
inline constexpr double soundAboveFloorDb = 8.0;
inline constexpr std::size_t shortestPause = 50; // frames
inline constexpr std::size_t margin = 20;        // frames kept on either side: word edges are soft
inline constexpr std::size_t shortestSound = 10; // frames; a click is not speech

// A frame's loudness in dB above digital silence.
double frameLevel(std::span<const short> frame);
} // namespace speech

// A stretch of samples, [begin, end).
struct SampleSpan {
    std::size_t begin = 0;
    std::size_t end = 0;

    bool operator==(const SampleSpan&) const = default;
};

// The stretches of a recording worth recognising: what lies between pauses of at least
// half a second, each with a little of the quiet around it. Quiet is judged against the
// recording's own quietest tenth, so steady background noise counts as quiet; where
// nothing stands out from it, the whole recording is one stretch. Spans start and end
// on 10 ms frames.
std::vector<SampleSpan> speechSpans(std::span<const short> samples, int sampleRate);

// The middle of the quietest 0.2 s of samples[from, to), on a 10 ms frame: where a long
// recording can be cut without cutting a word.
std::size_t quietestMoment(std::span<const short> samples, int sampleRate, std::size_t from,
                           std::size_t to);

} // namespace vocalith
