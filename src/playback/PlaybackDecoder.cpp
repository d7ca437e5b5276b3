#include "PlaybackDecoder.h"

#include "transcription/FfmpegHandles.h"
#include "transcription/MediaInput.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace vocalith {

namespace {

struct GraphFreer {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};

} // namespace

struct PlaybackDecoder::State {
    MediaInput input;
    CodecContext codec;
    std::unique_ptr<AVFilterGraph, GraphFreer> graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    Packet packet{av_packet_alloc()};
    Frame decoded{av_frame_alloc()};
    Frame filtered{av_frame_alloc()};
    QByteArray pending;
    qint64 nextPts = 0; // for frames that carry no time
    bool inputDone = false;
    bool outputDone = true;

    bool buildGraph(double seconds, double tempo, double endSeconds);
    bool feed(AVFrame* frame);
};

bool PlaybackDecoder::State::buildGraph(double seconds, double tempo, double endSeconds) {
    graph.reset(avfilter_graph_alloc());
    if (!graph)
        return false;
    AVChannelLayout layout{};
    if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, codec->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&layout, &codec->ch_layout);
    char layoutName[64] = {};
    av_channel_layout_describe(&layout, layoutName, sizeof layoutName);
    av_channel_layout_uninit(&layout);
    const int rate = codec->sample_rate;
    const QByteArray sourceArguments =
        QStringLiteral("time_base=1/%1:sample_rate=%1:sample_fmt=%2:channel_layout=%3")
            .arg(rate)
            .arg(QString::fromLatin1(av_get_sample_fmt_name(codec->sample_fmt)),
                 QString::fromLatin1(layoutName))
            .toLatin1();
    // Times are counted in samples of the input, so the trim is exact to the sample.
    QString trim = QStringLiteral("atrim=start_pts=%1").arg(qint64(seconds * rate));
    if (endSeconds > seconds)
        trim += QStringLiteral(":end_pts=%1").arg(qint64(endSeconds * rate));
    const QByteArray chain =
        QStringLiteral("%1,asetpts=PTS-STARTPTS,atempo=%2,"
                       "aformat=sample_fmts=s16:sample_rates=%3:channel_layouts=stereo")
            .arg(trim)
            .arg(tempo, 0, 'f', 3)
            .arg(PlaybackDecoder::sampleRate)
            .toLatin1();
    if (avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), "in",
                                     sourceArguments.constData(), nullptr, graph.get()) < 0 ||
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                     nullptr, graph.get()) < 0)
        return false;
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    const bool parsed =
        avfilter_graph_parse_ptr(graph.get(), chain.constData(), &inputs, &outputs, nullptr) >= 0;
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return parsed && avfilter_graph_config(graph.get(), nullptr) >= 0;
}

bool PlaybackDecoder::State::feed(AVFrame* frame) {
    if (frame) {
        const AVStream* stream = input.audio;
        // Counted from the stream's start, as the transcriber counts: an MP3's first
        // frame carries the encoder's delay as its time.
        const qint64 origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            frame->pts = av_rescale_q(frame->best_effort_timestamp - origin, stream->time_base,
                                      AVRational{1, codec->sample_rate});
        else
            frame->pts = nextPts;
        nextPts = frame->pts + frame->nb_samples;
    }
    return av_buffersrc_add_frame(source, frame) >= 0;
}

PlaybackDecoder::PlaybackDecoder(std::unique_ptr<State> state)
    : d(std::move(state)) {
}

PlaybackDecoder::~PlaybackDecoder() = default;

std::variant<std::unique_ptr<PlaybackDecoder>, QString> PlaybackDecoder::open(const QString& path) {
    auto opened = MediaInput::open(path);
    if (auto* error = std::get_if<QString>(&opened))
        return *error;
    auto state = std::make_unique<State>();
    state->input = std::move(std::get<MediaInput>(opened));
    const AVCodecParameters* parameters = state->input.audio->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec)
        return QStringLiteral("This recording's sound cannot be decoded.");
    state->codec.reset(avcodec_alloc_context3(codec));
    if (!state->codec || avcodec_parameters_to_context(state->codec.get(), parameters) < 0 ||
        avcodec_open2(state->codec.get(), codec, nullptr) < 0)
        return QStringLiteral("This recording's sound cannot be decoded.");
    return std::unique_ptr<PlaybackDecoder>(new PlaybackDecoder(std::move(state)));
}

double PlaybackDecoder::duration() const {
    return d->input.format->duration > 0 ? double(d->input.format->duration) / AV_TIME_BASE : 0.0;
}

bool PlaybackDecoder::start(double seconds, double tempo, double endSeconds) {
    seconds = std::max(0.0, seconds);
    av_seek_frame(d->input.format.get(), -1, qint64(seconds * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(d->codec.get());
    d->pending.clear();
    d->nextPts = 0;
    d->inputDone = false;
    d->outputDone = !d->buildGraph(seconds, std::clamp(tempo, 0.5, 2.0), endSeconds);
    return !d->outputDone;
}

bool PlaybackDecoder::fill() {
    while (!d->outputDone) {
        const int got = av_buffersink_get_frame(d->sink, d->filtered.get());
        if (got >= 0) {
            d->pending.append(reinterpret_cast<const char*>(d->filtered->data[0]),
                              d->filtered->nb_samples * bytesPerFrame);
            av_frame_unref(d->filtered.get());
            return true;
        }
        if (got != AVERROR(EAGAIN) || d->inputDone) {
            d->outputDone = true;
            return false;
        }
        // The filters want more sound: decode the next packet of the audio stream.
        if (av_read_frame(d->input.format.get(), d->packet.get()) < 0) {
            avcodec_send_packet(d->codec.get(), nullptr);
            d->inputDone = true;
        } else if (d->packet->stream_index != d->input.audio->index) {
            av_packet_unref(d->packet.get());
            continue;
        } else {
            avcodec_send_packet(d->codec.get(), d->packet.get()); // a damaged packet is skipped
            av_packet_unref(d->packet.get());
        }
        while (avcodec_receive_frame(d->codec.get(), d->decoded.get()) >= 0) {
            const bool fed = d->feed(d->decoded.get());
            av_frame_unref(d->decoded.get());
            if (!fed) {
                d->outputDone = true;
                return false;
            }
        }
        if (d->inputDone)
            d->feed(nullptr);
    }
    return false;
}

QByteArray PlaybackDecoder::read(qint64 maxBytes) {
    maxBytes -= maxBytes % bytesPerFrame;
    while (d->pending.size() < maxBytes && fill()) {
    }
    QByteArray chunk = d->pending.left(maxBytes);
    d->pending.remove(0, chunk.size());
    return chunk;
}

} // namespace vocalith
