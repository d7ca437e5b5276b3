#include "AudioConverter.h"

#include "transcription/FfmpegHandles.h"
#include "transcription/MediaInput.h"
#include "transcription/SoundFile.h"
#include "transcription/TranscriptionError.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <memory>
#include <span>
#include <vector>

namespace vocalith::AudioConverter {

namespace {

// Decoded and resampled, one frame at a time, and handed on.
class Pipeline {
public:
    Pipeline(AVCodecContext& decoder, SwrContext& resampler, const MonoStream& stream,
             const SampleConsumer& consume)
        : m_decoder(decoder)
        , m_resampler(resampler)
        , m_stream(stream)
        , m_consume(consume)
        , m_frame(av_frame_alloc()) {}

    // Feeds one packet (nullptr flushes); absent on success.
    std::optional<QString> decode(const AVPacket* packet) {
        int result = avcodec_send_packet(&m_decoder, packet);
        // A damaged packet is skipped, as players do; the rest still decodes.
        if (result == AVERROR_INVALIDDATA)
            return std::nullopt;
        if (result < 0 && result != AVERROR_EOF)
            return ffmpegErrorText(result);
        for (;;) {
            result = avcodec_receive_frame(&m_decoder, m_frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return std::nullopt;
            if (result == AVERROR_INVALIDDATA)
                continue;
            if (result < 0)
                return ffmpegErrorText(result);
            const std::optional<QString> error =
                write(const_cast<const uint8_t**>(m_frame->extended_data), m_frame->nb_samples);
            av_frame_unref(m_frame.get());
            if (error)
                return error;
        }
    }

    // Drains what the resampler still holds.
    std::optional<QString> finish() { return write(nullptr, 0); }

private:
    std::optional<QString> write(const uint8_t** input, int inputSamples) {
        const int capacity = swr_get_out_samples(&m_resampler, inputSamples);
        if (capacity < 0)
            return ffmpegErrorText(capacity);
        m_samples.resize(static_cast<size_t>(capacity) + 1);
        auto* out = reinterpret_cast<uint8_t*>(m_samples.data());
        const int converted = swr_convert(&m_resampler, &out, capacity + 1, input, inputSamples);
        if (converted < 0)
            return ffmpegErrorText(converted);
        return m_consume(m_stream, std::span<const short>(m_samples.data(), size_t(converted)));
    }

    AVCodecContext& m_decoder;
    SwrContext& m_resampler;
    const MonoStream& m_stream;
    const SampleConsumer& m_consume;
    Frame m_frame;
    std::vector<short> m_samples;
};

} // namespace

std::optional<QString> decodeMono(const QString& source, int rate, const SampleConsumer& consume,
                                  const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(source);
    if (const auto* error = std::get_if<QString>(&opened))
        return *error;
    MediaInput& input = std::get<MediaInput>(opened);
    AVStream* stream = input.audio;
    AVFormatContext* format = input.format.get();
    int result = 0;

    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return ffmpegErrorText(AVERROR_DECODER_NOT_FOUND);
    CodecContext decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return ffmpegErrorText(AVERROR(ENOMEM));
    if ((result = avcodec_parameters_to_context(decoder.get(), stream->codecpar)) < 0 ||
        (result = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
        return ffmpegErrorText(result);
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

    const MonoStream mono{rate > 0 ? rate : decoder->sample_rate,
                          format->duration > 0 ? double(format->duration) / AV_TIME_BASE : 0.0};
    SwrContext* allocated = nullptr;
    AVChannelLayout monoLayout = AV_CHANNEL_LAYOUT_MONO;
    result = swr_alloc_set_opts2(&allocated, &monoLayout, AV_SAMPLE_FMT_S16, mono.sampleRate,
                                 &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0,
                                 nullptr);
    Resampler resampler(allocated);
    if (result < 0 || (result = swr_init(resampler.get())) < 0)
        return ffmpegErrorText(result);

    Pipeline pipeline(*decoder, *resampler, mono, consume);
    Packet packet(av_packet_alloc());
    while ((result = av_read_frame(format, packet.get())) >= 0) {
        std::optional<QString> error;
        if (packet->stream_index == stream->index)
            error = pipeline.decode(packet.get());
        av_packet_unref(packet.get());
        if (error)
            return error;
        if (stop && stop->load())
            return TranscriptionError::conversionFailed().errorDescription();
    }
    // Only the end of the file ends the input: a read error must not pass for a
    // shorter recording.
    if (result != AVERROR_EOF)
        return ffmpegErrorText(result);
    if (std::optional<QString> error = pipeline.decode(nullptr))
        return error;
    return pipeline.finish();
}

std::optional<QString> convertAudio(const QString& source, const QString& destination,
                                    const std::atomic<bool>* stop) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    // Made once the source has given sound, so a file that is not audio leaves none.
    SoundFile output;
    const auto open = [&]() -> std::optional<QString> {
        if (!output)
            output.reset(sf_open(destination.toUtf8().constData(), SFM_WRITE, &info));
        if (!output)
            return QString::fromUtf8(sf_strerror(nullptr));
        return std::nullopt;
    };
    const auto write = [&](const MonoStream&,
                           std::span<const short> samples) -> std::optional<QString> {
        if (std::optional<QString> error = open())
            return error;
        const auto count = sf_count_t(samples.size());
        if (sf_write_short(output.get(), samples.data(), count) != count)
            return QString::fromUtf8(sf_strerror(output.get()));
        return std::nullopt;
    };
    if (std::optional<QString> error = decodeMono(source, sampleRate, write, stop))
        return error;
    if (std::optional<QString> error = open())
        return error;
    if (sf_close(output.release()) != 0)
        return TranscriptionError::conversionFailed().errorDescription();
    return std::nullopt;
}

} // namespace vocalith::AudioConverter
