#pragma once

#include "transcription/SpeechRecognizer.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vocalith {

// Recognises a job's chunk files on up to a given number of threads at once and gives
// back one outcome per chunk, in chunk order: the same outcomes as one after another.
class ChunkRecognizer final {
public:
    struct Progress {
        qsizetype chunksDone = 0;
        double recognizedSeconds = 0.0;
        // Known once enough audio has been recognised to tell the rate.
        std::optional<double> secondsLeft;
    };
    using ProgressHandler = std::function<void(const Progress&)>;

    // The threads to use on this machine: one per core, at most four.
    static int defaultThreadCount();
    // Time left is estimated once this much audio has been recognised.
    static constexpr double estimateAfterSeconds = 5.0;

    // Blocks the calling thread, which reports progress about twice a second and when
    // a chunk ends. After the first failure other than "no speech" the rest is
    // cancelled through the task; chunks never recognised then read "cancelled".
    static QList<RecognitionOutcome> recognize(SpeechRecognizer& recognizer, bool onDevice,
                                               const QStringList& chunkPaths, double totalSeconds,
                                               int threads, RecognitionTask& task,
                                               const ProgressHandler& onProgress);
};

} // namespace vocalith
