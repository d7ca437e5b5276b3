#pragma once

#include <QAudioFormat>
#include <QByteArray>

#include <memory>
#include <span>
#include <vector>

struct SwrContext;

namespace vocalith {

// Audio as a device gives it (any rate, channels and sample type Qt knows) to 16 kHz
// mono 16-bit samples.
class SampleResampler {
public:
    static constexpr int outputRate = 16000;

    // nullptr when the format cannot be read.
    static std::unique_ptr<SampleResampler> create(const QAudioFormat& input);
    ~SampleResampler();
    SampleResampler(const SampleResampler&) = delete;
    SampleResampler& operator=(const SampleResampler&) = delete;

    // The samples of the whole frames in data; valid until the next call.
    std::span<const short> convert(const QByteArray& data);

private:
    SampleResampler() = default;

    SwrContext* m_context = nullptr;
    int m_bytesPerFrame = 0;
    std::vector<short> m_output;
};

} // namespace vocalith
