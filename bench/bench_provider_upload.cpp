// Uploads a 200 MB recording through the provider engine and through curl to the same
// loopback server, and reports the time ratio and the engine's peak memory.
#include "BenchSupport.h"
#include "support/AudioFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "transcription/ExternalTranscriptionService.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

constexpr qint64 fileSize = 200'000'000;
constexpr int rounds = 3;

// Child mode: one upload in a fresh process, printing seconds and peak memory.
int uploadOnce(const QString& path, const QString& baseUrl) {
    // One upload of the whole file: a limit above its size.
    ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout,
                                         fileSize * 2);
    const CustomProvider provider =
        CustomProvider::create(QStringLiteral("Bench"), baseUrl, QStringLiteral("whisper-1"));
    std::atomic<bool> ok = false;
    const auto start = std::chrono::steady_clock::now();
    // The final event comes from the transfer's thread.
    service.transcribe(path, provider, QStringLiteral("sk-bench"), TranscriptionLanguage::english,
                       [&](const TranscriptionEvent& event) {
                           if (!event.isFinal())
                               return;
                           ok = std::holds_alternative<TranscriptionEvent::Success>(event.value);
                           QMetaObject::invokeMethod(qApp, &QCoreApplication::quit,
                                                     Qt::QueuedConnection);
                       });
    QCoreApplication::exec();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.6f %lld\n", elapsed.count(), static_cast<long long>(bench::peakResidentBytes()));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--upload-once"))
        return uploadOnce(args[2], args[3]);

    QTemporaryDir dir;
    // Noise as 48 kHz 16-bit WAVE: a file the engine accepts as it is, that no
    // compression along the way could shrink.
    const QString path = dir.filePath(QStringLiteral("upload.wav"));
    if (!fixtures::ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("anoisesrc=r=48000:d=") +
                               QString::number(double(fileSize) / 96'000, 'f', 3),
                           QStringLiteral("-ac"), QStringLiteral("1"), path}))
        return 1;

    // Only a body that holds the whole file counts as an upload.
    bench::ThreadedServer server([](test::LoopbackHttpServer& server) {
        server.setKeepBodies(false);
        server.setResponder([](const test::LoopbackHttpServer::Request& request) {
            return test::LoopbackHttpServer::Response(request.bodySize > fileSize ? 200 : 400,
                                                      R"({"text":"ok"})");
        });
    });
    const QString baseUrl = server.baseUrl() + QStringLiteral("/v1");

    double bestEngine = 1e9;
    double bestCurl = 1e9;
    qint64 peak = 0;
    for (int round = 0; round < rounds; ++round) {
        QByteArray output;
        if (bench::timeCommand(args[0], {QStringLiteral("--upload-once"), path, baseUrl}, &output) <
            0) {
            std::fprintf(stderr, "engine upload failed\n");
            return 1;
        }
        const QList<QByteArray> fields = output.trimmed().split(' ');
        bestEngine = std::min(bestEngine, fields.value(0).toDouble());
        peak = std::max(peak, fields.value(1).toLongLong());

        const double curl = bench::timeCommand(
            QStringLiteral("curl"),
            {QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
             QStringLiteral("-H"), QStringLiteral("Expect:"), QStringLiteral("-H"),
             QStringLiteral("Authorization: Bearer sk-bench"), QStringLiteral("-F"),
             QStringLiteral("model=whisper-1"), QStringLiteral("-F"),
             QStringLiteral("response_format=verbose_json"), QStringLiteral("-F"),
             QStringLiteral("language=en"), QStringLiteral("-F"),
             QStringLiteral("file=@") + path + QStringLiteral(";type=audio/wav"),
             baseUrl + QStringLiteral("/audio/transcriptions")});
        if (curl < 0) {
            std::fprintf(stderr, "curl upload failed\n");
            return 1;
        }
        bestCurl = std::min(bestCurl, curl);
    }

    std::printf("engine upload: %.3f s, curl -F: %.3f s (best of %d)\n", bestEngine, bestCurl,
                rounds);
    std::printf("engine peak resident memory: %.1f MB for a %.1f MB file\n", peak / 1e6,
                fileSize / 1e6);
    std::printf("upload_time_ratio: %.2f (target <= 1.3)\n", bestEngine / bestCurl);
    std::printf("upload_peak_memory_mb: %.1f (target < 64)\n", peak / 1e6);
    return 0;
}
