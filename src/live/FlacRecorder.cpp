#include "FlacRecorder.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vocalith {

std::unique_ptr<FlacRecorder> FlacRecorder::create(const QString& path, int sampleRate,
                                                   QString& error) {
    // Made and locked under a name no recovery looks for, then given its own.
    const QByteArray making = QFile::encodeName(path + QStringLiteral(".new"));
    const int descriptor = ::open(making.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0 || ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(making.constData(), QFile::encodeName(path).constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        if (descriptor >= 0) {
            ::unlink(making.constData());
            ::close(descriptor);
        }
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SoundFile file(sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE));
    if (!file) {
        error = QString::fromUtf8(sf_strerror(nullptr));
        ::unlink(QFile::encodeName(path).constData());
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<FlacRecorder>(
        new FlacRecorder(std::move(file), descriptor, path, sampleRate));
}

FlacRecorder::FlacRecorder(SoundFile file, int descriptor, const QString& path, int sampleRate)
    : m_file(std::move(file))
    , m_descriptor(descriptor)
    , m_path(path)
    , m_sampleRate(sampleRate) {
}

FlacRecorder::~FlacRecorder() {
    close();
    ::close(m_descriptor);
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

bool FlacRecorder::seal(const QString& path, QString& error) {
    qint64 samples = 0;
    {
        SF_INFO info{};
        const SoundFile input(sf_open(path.toUtf8().constData(), SFM_READ, &info));
        if (!input) {
            error = QString::fromUtf8(sf_strerror(nullptr));
            return false;
        }
        // The header cannot tell: read to the last whole block.
        std::vector<short> block(size_t(std::max(info.samplerate, 1)) * size_t(info.channels));
        for (sf_count_t read = 1; read > 0;) {
            read = sf_readf_short(input.get(), block.data(), sf_count_t(info.samplerate));
            samples += std::max<sf_count_t>(read, 0);
        }
    }
    // "fLaC", then STREAMINFO: its 36-bit sample count starts in the low half of byte 21.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        error = file.errorString();
        return false;
    }
    QByteArray head = file.read(26);
    if (head.size() < 26 || !head.startsWith("fLaC") || (head[4] & 0x7f) != 0) {
        error = QStringLiteral("Not a FLAC file.");
        return false;
    }
    head[21] = char((head[21] & 0xf0) | ((samples >> 32) & 0x0f));
    for (int i = 0; i < 4; ++i)
        head[22 + i] = char((samples >> (24 - 8 * i)) & 0xff);
    if (!file.seek(21) || file.write(head.mid(21, 5)) != 5 || !file.flush()) {
        error = file.errorString();
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
    // The encoder could not finish the header: what reached the disk is still kept.
    QString sealError;
    if (!m_error.isEmpty())
        seal(m_path, sealError);
    return m_error.isEmpty();
}

} // namespace vocalith
