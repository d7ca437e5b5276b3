#include "FlacRecorder.h"

#include <vector>

namespace vocalith {

std::unique_ptr<FlacRecorder> FlacRecorder::create(const QString& path, int sampleRate,
                                                   QString& error) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SoundFile file(sf_open(path.toUtf8().constData(), SFM_WRITE, &info));
    if (!file) {
        error = QString::fromUtf8(sf_strerror(nullptr));
        return nullptr;
    }
    return std::unique_ptr<FlacRecorder>(new FlacRecorder(std::move(file), sampleRate));
}

FlacRecorder::FlacRecorder(SoundFile file, int sampleRate)
    : m_file(std::move(file))
    , m_sampleRate(sampleRate) {
}

bool FlacRecorder::write(std::span<const short> samples) {
    if (!m_file)
        return false;
    const sf_count_t written =
        sf_write_short(m_file.get(), samples.data(), sf_count_t(samples.size()));
    m_frames += std::max<sf_count_t>(written, 0);
    if (written == sf_count_t(samples.size()))
        return true;
    m_error = QString::fromUtf8(sf_strerror(m_file.get()));
    return false;
}

bool FlacRecorder::complete(const QString& unfinished, const QString& destination, QString& error) {
    SF_INFO info{};
    const SoundFile input(sf_open(unfinished.toUtf8().constData(), SFM_READ, &info));
    if (!input || info.channels != 1) {
        error = QString::fromUtf8(sf_strerror(input.get()));
        return false;
    }
    const std::unique_ptr<FlacRecorder> output = create(destination, info.samplerate, error);
    if (!output)
        return false;
    // The length is unknown: read until the last whole block.
    std::vector<short> block(size_t(info.samplerate));
    for (;;) {
        const sf_count_t read = sf_read_short(input.get(), block.data(), sf_count_t(block.size()));
        if (read <= 0)
            break;
        if (!output->write(std::span(block).first(size_t(read)))) {
            error = output->errorString();
            return false;
        }
    }
    if (!output->close()) {
        error = output->errorString();
        return false;
    }
    return true;
}

bool FlacRecorder::close() {
    if (!m_file)
        return m_error.isEmpty();
    const int result = sf_close(m_file.release());
    if (result != 0 && m_error.isEmpty())
        m_error = QString::fromUtf8(sf_error_number(result));
    return m_error.isEmpty();
}

} // namespace vocalith
