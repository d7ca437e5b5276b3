// On-device engine against the reference tools on the same files, in one run:
// conversion of a 10-minute MP3 against the ffmpeg command line, peak memory while
// converting a 60-minute MP3, transcription of the 10-minute recording (every core)
// against pocketsphinx_continuous on the same audio as WAVE, with its peak memory, and
// word error rates side by side on the LibriVox recordings.
#include "BenchSupport.h"
#include "support/AudioFixtures.h"
#include "transcription/AudioConverter.h"
#include "transcription/TranscriptionService.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

constexpr int rounds = 3;
const QString modelDir = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

QString recording(const QString& id) {
    return fixtures::librivoxDirectory() + QLatin1Char('/') + id + QStringLiteral(".wav");
}

// Child: one conversion, printing the peak resident memory.
int convertOnce(const QString& source, const QString& destination) {
    const std::optional<QString> error = AudioConverter::convertAudio(source, destination);
    std::printf("%lld\n", static_cast<long long>(bench::peakResidentBytes()));
    return error ? 1 : 0;
}

// Child: every recording through the engine, one transcript line each.
int transcribeAll(const QStringList& files, const QString& workDirectory) {
    TranscriptionService service(nullptr, nullptr, workDirectory);
    for (const QString& file : files) {
        QEventLoop loop;
        QString text;
        service.transcribe(
            file, TranscriptionLanguage::english, [&](const TranscriptionEvent& event) {
                if (const auto* s = std::get_if<TranscriptionEvent::Success>(&event.value)) {
                    QStringList words;
                    for (const TranscriptSegment& segment : s->segments)
                        words.append(segment.text);
                    text = words.join(QLatin1Char(' '));
                }
                if (event.isFinal())
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit);
            });
        loop.exec();
        std::printf("%s\n", qPrintable(text));
    }
    std::fprintf(stderr, "peak %lld\n", static_cast<long long>(bench::peakResidentBytes()));
    return 0;
}

// Milliseconds from a cancel in the middle of a chunk to the job's last event, with the
// model already loaded; best of three.
double cancelLatencyMs(const QString& mp3, const QString& warmUp, const QString& workDirectory) {
    TranscriptionService service(nullptr, nullptr, workDirectory);
    const auto runUntil = [&](const QString& file, int cancelAfterMs) {
        QEventLoop loop;
        std::chrono::steady_clock::time_point cancelled;
        double latency = -1;
        service.transcribe(
            file, TranscriptionLanguage::english, [&](const TranscriptionEvent& event) {
                const auto* p = std::get_if<TranscriptionEvent::Progress>(&event.value);
                if (cancelAfterMs >= 0 && p &&
                    p->message.startsWith(QStringLiteral("Transcribing chunk 1 ")))
                    QMetaObject::invokeMethod(&loop, [&] {
                        QThread::msleep(cancelAfterMs);
                        cancelled = std::chrono::steady_clock::now();
                        service.cancel();
                    });
                if (!event.isFinal())
                    return;
                if (cancelAfterMs >= 0)
                    latency = std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - cancelled)
                                  .count();
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit);
            });
        loop.exec();
        return latency;
    };
    runUntil(warmUp, -1);
    double best = 1e9;
    for (int round = 0; round < rounds; ++round)
        best = std::min(best, runUntil(mp3, 1500));
    return best;
}

double wordErrorRate(const QStringList& ids, const QByteArray& transcripts) {
    const QList<QByteArray> lines = transcripts.split('\n');
    int errors = 0;
    int words = 0;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QStringList reference = fixtures::referenceWords(ids[i]);
        const QStringList hypothesis =
            QString::fromUtf8(lines.value(i)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        errors += fixtures::wordErrors(reference, hypothesis);
        words += int(reference.size());
    }
    return double(errors) / words;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--convert"))
        return convertOnce(args[2], args[3]);
    if (args.size() >= 3 && args[1] == QLatin1String("--transcribe"))
        return transcribeAll(args.mid(3), args[2]);

    QTemporaryDir dir;
    const QStringList ids = fixtures::librivoxIds();
    QStringList wavs;
    for (const QString& id : ids)
        wavs.append(recording(id));

    // 10 and 60 minutes of speech, as users' MP3s are: 44.1 kHz stereo.
    const QString speech = dir.filePath(QStringLiteral("speech.wav"));
    QStringList concat;
    for (const QString& wav : wavs)
        concat << QStringLiteral("-i") << wav;
    concat << QStringLiteral("-filter_complex")
           << QStringLiteral("concat=n=%1:v=0:a=1").arg(wavs.size()) << speech;
    const QString tenMinutes = dir.filePath(QStringLiteral("ten.mp3"));
    const QString hour = dir.filePath(QStringLiteral("hour.mp3"));
    const auto loopTo = [&](const QString& out, int seconds) {
        return fixtures::ffmpeg(
            {QStringLiteral("-stream_loop"), QStringLiteral("-1"), QStringLiteral("-i"), speech,
             QStringLiteral("-t"), QString::number(seconds), QStringLiteral("-ar"),
             QStringLiteral("44100"), QStringLiteral("-ac"), QStringLiteral("2"),
             QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), out});
    };
    if (!fixtures::ffmpeg(concat) || !loopTo(tenMinutes, 600) || !loopTo(hour, 3600)) {
        std::fprintf(stderr, "cannot make the test files\n");
        return 1;
    }

    const QString out = dir.filePath(QStringLiteral("out.wav"));
    double ours = 1e9;
    double reference = 1e9;
    for (int round = 0; round < rounds; ++round) {
        ours = std::min(
            ours, bench::timeCommand(args[0], {QStringLiteral("--convert"), tenMinutes, out}));
        reference = std::min(
            reference,
            bench::timeCommand(QStringLiteral("ffmpeg"),
                               {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                                QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"),
                                tenMinutes, QStringLiteral("-ac"), QStringLiteral("1"),
                                QStringLiteral("-ar"), QStringLiteral("16000"),
                                QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), out}));
    }
    QByteArray peak;
    if (bench::timeCommand(args[0], {QStringLiteral("--convert"), hour, out}, &peak) < 0 ||
        ours < 0 || reference < 0) {
        std::fprintf(stderr, "conversion failed\n");
        return 1;
    }

    const auto continuousOn = [&](const QString& wav, QByteArray* text) {
        return bench::timeCommand(QStringLiteral("pocketsphinx_continuous"),
                                  {QStringLiteral("-infile"), wav, QStringLiteral("-hmm"),
                                   modelDir + QStringLiteral("/en-us"), QStringLiteral("-lm"),
                                   modelDir + QStringLiteral("/en-us.lm.bin"),
                                   QStringLiteral("-dict"),
                                   modelDir + QStringLiteral("/cmudict-en-us.dict"),
                                   QStringLiteral("-logfn"), QStringLiteral("/dev/null")},
                                  text);
    };
    const QString work = dir.filePath(QStringLiteral("work"));
    QByteArray engineText;
    QByteArray continuousText;
    if (bench::timeCommand(args[0], QStringList{QStringLiteral("--transcribe"), work} + wavs,
                           &engineText) < 0)
        return 1;
    for (const QString& wav : wavs) {
        QByteArray text;
        continuousOn(wav, &text);
        continuousText += text.simplified() + '\n';
    }

    // Ten minutes, the engine on the MP3 a user has, the reference on 16 kHz WAVE.
    const QString tenMinutesWave = dir.filePath(QStringLiteral("ten.wav"));
    if (!fixtures::ffmpeg({QStringLiteral("-i"), tenMinutes, QStringLiteral("-ac"),
                           QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("16000"),
                           tenMinutesWave}))
        return 1;
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    const auto started = std::chrono::steady_clock::now();
    child.start(args[0], {QStringLiteral("--transcribe"), work, tenMinutes});
    child.waitForFinished(-1);
    const double engine =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double transcriptionPeak =
        child.readAllStandardError().trimmed().split(' ').last().toDouble() / 1e6;
    const double continuous = continuousOn(tenMinutesWave, nullptr);
    if (child.exitCode() != 0 || continuous < 0)
        return 1;

    std::printf("convert 10 min MP3: engine %.3f s, ffmpeg %.3f s (best of %d)\n", ours, reference,
                rounds);
    std::printf("transcribe 10 min: engine %.1f s on %d threads, pocketsphinx_continuous %.1f s\n",
                engine, QThread::idealThreadCount(), continuous);
    std::printf("word error rate: engine %.3f, pocketsphinx_continuous %.3f\n",
                wordErrorRate(ids, engineText), wordErrorRate(ids, continuousText));
    std::printf("conversion_time_ratio: %.2f (target <= 1.0)\n", ours / reference);
    std::printf("conversion_peak_memory_60min_mb: %.1f (target < 64)\n",
                peak.trimmed().toDouble() / 1e6);
    std::printf("transcription_time_ratio: %.2f (target <= 0.40)\n", engine / continuous);
    std::printf("transcription_peak_memory_mb: %.1f (target < 400)\n", transcriptionPeak);
    std::printf("cancel_latency_ms: %.0f (target < 500)\n",
                cancelLatencyMs(tenMinutes, wavs.first(), dir.filePath(QStringLiteral("work"))));
    return 0;
}
