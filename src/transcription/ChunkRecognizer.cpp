#include "ChunkRecognizer.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vocalith {

namespace {

RecognitionOutcome cancelledOutcome() {
    return RecognitionOutcome::failure(RecognitionCode::cancelled,
                                       QStringLiteral("Recognition was cancelled."));
}

} // namespace

int ChunkRecognizer::defaultThreadCount() {
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

QList<RecognitionOutcome> ChunkRecognizer::recognize(SpeechRecognizer& recognizer, bool onDevice,
                                                     const QStringList& chunkPaths,
                                                     double totalSeconds, int threads,
                                                     RecognitionTask& task,
                                                     const ProgressHandler& onProgress) {
    const qsizetype count = chunkPaths.size();
    QList<RecognitionOutcome> outcomes(count, cancelledOutcome());
    std::mutex mutex;
    std::condition_variable changed;
    qsizetype next = 0;
    qsizetype done = 0;
    int running = 0;

    const auto work = [&] {
        std::unique_lock lock(mutex);
        while (next < count && !task.isCancelled()) {
            const qsizetype index = next++;
            lock.unlock();
            RecognitionOutcome outcome = recognizer.recognize(chunkPaths[index], onDevice, task);
            lock.lock();
            if (outcome.errorCode && *outcome.errorCode != RecognitionCode::noSpeech &&
                *outcome.errorCode != RecognitionCode::cancelled)
                task.cancel(); // the job fails; the other chunks need not finish
            outcomes[index] = std::move(outcome);
            ++done;
            changed.notify_all();
        }
        --running;
        changed.notify_all();
    };

    const int threadCount = int(std::clamp<qsizetype>(threads, 1, std::max<qsizetype>(count, 1)));
    running = threadCount;
    std::vector<std::jthread> workers;
    workers.reserve(size_t(threadCount));
    for (int i = 0; i < threadCount; ++i)
        workers.emplace_back(work);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    qsizetype reportedDone = -1;
    std::unique_lock lock(mutex);
    while (running > 0) {
        changed.wait_for(lock, std::chrono::milliseconds(500),
                         [&] { return done != reportedDone || running == 0; });
        if (running == 0)
            break;
        Progress progress{done, task.recognizedSeconds(), std::nullopt};
        reportedDone = done;
        lock.unlock();
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (progress.recognizedSeconds >= estimateAfterSeconds && elapsed > 0.0) {
            const double rate = progress.recognizedSeconds / elapsed;
            progress.secondsLeft = std::max(0.0, totalSeconds - progress.recognizedSeconds) / rate;
        }
        onProgress(progress);
        lock.lock();
    }
    lock.unlock();
    workers.clear();
    return outcomes;
}

} // namespace vocalith
