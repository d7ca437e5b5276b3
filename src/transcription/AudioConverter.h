#pragma once

#include <QString>

#include <atomic>
#include <optional>

namespace vocalith {

// Decodes the first audio stream of any media file into a 16 kHz mono 16-bit PCM
// WAVE work file, streaming, so memory does not grow with the file's length.
namespace AudioConverter {

constexpr int sampleRate = 16000;

// Absent on success; otherwise the description of what went wrong. A set stop flag
// ends the conversion early with a failure.
std::optional<QString> convertAudio(const QString& source, const QString& destination,
                                    const std::atomic<bool>* stop = nullptr);

} // namespace AudioConverter

} // namespace vocalith
