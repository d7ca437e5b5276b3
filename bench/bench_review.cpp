// The review window against references measured in the same run: opening it on 3,000
// segments against a QPlainTextEdit showing the same text; a row click to the first
// sound handed to the output against ffmpeg decoding from the same point; reading the
// envelope of a 60-minute MP3 against ffmpeg decoding it to nothing; and the peak
// memory of a window open on that recording (a child process of its own).
#include "BenchSupport.h"
#include "app/ReviewWindow.h"
#include "core/TranscriptRendering.h"
#include "playback/Player.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "review/ReviewModel.h"
#include "review/WaveformPeaks.h"
#include "support/AudioFixtures.h"
#include "support/TestDoubles.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

constexpr int segmentCount = 3000;

// An hour of one narrator: the five LibriVox recordings, over and over.
bool makeHourLongMp3(const QTemporaryDir& dir, const QString& path) {
    QStringList arguments;
    const QStringList ids = fixtures::librivoxIds();
    for (const QString& id : ids)
        arguments << QStringLiteral("-i") << fixtures::librivoxDirectory() + u'/' + id + u".wav";
    const QString once = dir.filePath(QStringLiteral("once.wav"));
    arguments << QStringLiteral("-filter_complex")
              << QStringLiteral("concat=n=%1:v=0:a=1").arg(ids.size()) << once;
    return fixtures::ffmpeg(arguments) &&
           fixtures::ffmpeg({QStringLiteral("-stream_loop"), QStringLiteral("-1"),
                             QStringLiteral("-i"), once, QStringLiteral("-t"),
                             QStringLiteral("3600"), QStringLiteral("-ac"), QStringLiteral("2"),
                             QStringLiteral("-ar"), QStringLiteral("44100"), QStringLiteral("-b:a"),
                             QStringLiteral("128k"), path});
}

// Subtitles over the hour, 1.2 s each, as a reviewer would bring them.
QString subtitlesFor(int count) {
    QList<TranscriptSegment> segments;
    for (int i = 0; i < count; ++i)
        segments.append({QStringLiteral("segment %1 of the long narration").arg(i + 1), i * 1.2,
                         i * 1.2 + 1.0});
    return srtRendering(segments);
}

struct Review {
    std::unique_ptr<test::TestController> controller = std::make_unique<test::TestController>();

    // The subtitles beside the recording, opened as File → Review Subtitles does.
    bool open(const QString& subtitles) {
        controller->dialogs.openAnswers = {QUrl::fromLocalFile(subtitles)};
        return controller->vm->openSubtitlesForReview();
    }
};

// Runs the event loop until `widget` has been painted once; the seconds it took.
double secondsToFirstPaint(QWidget& widget, const QElapsedTimer& since) {
    struct Watch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } watch;
    widget.installEventFilter(&watch);
    widget.show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    widget.removeEventFilter(&watch);
    return since.nsecsElapsed() / 1e9;
}

double percentile90(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(qsizetype(0.9 * double(values.size() - 1)));
}

// The child: a review window open on the recording until its envelope is read and a
// few seconds have played; prints its peak memory.
int memoryChild(const QString& subtitles) {
    Review review;
    if (!review.open(subtitles))
        return 1;
    ReviewWindow window(*review.controller->vm);
    window.show();
    QElapsedTimer clock;
    clock.start();
    window.player().playFrom(600.0);
    while (clock.elapsed() < 3000 || window.findChild<QThread*>()->isRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("%lld\n", bench::peakResidentBytes());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--memory") == 0)
        return memoryChild(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    const QString recording = dir.filePath(QStringLiteral("narration.mp3"));
    const QString subtitles = dir.filePath(QStringLiteral("narration.srt"));
    if (!makeHourLongMp3(dir, recording)) {
        std::fprintf(stderr, "could not make the recording\n");
        return 1;
    }
    QFile file(subtitles);
    if (!file.open(QIODevice::WriteOnly) || file.write(subtitlesFor(segmentCount).toUtf8()) < 0)
        return 1;
    file.close();

    // Opening: the window with its table, player and envelope reading started, against a
    // plain text view of the same rows. Best of five each.
    double windowBest = 1e9;
    double plainBest = 1e9;
    for (int round = 0; round < 5; ++round) {
        Review review;
        if (!review.open(subtitles))
            return 1;
        QElapsedTimer clock;
        clock.start();
        auto window = std::make_unique<ReviewWindow>(*review.controller->vm);
        windowBest = std::min(windowBest, secondsToFirstPaint(*window, clock));

        QStringList lines;
        for (const TranscriptSegment& segment : review.controller->vm->segments())
            lines.append(ReviewModel::timeText(segment.startTime) + u'\t' +
                         ReviewModel::timeText(segment.endTime) + u'\t' + segment.text);
        clock.restart();
        QPlainTextEdit plain;
        plain.setPlainText(lines.join(u'\n'));
        plainBest = std::min(plainBest, secondsToFirstPaint(plain, clock));
    }

    // Seeking: rows far apart clicked in turn, to the first sound handed on.
    QList<double> seeks;
    QList<double> references;
    {
        Review review;
        review.open(subtitles);
        ReviewWindow window(*review.controller->vm);
        window.show();
        Player& player = window.player();
        bool started = false;
        QObject::connect(&player, &Player::outputStarted, [&] { started = true; });
        for (int i = 0; i < 20; ++i) {
            const double at = (i * 7919 % segmentCount) * 1.2;
            started = false;
            QElapsedTimer clock;
            clock.start();
            player.playFrom(at);
            while (!started && clock.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            seeks.append(clock.nsecsElapsed() / 1e6);
            references.append(
                bench::timeCommand(QStringLiteral("ffmpeg"),
                                   {QStringLiteral("-v"), QStringLiteral("quiet"),
                                    QStringLiteral("-ss"), QString::number(at),
                                    QStringLiteral("-i"), recording, QStringLiteral("-t"),
                                    QStringLiteral("0.1"), QStringLiteral("-f"),
                                    QStringLiteral("null"), QStringLiteral("-")}) *
                1000.0);
        }
        player.pause();
    }

    // The envelope against decoding to nothing. Best of three each.
    double peaksBest = 1e9;
    double ffmpegBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        if (!std::holds_alternative<WaveformPeaks>(WaveformPeaks::compute(recording)))
            return 1;
        peaksBest = std::min(peaksBest, clock.nsecsElapsed() / 1e9);
        ffmpegBest = std::min(
            ffmpegBest, bench::timeCommand(QStringLiteral("ffmpeg"),
                                           {QStringLiteral("-v"), QStringLiteral("quiet"),
                                            QStringLiteral("-i"), recording, QStringLiteral("-f"),
                                            QStringLiteral("null"), QStringLiteral("-")}));
    }

    QByteArray memory;
    if (bench::timeCommand(QCoreApplication::applicationFilePath(),
                           {QStringLiteral("--memory"), subtitles}, &memory) < 0)
        return 1;
    const double memoryMb = memory.trimmed().toDouble() / (1024.0 * 1024.0);

    std::printf("review window, 3000 rows: %.1f ms; plain text view: %.1f ms\n", windowBest * 1000,
                plainBest * 1000);
    std::printf("seek to first sound, 90th percentile: %.1f ms; ffmpeg from the same "
                "point: %.1f ms\n",
                percentile90(seeks), percentile90(references));
    std::printf("envelope of 60 minutes: %.2f s; ffmpeg decoding to nothing: %.2f s\n", peaksBest,
                ffmpegBest);
    std::printf("review_open_ratio: %.2f (target <= 3)\n", windowBest / plainBest);
    std::printf("review_seek_latency_ms: %.1f (target < 150)\n", percentile90(seeks));
    std::printf("waveform_peaks_ratio: %.2f (target <= 1.2)\n", peaksBest / ffmpegBest);
    std::printf("review_peak_memory_mb: %.1f (target < 150)\n", memoryMb);
    return 0;
}
