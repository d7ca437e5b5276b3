#pragma once

#include "core/TranscriptSegment.h"

#include <QList>
#include <QObject>

#include <span>

namespace vocalith {

// Turns a live stream of 16 kHz mono samples into words as they are spoken: on the
// device, or through a provider. Signals may come from any thread.
class LiveEngine : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveEngine)

public:
    static constexpr int sampleRate = 16000;

    using QObject::QObject;

    // In order, from the thread that owns the engine.
    virtual void feed(std::span<const short> samples) = 0;
    // No more audio: what was given is transcribed, then finished() follows.
    virtual void finish() = 0;
    // How much audio given is not transcribed yet.
    virtual double secondsBehind() const = 0;

Q_SIGNALS:
    // The words being heard, not final yet; empty when there are none.
    void partialText(const QString& text);
    // Final words, one segment per word or phrase, timed from the stream's start.
    void utteranceRecognized(const QList<vocalith::TranscriptSegment>& words);
    // The engine cannot go on; finished() still follows finish().
    void failed(const QString& message);
    void finished();
};

} // namespace vocalith
