#include "SpeechSpans.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vocalith {

namespace {

using namespace speech;

// The mean energy of each 10 ms frame.
std::vector<double> frameEnergies(std::span<const short> samples, int sampleRate) {
    const std::size_t frameLength = std::size_t(sampleRate / framesPerSecond);
    const std::size_t frames = (samples.size() + frameLength - 1) / frameLength;
    std::vector<double> level(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const auto frame = samples.subspan(f * frameLength,
                                           std::min(frameLength, samples.size() - f * frameLength));
        double energy = 0.0;
        for (const short sample : frame)
            energy += double(sample) * sample;
        level[f] = energy / double(frame.size());
    }
    return level;
}

} // namespace

double speech::frameLevel(std::span<const short> frame) {
    double energy = 0.0;
    for (const short sample : frame)
        energy += double(sample) * sample;
    return 10.0 * std::log10(energy / double(std::max<std::size_t>(frame.size(), 1)) + 1.0);
}

std::size_t quietestMoment(std::span<const short> samples, int sampleRate, std::size_t from,
                           std::size_t to) {
    const std::size_t frameLength = std::size_t(sampleRate / framesPerSecond);
    to = std::min(to, samples.size());
    if (from >= to || frameLength == 0)
        return std::min(from, samples.size());
    const std::vector<double> energy = frameEnergies(samples.subspan(from, to - from), sampleRate);
    constexpr std::size_t window = 20; // frames: 0.2 s
    if (energy.size() <= window)
        return from + (to - from) / 2;
    double sum = std::accumulate(energy.cbegin(), energy.cbegin() + window, 0.0);
    double best = sum;
    std::size_t bestStart = 0;
    for (std::size_t f = window; f < energy.size(); ++f) {
        sum += energy[f] - energy[f - window];
        if (sum < best) {
            best = sum;
            bestStart = f - window + 1;
        }
    }
    return from + (bestStart + window / 2) * frameLength;
}

std::vector<SampleSpan> speechSpans(std::span<const short> samples, int sampleRate) {
    const std::size_t frameLength = std::size_t(sampleRate / framesPerSecond);
    std::vector<double> level = frameEnergies(samples, sampleRate);
    const std::size_t frames = level.size();
    if (frames == 0)
        return {};
    for (double& value : level) // in dB above digital silence
        value = 10.0 * std::log10(value + 1.0);
    std::vector<double> sorted = level;
    const auto tenth = sorted.begin() + std::ptrdiff_t(frames / 10);
    std::nth_element(sorted.begin(), tenth, sorted.end());
    const double threshold = *tenth + soundAboveFloorDb;

    std::vector<SampleSpan> spans; // in frames until the end
    std::size_t loudFrames = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        if (level[f] < threshold)
            continue;
        if (!spans.empty() && f - spans.back().end < shortestPause) {
            spans.back().end = f + 1;
        } else {
            if (!spans.empty() && loudFrames < shortestSound)
                spans.pop_back();
            spans.push_back({f, f + 1});
            loudFrames = 0;
        }
        ++loudFrames;
    }
    if (!spans.empty() && loudFrames < shortestSound)
        spans.pop_back();
    if (spans.empty()) // nothing stands out: no telling speech from quiet
        return {{0, samples.size()}};

    // Pauses are longer than both margins, so spans stay apart.
    for (SampleSpan& span : spans) {
        span.begin = (span.begin > margin ? span.begin - margin : 0) * frameLength;
        span.end = std::min((span.end + margin) * frameLength, samples.size());
    }
    return spans;
}

} // namespace vocalith
