#pragma once

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <span>

class QAudioSource;
class QIODevice;

namespace vocalith {

class SampleResampler;

// Audio from a microphone as 16 kHz mono samples, heard at the device's own rate and
// format and resampled with libswresample, as files are.
class MicrophoneCapture final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MicrophoneCapture)

public:
    using Consumer = std::function<void(std::span<const short>)>;

    explicit MicrophoneCapture(QObject* parent = nullptr);
    ~MicrophoneCapture() override;

    // The system's inputs, the default one first.
    static QList<QAudioDevice> inputs();
    // The input whose description or id is name; the default one for an empty name.
    static std::optional<QAudioDevice> inputNamed(const QString& name);

    // Starts hearing the device; false with the reason in errorString().
    bool start(const QAudioDevice& device, Consumer consumer);
    void stop();
    QString errorString() const { return m_error; }

Q_SIGNALS:
    // The device stopped giving audio: unplugged, or taken by the sound server.
    void failed(const QString& message);

private:
    void readAvailable();
    void lose();

    std::unique_ptr<SampleResampler> m_resampler; // unless the device gives 16 kHz mono
    QAudioSource* m_source = nullptr;
    QIODevice* m_io = nullptr;
    Consumer m_consumer;
    QAudioDevice m_device;
    QTimer m_watchdog;
    QElapsedTimer m_sinceSound; // a device that is gone may just fall silent
    QString m_error;
};

} // namespace vocalith
