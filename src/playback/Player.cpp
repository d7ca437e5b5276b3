#include "Player.h"

#include "playback/PlaybackDecoder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <cstring>
#include <functional>

namespace vocalith {

// What the sound output pulls from: the decoder, a block at a time.
class DecoderDevice final : public QIODevice {
public:
    explicit DecoderDevice(std::unique_ptr<PlaybackDecoder> decoder)
        : m_decoder(std::move(decoder)) {}

    std::function<void()> onFirstSound;

    PlaybackDecoder& decoder() { return *m_decoder; }
    bool finished() const { return m_finished; }

    void restart(double seconds, double tempo, double end) {
        close();
        m_finished = !m_decoder->start(seconds, tempo, end);
        m_started = false;
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const QByteArray chunk = m_decoder->read(maxSize);
        std::memcpy(data, chunk.constData(), size_t(chunk.size()));
        m_finished = chunk.isEmpty();
        if (!m_finished && !m_started) {
            m_started = true;
            if (onFirstSound)
                onFirstSound();
        }
        return chunk.size();
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::unique_ptr<PlaybackDecoder> m_decoder;
    bool m_finished = false;
    bool m_started = false;
};

Player::Player(QObject* parent)
    : QObject(parent) {
    m_ticker.setInterval(40);
    connect(&m_ticker, &QTimer::timeout, this, [this] { Q_EMIT positionChanged(position()); });
}

Player::~Player() {
    stopOutput();
}

std::optional<QString> Player::load(const QString& path) {
    stopOutput();
    setPlaying(false);
    m_device.reset();
    auto opened = PlaybackDecoder::open(path);
    if (auto* error = std::get_if<QString>(&opened))
        return *error;
    m_device = std::make_unique<DecoderDevice>(std::move(std::get<0>(opened)));
    m_device->onFirstSound = [this] { Q_EMIT outputStarted(); };
    m_origin = 0.0;
    m_end = -1.0;
    Q_EMIT positionChanged(0.0);
    return std::nullopt;
}

bool Player::isLoaded() const {
    return m_device != nullptr;
}

double Player::duration() const {
    return m_device ? m_device->decoder().duration() : 0.0;
}

double Player::position() const {
    if (!m_sink)
        return m_origin;
    const double played = double(m_sink->processedUSecs()) / 1e6 * m_speed;
    const double position = m_origin + played;
    return m_end >= 0.0 ? std::min(position, m_end) : std::min(position, duration());
}

void Player::play() {
    if (!m_device || m_playing)
        return;
    if (m_origin >= duration() - 0.01)
        m_origin = 0.0;
    startOutput();
}

void Player::pause() {
    stopOutput();
    setPlaying(false);
    Q_EMIT positionChanged(m_origin);
}

void Player::playFrom(double seconds) {
    stopOutput();
    m_origin = std::clamp(seconds, 0.0, duration());
    m_end = -1.0;
    startOutput();
}

void Player::playRange(double start, double end) {
    stopOutput();
    m_origin = std::clamp(start, 0.0, duration());
    m_end = std::max(m_origin, end);
    startOutput();
}

void Player::seek(double seconds) {
    const bool wasPlaying = m_playing;
    stopOutput();
    m_origin = std::clamp(seconds, 0.0, duration());
    m_end = -1.0;
    if (wasPlaying)
        startOutput();
    else
        Q_EMIT positionChanged(m_origin);
}

void Player::setSpeed(double speed) {
    speed = std::clamp(speed, 0.5, 2.0);
    if (qFuzzyCompare(speed, m_speed))
        return;
    const bool wasPlaying = m_playing;
    stopOutput();
    m_speed = speed;
    if (wasPlaying)
        startOutput();
}

void Player::startOutput() {
    if (!m_device)
        return;
    m_device->restart(m_origin, m_speed, m_end);
    QAudioFormat format;
    format.setSampleRate(PlaybackDecoder::sampleRate);
    format.setChannelCount(PlaybackDecoder::channels);
    format.setSampleFormat(QAudioFormat::Int16);
    // Without a parent: Qt's PulseAudio output runs the event loop as it is destroyed, and
    // gives its inner object the sink's parent, so neither may die with the player's
    // owner. Each sink is deleted from the event loop once stopped.
    m_sink = new QAudioSink(QMediaDevices::defaultAudioOutput(), format);
    // About a fifth of a second ahead: enough not to stutter, little enough to follow.
    m_sink->setBufferSize(PlaybackDecoder::sampleRate * PlaybackDecoder::bytesPerFrame / 5);
    connect(m_sink, &QAudioSink::stateChanged, this, &Player::outputStateChanged);
    m_sink->start(m_device.get());
    if (m_sink->error() != QAudio::NoError) {
        stopOutput();
        setPlaying(false);
        Q_EMIT errorOccurred(QStringLiteral("The recording cannot be played: no sound output."));
        return;
    }
    setPlaying(true);
}

void Player::stopOutput() {
    if (!m_sink)
        return;
    m_origin = position();
    QAudioSink* sink = m_sink;
    m_sink = nullptr;
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
}

void Player::outputStateChanged() {
    if (!m_sink)
        return;
    const bool ended = m_sink->state() == QAudio::IdleState && m_device->finished();
    if (ended) {
        // What the output holds is still to be heard.
        QTimer::singleShot(m_sink->bufferSize() * 1000 /
                               (PlaybackDecoder::sampleRate * PlaybackDecoder::bytesPerFrame),
                           m_sink, [this] { finish(true); });
        return;
    }
    if (m_sink->state() == QAudio::StoppedState)
        finish(false);
}

void Player::finish(bool ended) {
    if (!m_sink)
        return;
    const bool failed = !ended && m_sink->error() != QAudio::NoError;
    stopOutput();
    if (ended) {
        m_origin = m_end >= 0.0 ? m_end : duration();
        // A finished range is done with: Play goes on from here to the end.
        m_end = -1.0;
    }
    setPlaying(false);
    Q_EMIT positionChanged(m_origin);
    if (failed)
        Q_EMIT errorOccurred(QStringLiteral("Playback stopped: the sound output went away."));
}

void Player::setPlaying(bool playing) {
    if (playing)
        m_ticker.start();
    else
        m_ticker.stop();
    if (m_playing == playing)
        return;
    m_playing = playing;
    Q_EMIT playingChanged(playing);
}

} // namespace vocalith
