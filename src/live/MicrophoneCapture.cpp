#include "MicrophoneCapture.h"

#include "live/SampleResampler.h"

#include <QAudioSource>
#include <QMediaDevices>

#include <vector>

namespace vocalith {

namespace {

constexpr int rate = 16000;

QAudioFormat wantedFormat() {
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

} // namespace

MicrophoneCapture::MicrophoneCapture(QObject* parent)
    : QObject(parent) {
    m_watchdog.setInterval(500);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        // The sound server moves the stream of a device that goes away to another one
        // (Qt 6.4 says nothing of it): the recording must not go on unnoticed.
        if (m_sinceSound.hasExpired(3000) || !QMediaDevices::audioInputs().contains(m_device))
            lose();
    });
}

MicrophoneCapture::~MicrophoneCapture() {
    stop();
}

QList<QAudioDevice> MicrophoneCapture::inputs() {
    QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    std::stable_partition(devices.begin(), devices.end(),
                          [](const QAudioDevice& device) { return device.isDefault(); });
    return devices;
}

std::optional<QAudioDevice> MicrophoneCapture::inputNamed(const QString& name) {
    const QList<QAudioDevice> devices = inputs();
    for (const QAudioDevice& device : devices) {
        if (name.isEmpty() || device.description() == name ||
            QString::fromUtf8(device.id()) == name)
            return device;
    }
    return std::nullopt;
}

bool MicrophoneCapture::start(const QAudioDevice& device, Consumer consumer) {
    stop();
    m_error.clear();
    if (device.isNull()) {
        m_error = QStringLiteral("No microphone was found.");
        return false;
    }
    // The device's own rate and format, resampled here as files are: asked for 16 kHz,
    // the sound server resamples with its fast resampler, which costs words.
    QAudioFormat format = device.preferredFormat();
    if (!format.isValid())
        format = wantedFormat();
    m_resampler.reset();
    if (format != wantedFormat()) {
        m_resampler = SampleResampler::create(format);
        if (!m_resampler) {
            m_error = QStringLiteral("The microphone \"%1\" gives audio in a form that cannot "
                                     "be read.")
                          .arg(device.description());
            return false;
        }
    }
    m_device = device;
    m_consumer = std::move(consumer);
    // QAudioSource is deleted from the event loop: Qt's PulseAudio backend runs the
    // loop while it is destroyed, and must not do so inside a caller's slot.
    m_source = new QAudioSource(device, format);
    // A second of buffer: a busy moment on this thread loses nothing.
    m_source->setBufferSize(format.bytesForDuration(1000000));
    m_io = m_source->start();
    if (!m_io || m_source->error() != QAudio::NoError) {
        m_error = QStringLiteral("The microphone \"%1\" could not be opened; the sound "
                                 "server refused it.")
                      .arg(device.description());
        stop();
        return false;
    }
    connect(m_io, &QIODevice::readyRead, this, &MicrophoneCapture::readAvailable);
    connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
            lose();
    });
    m_sinceSound.start();
    m_watchdog.start();
    return true;
}

void MicrophoneCapture::lose() {
    const QString name = m_device.description();
    stop();
    Q_EMIT failed(QStringLiteral("The microphone \"%1\" stopped giving sound; it may have "
                                 "been unplugged.")
                      .arg(name));
}

void MicrophoneCapture::readAvailable() {
    if (!m_io)
        return;
    const QByteArray data = m_io->readAll();
    if (data.isEmpty())
        return;
    m_sinceSound.start();
    if (m_resampler)
        m_consumer(m_resampler->convert(data));
    else
        m_consumer(std::span(reinterpret_cast<const short*>(data.constData()),
                             size_t(data.size()) / sizeof(short)));
}

void MicrophoneCapture::stop() {
    m_watchdog.stop();
    if (!m_source)
        return;
    if (m_io) {
        m_io->disconnect(this);
        readAvailable(); // what the device gave before the stop
    }
    m_source->disconnect(this);
    m_source->stop();
    m_source->deleteLater();
    m_source = nullptr;
    m_io = nullptr;
}

} // namespace vocalith
