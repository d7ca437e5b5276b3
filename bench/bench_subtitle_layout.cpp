// Lays out a one-hour transcript (about 10,000 words with their times, as the on-device
// engine gives them) to broadcast numbers, and compares the time with rendering today's
// SRT of the same words in the same run. Best of five each.
#include "core/TranscriptRendering.h"
#include "subtitles/BroadcastLayout.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vocalith;

namespace {

QList<TranscriptSegment> oneHourOfWords() {
    static const QStringList vocabulary =
        QStringLiteral("it was not an illness that kept the young men at home, and when they "
                       "came back to Norland the Dashwoods had to consider what they might do "
                       "for them.")
            .split(QLatin1Char(' '));
    QList<TranscriptSegment> words;
    double time = 0.0;
    for (int i = 0; time < 3600.0; ++i) {
        const QString& word = vocabulary[i % vocabulary.size()];
        const double duration = 0.12 + 0.045 * double(word.size());
        words.append({word, time, time + duration});
        // A short breath between words, and a pause at each sentence's end.
        time += duration + (word.endsWith(QLatin1Char('.')) ? 0.9 : 0.04);
    }
    return words;
}

double bestSeconds(const std::function<qsizetype()>& work) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (work() <= 0)
            return -1.0;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QList<TranscriptSegment> words = oneHourOfWords();
    const double reference = bestSeconds([&] { return srtRendering(words).size(); });
    const double broadcast = bestSeconds(
        [&] { return srtFromCues(BroadcastLayout::layout(words, QStringLiteral("en"))).size(); });
    if (reference <= 0 || broadcast <= 0) {
        std::fprintf(stderr, "a rendering came out empty\n");
        return 1;
    }
    std::printf("words: %lld\n", static_cast<long long>(words.size()));
    std::printf("srt_rendering_ms_per_hour: %.1f\n", reference * 1000);
    std::printf("subtitle_layout_ms_per_hour: %.1f (target <= 5x the SRT rendering, here %.1f)\n",
                broadcast * 1000, 5 * reference * 1000);
    std::printf("subtitle_layout_ratio: %.2f (target <= 5)\n", broadcast / reference);
    return 0;
}
