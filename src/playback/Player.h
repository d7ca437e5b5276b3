#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class QAudioSink;

namespace vocalith {

class DecoderDevice;

// Plays a recording through the system's sound output, from any point, optionally
// only up to a given time, at 0.5–2× speed. The position comes from the sound the
// output has taken, so it follows what is heard rather than what was decoded.
class Player final : public QObject {
    Q_OBJECT

public:
    explicit Player(QObject* parent = nullptr);
    ~Player() override;

    // Absent when the recording can be played; otherwise why not.
    std::optional<QString> load(const QString& path);
    bool isLoaded() const;
    double duration() const;
    bool isPlaying() const { return m_playing; }
    // Seconds into the recording.
    double position() const;
    double speed() const { return m_speed; }

    void play();
    void pause();
    void playFrom(double seconds);
    // Plays from `start` and stops at `end`.
    void playRange(double start, double end);
    // Moves the position; playback goes on from there if it was playing.
    void seek(double seconds);
    void setSpeed(double speed);

Q_SIGNALS:
    void playingChanged(bool playing);
    // While playing, several times a second, and after every move.
    void positionChanged(double seconds);
    void errorOccurred(const QString& message);
    // The first sound of a start, seek or speed change went to the output.
    void outputStarted();

private:
    void startOutput();
    void stopOutput();
    void outputStateChanged();
    void finish(bool ended);
    void setPlaying(bool playing);

    std::unique_ptr<DecoderDevice> m_device;
    QPointer<QAudioSink> m_sink;
    QTimer m_ticker;
    double m_origin = 0.0; // where the current run of the output started
    double m_end = -1.0;   // where it stops, when it does before the end of the file
    double m_speed = 1.0;
    bool m_playing = false;
};

} // namespace vocalith
