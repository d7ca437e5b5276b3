#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <span>

namespace vocalith {

// Decodes the first audio stream of any media file into a 16 kHz mono 16-bit PCM
// WAVE work file, streaming, so memory does not grow with the file's length.
namespace AudioConverter {

constexpr int sampleRate = 16000;

struct MonoStream {
    int sampleRate = 0;
    double duration = 0.0; // seconds, 0 when the file does not say
};
// Takes each block of decoded samples; an error text stops the decoding with it.
using SampleConsumer =
    std::function<std::optional<QString>(const MonoStream&, std::span<const short>)>;

// Decodes the first audio stream of a media file as 16-bit mono at `sampleRate` (the
// file's own when 0), a block at a time. Absent on success, otherwise what went wrong;
// a set stop flag ends it early with a failure.
std::optional<QString> decodeMono(const QString& source, int sampleRate,
                                  const SampleConsumer& consume,
                                  const std::atomic<bool>* stop = nullptr);

// Absent on success; otherwise the description of what went wrong. A set stop flag
// ends the conversion early with a failure.
std::optional<QString> convertAudio(const QString& source, const QString& destination,
                                    const std::atomic<bool>* stop = nullptr);

} // namespace AudioConverter

} // namespace vocalith
