// Writes an hour of on-device words (about 10,000, in utterances between pauses) as
// people write them, best of five, and times reading the system word list on the thread
// that reads it in the background while the main thread goes on.
#include "transcription/WrittenForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace vocalith;

namespace {

struct Transcript {
    QList<TranscriptSegment> words;
    QList<qsizetype> utteranceEnds;
};

Transcript oneHourOfWords() {
    static const QStringList vocabulary =
        QStringLiteral("and mr john dashwood had then leisure to consider how much there might "
                       "be prudently in his power to do for them i'm sure said mrs jennings in "
                       "london on monday in december he might even have been made amiable")
            .split(QLatin1Char(' '));
    Transcript transcript;
    double time = 0.0;
    for (int i = 0; time < 3600.0; ++i) {
        const QString& word = vocabulary[i % vocabulary.size()];
        const double duration = 0.12 + 0.045 * double(word.size());
        transcript.words.append({.text = word,
                                 .startTime = time,
                                 .endTime = time + duration,
                                 .confidence = 0.7,
                                 .words = {{word, time, time + duration, 0.7}}});
        time += duration + 0.04;
        // An utterance every eleven words, a third of them after a pause too short to
        // end the sentence.
        if (i % 11 == 10) {
            transcript.utteranceEnds.append(transcript.words.size() - 1);
            time += i % 3 == 0 ? 0.3 : 0.8;
        }
    }
    return transcript;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    const auto loading = WordList::system();
    const double mainThreadMs = double(clock.nsecsElapsed()) / 1e6;
    const std::shared_ptr<const WordList> list = loading.get();
    const double loadMs = double(clock.nsecsElapsed()) / 1e6;
    if (!list) {
        std::fprintf(stderr, "no word list at %s\n", qPrintable(WordList::defaultPath()));
        return 1;
    }

    const Transcript hour = oneHourOfWords();
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        QList<TranscriptSegment> words = hour.words;
        words.detach();
        QElapsedTimer timer;
        timer.start();
        WrittenForm(list).rewriteTranscript(words, hour.utteranceEnds);
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
        if (words.first().text != QStringLiteral("And")) {
            std::fprintf(stderr, "the transcript was not rewritten\n");
            return 1;
        }
    }
    std::printf("words: %lld, word list: %lld words\n", static_cast<long long>(hour.words.size()),
                static_cast<long long>(list->size()));
    std::printf("word_list_main_thread_ms: %.2f\n", mainThreadMs);
    std::printf("written_form_ms_per_hour: %.1f (target < 20)\n", best);
    std::printf("word_list_load_ms: %.1f (target < 150)\n", loadMs);
    return 0;
}
