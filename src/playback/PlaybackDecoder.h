#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <variant>

namespace vocalith {

// A recording decoded for listening, a little at a time: 16-bit interleaved stereo at
// `sampleRate`, played at a tempo of 0.5 to 2 with the pitch kept (FFmpeg's atempo).
// Nothing is decoded ahead of what is read, so a long recording starts at once.
class PlaybackDecoder {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;
    static constexpr int bytesPerFrame = channels * 2;

    // The decoder at the start of the file, or why it cannot be played.
    static std::variant<std::unique_ptr<PlaybackDecoder>, QString> open(const QString& path);
    ~PlaybackDecoder();

    double duration() const;
    // The next read starts with the sample at `seconds` of the recording and ends with
    // the one at `endSeconds` (the end of the file when absent or past it), at `tempo`.
    bool start(double seconds, double tempo, double endSeconds = -1.0);
    // Up to `maxBytes` of sound; empty at the end.
    QByteArray read(qint64 maxBytes);

private:
    struct State;
    explicit PlaybackDecoder(std::unique_ptr<State> state);
    bool fill();

    std::unique_ptr<State> d;
};

} // namespace vocalith
