#pragma once

#include "core/TranscriptSegment.h"

#include <QList>
#include <QString>

#include <optional>

namespace vocalith {

// One file in the queue: where it stands and, once done, its transcript.
struct QueueItem {
    enum class State { waiting, preparing, transcribing, done, failed, cancelled };

    quint64 id = 0;
    QString path;
    QString key;           // the path compared for duplicates: links resolved
    double duration = 0.0; // seconds; 0 until read, or when the file does not say
    State state = State::waiting;
    double progress = 0.0;
    std::optional<double> secondsLeft = {};
    QString error = {};
    QList<TranscriptSegment> segments = {};
    qint64 libraryId = 0; // once kept in the library

    QString name() const;
    bool isRunning() const { return state == State::preparing || state == State::transcribing; }
    bool isFinished() const { return !isRunning() && state != State::waiting; }
    // "Waiting", "Preparing", "Transcribing 42 % · 1:10 left", "Done", "Failed: ...",
    // "Cancelled".
    QString statusText() const;
};

} // namespace vocalith
