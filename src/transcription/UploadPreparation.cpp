#include "UploadPreparation.h"

#include "core/UuidText.h"
#include "core/WorkFiles.h"
#include "transcription/AudioConverter.h"
#include "transcription/FfmpegHandles.h"
#include "transcription/MediaInput.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/channel_layout.h>
}

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>
#include <vector>

namespace vocalith::UploadPreparation {

namespace {

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load();
}

QString cancelledText() {
    return QStringLiteral("Preparation was cancelled.");
}

struct Container {
    const char* muxer;
    const char* extension;
};

// The accepted container that holds a codec as it is, if any.
std::optional<Container> containerFor(AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_MP3:
        return Container{"mp3", "mp3"};
    case AV_CODEC_ID_AAC:
        return Container{"ipod", "m4a"};
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_VORBIS:
        return Container{"ogg", "ogg"};
    case AV_CODEC_ID_FLAC:
        return Container{"flac", "flac"};
    case AV_CODEC_ID_PCM_S16LE:
        return Container{"wav", "wav"};
    default:
        return std::nullopt;
    }
}

// Where each packet of the audio stream starts, and how large it is.
struct PacketInfo {
    double time = 0.0;
    qint64 size = 0;
};

std::optional<std::vector<PacketInfo>> scanPackets(MediaInput& input, QString& error,
                                                   const std::atomic<bool>* stop) {
    std::vector<PacketInfo> packets;
    Packet packet(av_packet_alloc());
    const AVRational base = input.audio->time_base;
    double next = 0.0;
    int result = 0;
    while ((result = av_read_frame(input.format.get(), packet.get())) >= 0) {
        if (packet->stream_index == input.audio->index) {
            const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const double time = stamp != AV_NOPTS_VALUE ? stamp * av_q2d(base) : next;
            packets.push_back({time, packet->size});
            next = time + packet->duration * av_q2d(base);
        }
        av_packet_unref(packet.get());
        if (stopped(stop)) {
            error = cancelledText();
            return std::nullopt;
        }
    }
    if (result != AVERROR_EOF) {
        error = ffmpegErrorText(result);
        return std::nullopt;
    }
    return packets;
}

// The middle of the quietest 0.2 s between from and to, measured on the decoded audio.
double quietestMoment(const QString& path, double from, double to, const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(path);
    auto* input = std::get_if<MediaInput>(&opened);
    const AVCodec* codec = input ? avcodec_find_decoder(input->audio->codecpar->codec_id) : nullptr;
    CodecContext decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), input->audio->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return to;
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);
    constexpr int rate = 8000;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* allocated = nullptr;
    swr_alloc_set_opts2(&allocated, &mono, AV_SAMPLE_FMT_FLT, rate, &decoder->ch_layout,
                        decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    Resampler resampler(allocated);
    if (!resampler || swr_init(resampler.get()) < 0)
        return to;

    const AVRational base = input->audio->time_base;
    av_seek_frame(input->format.get(), input->audio->index, int64_t(from / av_q2d(base)),
                  AVSEEK_FLAG_BACKWARD);
    // Energy of consecutive 50 ms steps, from the first decoded sample's time on.
    constexpr int step = rate / 20;
    std::vector<double> energy;
    double firstTime = -1.0;
    double sum = 0.0;
    int inStep = 0;
    Packet packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    std::vector<float> samples;
    bool done = false;
    while (!done && !stopped(stop) && av_read_frame(input->format.get(), packet.get()) >= 0) {
        if (packet->stream_index == input->audio->index &&
            avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                const double time = frame->best_effort_timestamp * av_q2d(base);
                if (firstTime < 0 && time + 0.5 >= from)
                    firstTime = time;
                samples.resize(size_t(swr_get_out_samples(resampler.get(), frame->nb_samples)) + 1);
                auto* out = reinterpret_cast<uint8_t*>(samples.data());
                const int n = swr_convert(resampler.get(), &out, int(samples.size()),
                                          const_cast<const uint8_t**>(frame->extended_data),
                                          frame->nb_samples);
                if (firstTime >= 0) {
                    for (int i = 0; i < n; ++i) {
                        sum += double(samples[size_t(i)]) * samples[size_t(i)];
                        if (++inStep == step) {
                            energy.push_back(sum);
                            sum = 0.0;
                            inStep = 0;
                        }
                    }
                }
                done = done || time > to;
                av_frame_unref(frame.get());
            }
        }
        av_packet_unref(packet.get());
    }
    // Four steps make 0.2 s; the window must end before the size bound.
    double best = to;
    double bestEnergy = 0.0;
    for (size_t i = 0; i + 4 <= energy.size(); ++i) {
        const double start = firstTime + double(i) / 20.0;
        if (start < from || start + 0.2 > to)
            continue;
        const double windowEnergy = energy[i] + energy[i + 1] + energy[i + 2] + energy[i + 3];
        if (best == to || windowEnergy <= bestEnergy) { // the latest of equals: longer parts
            best = start + 0.1;
            bestEnergy = windowEnergy;
        }
    }
    return best;
}

// Packets [begin, end) of the audio stream, as their own file in the container.
bool writePart(const QString& source, const Container& container, size_t begin, size_t end,
               const QString& path, QString& error, const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(source);
    if (const auto* failure = std::get_if<QString>(&opened)) {
        error = *failure;
        return false;
    }
    MediaInput& input = std::get<MediaInput>(opened);
    AVFormatContext* allocated = nullptr;
    avformat_alloc_output_context2(&allocated, nullptr, container.muxer, nullptr);
    OutputContext output(allocated);
    AVStream* stream = output ? avformat_new_stream(output.get(), nullptr) : nullptr;
    int result =
        stream ? avcodec_parameters_copy(stream->codecpar, input.audio->codecpar) : AVERROR(ENOMEM);
    if (result >= 0) {
        stream->codecpar->codec_tag = 0;
        stream->time_base = input.audio->time_base;
        result = avio_open(&output->pb, path.toUtf8().constData(), AVIO_FLAG_WRITE);
    }
    // ADTS AAC from a raw .aac file needs its headers turned into MP4's form.
    AVBSFContext* filter = nullptr;
    if (result >= 0 && input.audio->codecpar->codec_id == AV_CODEC_ID_AAC &&
        input.audio->codecpar->extradata_size == 0) {
        result = av_bsf_alloc(av_bsf_get_by_name("aac_adtstoasc"), &filter);
        if (result >= 0 &&
            (result = avcodec_parameters_copy(filter->par_in, input.audio->codecpar)) >= 0) {
            filter->time_base_in = input.audio->time_base;
            if ((result = av_bsf_init(filter)) >= 0)
                result = avcodec_parameters_copy(stream->codecpar, filter->par_out);
            stream->codecpar->codec_tag = 0;
        }
    }
    if (result >= 0)
        result = avformat_write_header(output.get(), nullptr);

    Packet packet(av_packet_alloc());
    int64_t offset = AV_NOPTS_VALUE;
    size_t index = 0;
    while (result >= 0 && index < end &&
           (result = av_read_frame(input.format.get(), packet.get())) >= 0) {
        const bool ours = packet->stream_index == input.audio->index;
        if (ours && index++ >= begin) {
            if (offset == AV_NOPTS_VALUE)
                offset = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= offset;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts -= offset;
            packet->stream_index = 0;
            packet->pos = -1;
            av_packet_rescale_ts(packet.get(), input.audio->time_base, stream->time_base);
            if (filter && (result = av_bsf_send_packet(filter, packet.get())) >= 0) {
                while ((result = av_bsf_receive_packet(filter, packet.get())) >= 0)
                    result = av_interleaved_write_frame(output.get(), packet.get());
                if (result == AVERROR(EAGAIN))
                    result = 0;
            } else if (!filter) {
                result = av_interleaved_write_frame(output.get(), packet.get());
            }
        }
        av_packet_unref(packet.get());
        if (stopped(stop)) {
            av_bsf_free(&filter);
            error = cancelledText();
            return false;
        }
    }
    if (result == AVERROR_EOF)
        result = 0;
    if (result >= 0)
        result = av_write_trailer(output.get());
    av_bsf_free(&filter);
    if (result < 0)
        error = ffmpegErrorText(result);
    return result >= 0;
}

void removeTemporary(const QList<Part>& parts) {
    for (const Part& part : parts) {
        if (part.temporary)
            WorkFiles::remove(part.path);
    }
}

// The audio of source cut into files of at most bound bytes of packets, each cut at
// the quietest 0.2 s within the 30 s before its size bound, or at the one packet
// index given.
std::optional<QList<Part>> cut(const QString& source, const QString& workDirectory, qint64 bound,
                               std::optional<double> cutNear, QString& error,
                               const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(source);
    if (const auto* failure = std::get_if<QString>(&opened)) {
        error = *failure;
        return std::nullopt;
    }
    MediaInput& input = std::get<MediaInput>(opened);
    const std::optional<Container> container = containerFor(input.audio->codecpar->codec_id);
    if (!container) {
        error = QStringLiteral("The audio cannot be cut without re-encoding.");
        return std::nullopt;
    }
    const std::optional<std::vector<PacketInfo>> packets = scanPackets(input, error, stop);
    if (!packets)
        return std::nullopt;
    if (packets->empty()) {
        error = QStringLiteral("The selected file is not a valid audio file.");
        return std::nullopt;
    }
    const double origin = packets->front().time;

    std::vector<size_t> cuts{0};
    if (cutNear) {
        // Near the middle: within a quarter of the length on either side.
        const double reach = (packets->back().time - origin) / 4;
        const double quiet = quietestMoment(source, *cutNear - reach, *cutNear + reach, stop);
        size_t index = 1;
        while (index + 1 < packets->size() && (*packets)[index].time < quiet)
            ++index;
        cuts.push_back(index);
    } else {
        // Each packet also costs its container a few bytes of index or page header.
        constexpr qint64 containerBytesPerPacket = 16;
        qint64 size = 0;
        for (size_t i = 0; i < packets->size(); ++i) {
            size += (*packets)[i].size + containerBytesPerPacket;
            if (size <= bound)
                continue;
            if (i == cuts.back()) { // this packet alone would not fit in any part
                error = QStringLiteral("One piece of the audio is larger than the upload limit "
                                       "allows (") +
                        QString::number((*packets)[i].size) +
                        QStringLiteral(" bytes); raise the limit.");
                return std::nullopt;
            }
            if (stopped(stop)) {
                error = cancelledText();
                return std::nullopt;
            }
            const double boundTime = (*packets)[i].time;
            // Never in the first half of a part, so a quiet start cannot make it tiny.
            const double partStart = (*packets)[cuts.back()].time;
            const double from = std::max(partStart + (boundTime - partStart) / 2, boundTime - 30.0);
            const double quiet = quietestMoment(source, from, boundTime, stop);
            size_t index = i;
            while (index > cuts.back() + 1 && (*packets)[index - 1].time >= quiet)
                --index;
            cuts.push_back(index);
            size = 0;
            i = index - 1;
        }
    }
    cuts.push_back(packets->size());

    QList<Part> parts;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const QString path =
            QDir(workDirectory)
                .filePath(QStringLiteral("part_") + QString::number(i) + QLatin1Char('_') +
                          uuidText() + QLatin1Char('.') + QLatin1String(container->extension));
        parts.append({path, (*packets)[cuts[i]].time - origin, contentTypeFor(path), true});
        WorkFiles::track(path);
        if (!writePart(source, *container, cuts[i], cuts[i + 1], path, error, stop)) {
            removeTemporary(parts);
            return std::nullopt;
        }
    }
    return parts;
}

} // namespace

bool isAcceptedAsIs(const QString& path) {
    static const QStringList accepted{
        QStringLiteral("flac"), QStringLiteral("mp3"),  QStringLiteral("mp4"),
        QStringLiteral("mpeg"), QStringLiteral("mpga"), QStringLiteral("m4a"),
        QStringLiteral("ogg"),  QStringLiteral("wav"),  QStringLiteral("webm")};
    return accepted.contains(QFileInfo(path).suffix().toLower());
}

QByteArray contentTypeFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mp3") || suffix == QLatin1String("mpga") ||
        suffix == QLatin1String("mpeg"))
        return "audio/mpeg";
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("mp4"))
        return "audio/mp4";
    if (suffix == QLatin1String("webm"))
        return "audio/webm";
    return "audio/" + suffix.toLatin1();
}

std::optional<QList<Part>> prepare(const QString& source, const QString& workDirectory,
                                   qint64 limit, QString& error, const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(source);
    if (const auto* failure = std::get_if<QString>(&opened)) {
        error = *failure;
        return std::nullopt;
    }
    if (isAcceptedAsIs(source) && QFileInfo(source).size() <= limit)
        return QList<Part>{{source, 0.0, contentTypeFor(source), false}};
    QDir().mkpath(workDirectory);
    QString audio = source;
    QString decoded;
    if (!containerFor(std::get<MediaInput>(opened).audio->codecpar->codec_id)) {
        // No accepted container holds this codec: 16 kHz mono PCM, which every
        // provider takes and the recogniser hears as the on-device engine does.
        decoded = QDir(workDirectory).filePath(uuidText() + QStringLiteral(".wav"));
        WorkFiles::track(decoded);
        if (const std::optional<QString> failure =
                AudioConverter::convertAudio(source, decoded, stop)) {
            WorkFiles::remove(decoded);
            error = stopped(stop) ? cancelledText() : *failure;
            return std::nullopt;
        }
        audio = decoded;
    }
    std::optional<QList<Part>> parts =
        cut(audio, workDirectory, limit - limitMargin, std::nullopt, error, stop);
    if (!decoded.isEmpty())
        WorkFiles::remove(decoded);
    return parts;
}

std::optional<QList<Part>> halve(const Part& part, const QString& workDirectory, QString& error,
                                 const std::atomic<bool>* stop) {
    std::variant<MediaInput, QString> opened = MediaInput::open(part.path);
    if (const auto* failure = std::get_if<QString>(&opened)) {
        error = *failure;
        return std::nullopt;
    }
    const AVFormatContext& format = *std::get<MediaInput>(opened).format;
    const double middle = format.duration > 0 ? format.duration / 2.0 / AV_TIME_BASE : 0.0;
    std::optional<QList<Part>> halves =
        cut(part.path, workDirectory, std::numeric_limits<qint64>::max(), middle, error, stop);
    if (halves) {
        for (Part& half : *halves)
            half.start += part.start;
    }
    return halves;
}

} // namespace vocalith::UploadPreparation
