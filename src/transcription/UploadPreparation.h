#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <optional>

namespace vocalith {

// Turns any recording into what an OpenAI-compatible provider takes: the file as it
// is when its type is accepted and it fits the upload limit; otherwise its audio
// stream copied out of its container, without re-encoding, and cut at quiet moments
// into parts that fit. Audio whose codec no accepted container holds is decoded to
// 16 kHz mono WAVE first.
namespace UploadPreparation {

struct Part {
    QString path;
    double start = 0.0; // seconds from the start of the recording
    QByteArray contentType;
    bool temporary = false; // made here, removed by the caller
};

// Parts stay at least this far under the limit, for the request's own bytes.
constexpr qint64 limitMargin = 1'000'000;

// The extensions providers accept as they are.
bool isAcceptedAsIs(const QString& path);
// The part's content type from its extension; audio/mpeg for MP3.
QByteArray contentTypeFor(const QString& path);

// The parts in order, or absent with the reason in error. Work files go in
// workDirectory and are removed here on failure. A set stop flag ends the work within
// a packet or a frame.
std::optional<QList<Part>> prepare(const QString& source, const QString& workDirectory,
                                   qint64 limit, QString& error,
                                   const std::atomic<bool>* stop = nullptr);

// One part cut in two at its quietest moment near the middle, for a provider that
// refused a body under the limit as too large.
std::optional<QList<Part>> halve(const Part& part, const QString& workDirectory, QString& error,
                                 const std::atomic<bool>* stop = nullptr);

} // namespace UploadPreparation

} // namespace vocalith
