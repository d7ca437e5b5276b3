// A 60-minute 128 kbps stereo MP3 through a provider: cutting it into parts that fit
// 25 MB against ffmpeg's own stream-copy segmenter on the same file, with peak memory,
// then the whole job against a loopback provider that refuses bodies over 25 MB.
#include "BenchSupport.h"
#include "support/AudioFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/UploadPreparation.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;
using Server = test::LoopbackHttpServer;

namespace {

constexpr qint64 limit = 25'000'000;
constexpr int rounds = 3;

// Child: one preparation in a fresh process, printing seconds, parts and peak memory.
int prepareOnce(const QString& source, const QString& workDirectory) {
    QString error;
    const auto start = std::chrono::steady_clock::now();
    const auto parts = UploadPreparation::prepare(source, workDirectory, limit, error);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!parts) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qint64 largest = 0;
    for (const UploadPreparation::Part& part : *parts) {
        largest = std::max(largest, QFileInfo(part.path).size());
        QFile::remove(part.path);
    }
    std::printf("%.6f %lld %lld %lld\n", elapsed.count(), qlonglong(parts->size()),
                qlonglong(largest), static_cast<long long>(bench::peakResidentBytes()));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--prepare-once"))
        return prepareOnce(args[2], args[3]);

    QTemporaryDir dir;
    // Speech-like: 9 s of sound and 1 s of silence, over and over.
    const QString mp3 = dir.filePath(QStringLiteral("podcast.mp3"));
    if (!fixtures::ffmpeg(
            {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("sine=frequency=220:duration=3600"), QStringLiteral("-af"),
             QStringLiteral("volume='if(lt(mod(t,10),9),1,0)':eval=frame"), QStringLiteral("-ac"),
             QStringLiteral("2"), QStringLiteral("-b:a"), QStringLiteral("128k"), mp3}))
        return 1;
    const QString work = dir.filePath(QStringLiteral("work"));
    QDir().mkpath(work);

    double bestOurs = 1e9;
    double bestFfmpeg = 1e9;
    qint64 peak = 0;
    QList<QByteArray> fields;
    for (int round = 0; round < rounds; ++round) {
        QByteArray output;
        const double wall =
            bench::timeCommand(args[0], {QStringLiteral("--prepare-once"), mp3, work}, &output);
        if (wall < 0)
            return 1;
        fields = output.trimmed().split(' ');
        bestOurs = std::min(bestOurs, fields.value(0).toDouble());
        peak = std::max(peak, fields.value(3).toLongLong());
        const double ffmpeg = bench::timeCommand(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-y"),
             QStringLiteral("-i"), mp3, QStringLiteral("-c"), QStringLiteral("copy"),
             QStringLiteral("-f"), QStringLiteral("segment"), QStringLiteral("-segment_time"),
             QStringLiteral("1500"), work + QStringLiteral("/part%d.mp3")});
        if (ffmpeg < 0)
            return 1;
        bestFfmpeg = std::min(bestFfmpeg, ffmpeg);
    }
    std::printf("cutting %.1f MB: %.3f s in %s parts (largest %.1f MB), ffmpeg segment: %.3f s\n",
                QFileInfo(mp3).size() / 1e6, bestOurs, fields.value(1).constData(),
                fields.value(2).toDouble() / 1e6, bestFfmpeg);

    // The whole job against a provider that refuses bodies over the limit.
    bench::ThreadedServer server([](Server& server) {
        server.setKeepBodies(false);
        server.setResponder([](const Server::Request& request) {
            if (request.bodySize > limit)
                return Server::Response(413, "too large");
            return Server::Response(200, R"({"segments":[{"start":0,"end":1,"text":"x"}]})");
        });
    });
    ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout, limit, work);
    std::atomic<bool> ok = false;
    const auto start = std::chrono::steady_clock::now();
    service.transcribe(mp3,
                       CustomProvider::create(QStringLiteral("Bench"), server.baseUrl(),
                                              QStringLiteral("whisper-1")),
                       QStringLiteral("sk-bench"), TranscriptionLanguage::english,
                       [&](const TranscriptionEvent& event) {
                           if (!event.isFinal())
                               return;
                           ok = std::holds_alternative<TranscriptionEvent::Success>(event.value);
                           QMetaObject::invokeMethod(qApp, &QCoreApplication::quit,
                                                     Qt::QueuedConnection);
                       });
    QCoreApplication::exec();
    const std::chrono::duration<double> endToEnd = std::chrono::steady_clock::now() - start;
    qint64 sent = 0;
    qsizetype requests = 0;
    server.onServerThread([&] {
        requests = server.server().requests().size();
        for (const Server::Request& request : server.server().requests())
            sent += request.bodySize;
    });
    if (!ok)
        return 1;
    std::printf("end to end: %lld requests, %.1f MB sent\n", qlonglong(requests), sent / 1e6);

    std::printf("long_recording_prepare_ratio: %.2f (target <= 2.0)\n", bestOurs / bestFfmpeg);
    std::printf("long_recording_prepare_peak_memory_mb: %.1f (target < 64)\n", peak / 1e6);
    std::printf("long_recording_end_to_end_s: %.2f (completed)\n", endToEnd.count());
    return 0;
}
