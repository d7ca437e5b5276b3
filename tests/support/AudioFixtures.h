#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace vocalith::test {

// Real recordings and media files for the on-device tests, made at test time with
// ffmpeg from Debian's pocketsphinx-testdata.
namespace AudioFixtures {

QString librivoxDirectory();
// The recordings' names (file ids), in the order of the reference file.
QStringList librivoxIds();
// The reference transcript of one recording, lower-case words.
QStringList referenceWords(const QString& id);

// Runs ffmpeg quietly; true when it succeeded.
bool ffmpeg(const QStringList& arguments);
// Encodes a recording as users' files are: MP3, 44.1 kHz stereo.
bool encodeMp3(const QString& input, const QString& output);
// Writes 16-bit mono PCM WAVE of the given length: silence, or a 440 Hz tone with the
// given stretches of silence (in seconds, from and to).
bool writeWave(const QString& path, int sampleRate, qint64 frames, bool tone = false,
               const QList<std::pair<double, double>>& silences = {});

// Word error rate of a hypothesis against a reference, by word edit distance.
int wordErrors(const QStringList& reference, const QStringList& hypothesis);

} // namespace AudioFixtures

} // namespace vocalith::test
