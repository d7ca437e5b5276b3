// Live recognition against the reference, in one run: the decoder's CPU time over the
// audio's length for a two-minute reading fed as fast as the decoder takes it, beside
// pocketsphinx_continuous on the same audio as WAVE; and how soon final words come when
// a reading is fed at the pace it is spoken, 0.1 s at a time as a microphone gives it.
#include "BenchSupport.h"
#include "live/LiveRecognizer.h"
#include "support/AudioFixtures.h"
#include "transcription/SoundFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

constexpr int rate = LiveEngine::sampleRate;
const QString modelDir = QStringLiteral("/usr/share/pocketsphinx/model/en-us");
const PocketSphinxDecoder::Model model{modelDir + QStringLiteral("/en-us"),
                                       modelDir + QStringLiteral("/en-us.lm.bin"),
                                       modelDir + QStringLiteral("/cmudict-en-us.dict")};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<short> readSamples(const QString& path) {
    SF_INFO info{};
    const SoundFile file(sf_open(path.toUtf8().constData(), SFM_READ, &info));
    std::vector<short> samples(size_t(std::max<sf_count_t>(info.frames, 0)));
    if (file)
        sf_read_short(file.get(), samples.data(), info.frames);
    return samples;
}

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile90(std::vector<double> values) {
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 9 / 10)];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("book.wav"));
    const QString twoMinutes = dir.filePath(QStringLiteral("two.wav"));
    QStringList concat;
    const QStringList ids = fixtures::librivoxIds();
    for (const QString& id : ids)
        concat << QStringLiteral("-i") << fixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
    concat << QStringLiteral("-filter_complex")
           << QStringLiteral("concat=n=%1:v=0:a=1").arg(ids.size()) << book;
    if (!fixtures::ffmpeg(concat) ||
        !fixtures::ffmpeg({QStringLiteral("-stream_loop"), QStringLiteral("5"),
                           QStringLiteral("-i"), book, QStringLiteral("-t"), QStringLiteral("120"),
                           twoMinutes})) {
        std::fputs("could not make the recordings\n", stderr);
        return 1;
    }

    // CPU: the decoder loaded first, so only recognising is counted.
    const std::vector<short> reading = readSamples(twoMinutes);
    const double audioSeconds = double(reading.size()) / rate;
    double decoderCpu = 0.0;
    {
        LiveRecognizer recognizer(model);
        bool done = false;
        QObject::connect(&recognizer, &LiveEngine::finished, &app, [&] { done = true; });
        wait(3000);
        const double before = cpuSeconds(RUSAGE_SELF);
        recognizer.feed(reading);
        recognizer.finish();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done)
                loop.quit();
        });
        poll.start(20);
        loop.exec();
        decoderCpu = cpuSeconds(RUSAGE_SELF) - before;
    }
    const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double continuousWall = bench::timeCommand(
        QStringLiteral("pocketsphinx_continuous"),
        {QStringLiteral("-infile"), twoMinutes, QStringLiteral("-hmm"), model.acousticModel,
         QStringLiteral("-lm"), model.languageModel, QStringLiteral("-dict"), model.dictionary,
         QStringLiteral("-logfn"), QStringLiteral("/dev/null")});
    const double continuousCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;

    // Latency: the reading fed as it would be spoken, then two seconds of quiet.
    std::vector<short> spoken = readSamples(book);
    spoken.resize(spoken.size() + 2 * rate, 0);
    std::vector<double> fromUtteranceEnd; // ms, one per word
    std::vector<double> fromWordEnd;
    {
        LiveRecognizer recognizer(model);
        wait(3000);
        QElapsedTimer clock;
        size_t fed = 0;
        bool done = false;
        QObject::connect(&recognizer, &LiveEngine::utteranceRecognized, &app,
                         [&](const QList<TranscriptSegment>& words) {
                             const double now = double(clock.nsecsElapsed()) / 1e6;
                             const double utteranceEnd = words.last().endTime * 1000.0;
                             for (const TranscriptSegment& word : words) {
                                 fromUtteranceEnd.push_back(now - utteranceEnd);
                                 fromWordEnd.push_back(now - word.endTime * 1000.0);
                             }
                         });
        QObject::connect(&recognizer, &LiveEngine::finished, &app, [&] { done = true; });
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            const size_t due =
                std::min(spoken.size(), size_t(double(clock.nsecsElapsed()) / 1e9 * rate));
            if (due > fed) {
                recognizer.feed(std::span(spoken).subspan(fed, due - fed));
                fed = due;
            }
            if (fed == spoken.size() && !done)
                recognizer.finish();
            if (done)
                loop.quit();
        });
        clock.start();
        tick.start(100);
        loop.exec();
    }

    std::printf("decoder: %.1f s of CPU for %.0f s of audio; pocketsphinx_continuous: %.1f s of "
                "CPU (%.1f s wall, model loading included)\n",
                decoderCpu, audioSeconds, continuousCpu, continuousWall);
    std::printf("final words: %zu; 90th percentile from the end of each word itself: %.0f ms\n",
                fromWordEnd.size(), percentile90(fromWordEnd));
    std::printf("live_latency_ms: %.0f (target < 1000, from the end of each word's utterance)\n",
                percentile90(fromUtteranceEnd));
    std::printf("live_cpu_ratio: %.3f (target <= 0.5; pocketsphinx_continuous %.3f)\n",
                decoderCpu / audioSeconds, continuousCpu / audioSeconds);
    return 0;
}
