#include "AudioConverter.h"

#include "transcription/SoundFile.h"
#include "transcription/TranscriptionError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <vector>

namespace vocalith::AudioConverter {

namespace {

QString ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

// Errors of the file system keep their own text; anything else FFmpeg could not
// make sense of is simply not audio.
QString openError(int code) {
    for (int systemError : {ENOENT, EACCES, EPERM, EISDIR, EIO, ENOMEM}) {
        if (code == AVERROR(systemError))
            return ffmpegError(code);
    }
    return TranscriptionError::invalidAudioFile().errorDescription();
}

double durationSeconds(const AVFormatContext& format, const AVStream* stream) {
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0)
        return static_cast<double>(format.duration) / AV_TIME_BASE;
    if (stream && stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    return 0.0;
}

// Decoded, resampled and written, one frame at a time.
class Pipeline {
public:
    Pipeline(AVCodecContext& decoder, SwrContext& resampler, SNDFILE& output)
        : m_decoder(decoder)
        , m_resampler(resampler)
        , m_output(output)
        , m_frame(av_frame_alloc()) {}

    // Feeds one packet (nullptr flushes); absent on success.
    std::optional<QString> decode(const AVPacket* packet) {
        int result = avcodec_send_packet(&m_decoder, packet);
        // A damaged packet is skipped, as players do; the rest still decodes.
        if (result == AVERROR_INVALIDDATA)
            return std::nullopt;
        if (result < 0 && result != AVERROR_EOF)
            return ffmpegError(result);
        for (;;) {
            result = avcodec_receive_frame(&m_decoder, m_frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return std::nullopt;
            if (result == AVERROR_INVALIDDATA)
                continue;
            if (result < 0)
                return ffmpegError(result);
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
            return ffmpegError(capacity);
        m_samples.resize(static_cast<size_t>(capacity) + 1);
        auto* out = reinterpret_cast<uint8_t*>(m_samples.data());
        const int converted = swr_convert(&m_resampler, &out, capacity + 1, input, inputSamples);
        if (converted < 0)
            return ffmpegError(converted);
        if (sf_write_short(&m_output, m_samples.data(), converted) != converted)
            return QString::fromUtf8(sf_strerror(&m_output));
        return std::nullopt;
    }

    AVCodecContext& m_decoder;
    SwrContext& m_resampler;
    SNDFILE& m_output;
    std::unique_ptr<AVFrame, FrameFreer> m_frame;
    std::vector<short> m_samples;
};

} // namespace

std::optional<QString> convertAudio(const QString& source, const QString& destination,
                                    const std::atomic<bool>* stop) {
    av_log_set_level(AV_LOG_QUIET); // the application writes no log of its own

    // Only local files: a playlist saved under a media name must not reach the network,
    // and a name with a colon must not be read as a protocol.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    int result = avformat_open_input(
        &opened, (QStringLiteral("file:") + source).toUtf8().constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        return openError(result);
    std::unique_ptr<AVFormatContext, InputCloser> format(opened);
    result = avformat_find_stream_info(format.get(), nullptr);
    if (result < 0)
        return openError(result);

    // The first audio stream; an MP3's cover picture is a video stream and is ignored.
    AVStream* stream = nullptr;
    for (unsigned i = 0; i < format->nb_streams && !stream; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            stream = format->streams[i];
    }
    if (durationSeconds(*format, stream) <= 0.0)
        return TranscriptionError::invalidAudioFile().errorDescription();
    if (!stream)
        return TranscriptionError::noAudioTrack().errorDescription();

    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return ffmpegError(AVERROR_DECODER_NOT_FOUND);
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return ffmpegError(AVERROR(ENOMEM));
    if ((result = avcodec_parameters_to_context(decoder.get(), stream->codecpar)) < 0 ||
        (result = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
        return ffmpegError(result);
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

    SwrContext* allocated = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    result =
        swr_alloc_set_opts2(&allocated, &mono, AV_SAMPLE_FMT_S16, sampleRate, &decoder->ch_layout,
                            decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(allocated);
    if (result < 0 || (result = swr_init(resampler.get())) < 0)
        return ffmpegError(result);

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile output(sf_open(destination.toUtf8().constData(), SFM_WRITE, &info));
    if (!output)
        return QString::fromUtf8(sf_strerror(nullptr));

    Pipeline pipeline(*decoder, *resampler, *output);
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while ((result = av_read_frame(format.get(), packet.get())) >= 0) {
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
        return ffmpegError(result);
    if (std::optional<QString> error = pipeline.decode(nullptr))
        return error;
    if (std::optional<QString> error = pipeline.finish())
        return error;
    if (sf_close(output.release()) != 0)
        return TranscriptionError::conversionFailed().errorDescription();
    return std::nullopt;
}

} // namespace vocalith::AudioConverter
