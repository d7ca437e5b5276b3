#include "MediaInput.h"

#include "transcription/TranscriptionError.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vocalith {

namespace {

// Errors of the file system keep their own text; anything else FFmpeg could not
// make sense of is simply not audio.
QString openError(int code) {
    for (int systemError : {ENOENT, EACCES, EPERM, EISDIR, EIO, ENOMEM}) {
        if (code == AVERROR(systemError))
            return ffmpegErrorText(code);
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

} // namespace

void MediaInputCloser::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}

QString ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

double MediaInput::duration() const {
    if (audio && audio->duration != AV_NOPTS_VALUE && audio->duration > 0)
        return double(audio->duration) * av_q2d(audio->time_base);
    if (format && format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return double(format->duration) / AV_TIME_BASE;
    return 0.0;
}

double MediaInput::durationOf(const QString& path) {
    const auto input = open(path);
    const auto* media = std::get_if<MediaInput>(&input);
    return media ? media->duration() : 0.0;
}

std::variant<MediaInput, QString> MediaInput::open(const QString& path) {
    av_log_set_level(AV_LOG_QUIET); // the application writes no log of its own
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    int result = avformat_open_input(&opened, (QStringLiteral("file:") + path).toUtf8().constData(),
                                     nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        return openError(result);
    MediaInput input;
    input.format.reset(opened);
    if ((result = avformat_find_stream_info(opened, nullptr)) < 0)
        return openError(result);
    for (unsigned i = 0; i < opened->nb_streams && !input.audio; ++i) {
        if (opened->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            input.audio = opened->streams[i];
    }
    if (durationSeconds(*opened, input.audio) <= 0.0)
        return TranscriptionError::invalidAudioFile().errorDescription();
    if (!input.audio)
        return TranscriptionError::noAudioTrack().errorDescription();
    return input;
}

} // namespace vocalith
