#pragma once

#include "transcription/SoundFile.h"

#include <QString>

#include <memory>
#include <span>

namespace vocalith {

// A mono FLAC file written as the audio comes. Each block the encoder finishes goes
// straight to the file, so after a crash it holds everything but the last quarter
// second; only its header's length is missing until it is closed or sealed. The file is
// locked (flock) from before it bears its name until the recorder goes, so no other
// process takes it for one a crash left behind.
class FlacRecorder {
public:
    ~FlacRecorder();
    FlacRecorder(const FlacRecorder&) = delete;
    FlacRecorder& operator=(const FlacRecorder&) = delete;

    // nullptr, with the reason in error, when the file cannot be made.
    static std::unique_ptr<FlacRecorder> create(const QString& path, int sampleRate,
                                                QString& error);

    // False when the disk took less than all of it; errorString() says why.
    bool write(std::span<const short> samples);
    // Writes the length of the readable audio into the header of a file that a crash or
    // a full disk left without one, in place, so every reader takes it; false with the
    // reason in error.
    static bool seal(const QString& path, QString& error);
    // Completes the header with the length; false when the file could not be finished.
    // The lock stays until the recorder goes, so the file can be renamed under it.
    bool close();
    QString errorString() const { return m_error; }
    double seconds() const { return double(m_frames) / m_sampleRate; }

private:
    FlacRecorder(SoundFile file, int descriptor, const QString& path, int sampleRate);

    SoundFile m_file;
    int m_descriptor; // the file's, holding the lock
    QString m_path;
    int m_sampleRate;
    qint64 m_frames = 0;
    QString m_error;
};

} // namespace vocalith
