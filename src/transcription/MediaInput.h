#pragma once

#include <QString>

#include <memory>
#include <variant>

struct AVFormatContext;
struct AVStream;

namespace vocalith {

struct MediaInputCloser {
    void operator()(AVFormatContext* context) const;
};

// A local media file opened with FFmpeg, and its first audio stream (an MP3's cover
// picture is a video stream and is passed over). Only the file protocol is allowed:
// a playlist saved under a media name must not reach the network, and a name with a
// colon must not be read as a protocol.
struct MediaInput {
    std::unique_ptr<AVFormatContext, MediaInputCloser> format;
    AVStream* audio = nullptr;

    // The opened file, or the text that says why it cannot be used: the system's for
    // file errors, otherwise not-audio or no-audio-track.
    static std::variant<MediaInput, QString> open(const QString& path);
    // Seconds of the audio stream, as the file says; 0 when it does not.
    double duration() const;
    // The same for a file not yet open; 0 when it cannot be read.
    static double durationOf(const QString& path);
};

// FFmpeg's text for an error code.
QString ffmpegErrorText(int code);

} // namespace vocalith
