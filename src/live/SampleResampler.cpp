#include "SampleResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace vocalith {

namespace {

AVSampleFormat avFormat(QAudioFormat::SampleFormat format) {
    switch (format) {
    case QAudioFormat::UInt8:
        return AV_SAMPLE_FMT_U8;
    case QAudioFormat::Int16:
        return AV_SAMPLE_FMT_S16;
    case QAudioFormat::Int32:
        return AV_SAMPLE_FMT_S32;
    case QAudioFormat::Float:
        return AV_SAMPLE_FMT_FLT;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

} // namespace

std::unique_ptr<SampleResampler> SampleResampler::create(const QAudioFormat& input) {
    const AVSampleFormat sampleFormat = avFormat(input.sampleFormat());
    if (sampleFormat == AV_SAMPLE_FMT_NONE || input.channelCount() < 1 || input.sampleRate() < 1)
        return nullptr;
    std::unique_ptr<SampleResampler> resampler(new SampleResampler);
    AVChannelLayout in{};
    av_channel_layout_default(&in, input.channelCount());
    AVChannelLayout out = AV_CHANNEL_LAYOUT_MONO;
    if (swr_alloc_set_opts2(&resampler->m_context, &out, AV_SAMPLE_FMT_S16, outputRate, &in,
                            sampleFormat, input.sampleRate(), 0, nullptr) < 0 ||
        swr_init(resampler->m_context) < 0)
        return nullptr;
    resampler->m_bytesPerFrame = input.bytesPerFrame();
    return resampler;
}

SampleResampler::~SampleResampler() {
    swr_free(&m_context);
}

std::span<const short> SampleResampler::convert(const QByteArray& data) {
    const int frames = int(data.size()) / m_bytesPerFrame;
    m_output.resize(size_t(swr_get_out_samples(m_context, frames)));
    const auto* in = reinterpret_cast<const uint8_t*>(data.constData());
    auto* out = reinterpret_cast<uint8_t*>(m_output.data());
    const int made = swr_convert(m_context, &out, int(m_output.size()), &in, frames);
    return std::span<const short>(m_output.data(), size_t(std::max(made, 0)));
}

} // namespace vocalith
