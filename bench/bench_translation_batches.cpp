// Translates subtitle files of 150, 1,500 and 15,000 blocks against a loopback
// server that answers each batch with its own text, and compares the time per
// batch with a bare request/answer of the same size. Also times the splitting of
// CRLF subtitle files ten times apart in size.
#include "BenchSupport.h"
#include "support/ChatFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "translation/TranslationService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace vocalith;
using Server = test::LoopbackHttpServer;

namespace {

QString subtitles(int blocks, const char* eol = "\n") {
    QString text;
    const QString end = QString::fromLatin1(eol);
    for (int i = 1; i <= blocks; ++i) {
        const int s = i * 3;
        text +=
            QString::asprintf("%d%s%02d:%02d:%02d,000 --> %02d:%02d:%02d,500%s", i, eol, s / 3600,
                              s / 60 % 60, s % 60, s / 3600, s / 60 % 60, s % 60, eol) +
            QStringLiteral("This is the spoken line number %1 of the film.").arg(i) + end + end;
    }
    return text;
}

// Seconds to split a CRLF subtitle file of that many blocks, best of five.
double splitSeconds(int blocks) {
    const QString text = subtitles(blocks, "\r\n");
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype found = TranslationService::splitSRTBlocks(text).size();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
        if (found != blocks)
            qFatal("split %lld blocks instead of %d", qlonglong(found), blocks);
    }
    return best;
}

// Seconds for one whole job.
double translate(TranslationService& service, const CustomProvider& provider, int blocks) {
    const QString text = subtitles(blocks);
    QEventLoop loop;
    bool ok = false;
    QElapsedTimer timer;
    timer.start();
    service.translateSRT(text, QStringLiteral("German"), provider, QStringLiteral("sk"),
                         [&](const TranslationEvent& event) {
                             if (!event.isFinal())
                                 return;
                             ok = std::holds_alternative<TranslationEvent::Success>(event.value);
                             loop.quit();
                         });
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!ok)
        qFatal("translation of %d blocks failed", blocks);
    return seconds;
}

// Seconds for one bare request/answer carrying one batch, averaged.
double bareExchange(const QString& url, const QByteArray& body, int repeats) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < repeats; ++i) {
        QEventLoop loop;
        QNetworkReply* reply = network.post(request, body);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->readAll();
        reply->deleteLater();
    }
    return timer.nsecsElapsed() / 1e9 / repeats;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);

    bench::ThreadedServer threaded(
        [](Server& server) { server.setResponder(test::echoingChat()); });
    const Server* server = &threaded.server();

    const CustomProvider provider =
        CustomProvider::create(QStringLiteral("Bench"), server->baseUrl(), QStringLiteral("m"));
    TranslationService service;

    // One batch's request body, as the job sends it.
    const QStringList blocks = TranslationService::splitSRTBlocks(subtitles(15));
    const QJsonObject batchBody{
        {QStringLiteral("model"), QStringLiteral("m")},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                {QStringLiteral("content"),
                                 TranslationService::srtSystemPrompt(QStringLiteral("German"))}},
                    QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), blocks.join(QStringLiteral("\n\n"))}}}},
        {QStringLiteral("temperature"), 0.3}};
    const QByteArray body = QJsonDocument(batchBody).toJson(QJsonDocument::Compact);
    bareExchange(server->baseUrl() + QStringLiteral("/chat/completions"), body, 20); // warm-up
    const double bare =
        bareExchange(server->baseUrl() + QStringLiteral("/chat/completions"), body, 300);

    translate(service, provider, 150); // warm-up
    double perBlock[3] = {};
    double perBatch1500 = 0;
    const int sizes[3] = {150, 1500, 15000};
    for (int i = 0; i < 3; ++i) {
        const double seconds = translate(service, provider, sizes[i]);
        const int batches = (sizes[i] + 14) / 15;
        perBlock[i] = seconds / sizes[i];
        if (sizes[i] == 1500)
            perBatch1500 = seconds / batches;
        std::printf("%6d blocks, %5d batches: %.3f s, %.3f ms per batch\n", sizes[i], batches,
                    seconds, seconds / batches * 1e3);
    }
    std::printf("bare loopback exchange of one batch: %.3f ms\n", bare * 1e3);

    const double split50k = splitSeconds(50'000);
    const double split500k = splitSeconds(500'000);
    std::printf("splitting CRLF subtitles: 50,000 blocks %.3f s, 500,000 blocks %.3f s\n", split50k,
                split500k);
    std::printf("translation_overhead_per_batch_ms: %.3f (target <= 3)\n",
                (perBatch1500 - bare) * 1e3);
    std::printf("translation_time_per_block_growth_1500_to_15000: %.2f (target <= 1.2, 1.0 is "
                "linear)\n",
                perBlock[2] / perBlock[1]);
    std::printf("translation_time_per_block_growth_150_to_1500: %.2f (target <= 1.2, 1.0 is "
                "linear)\n",
                perBlock[1] / perBlock[0]);
    std::printf(
        "srt_split_crlf_growth_50k_to_500k: %.2f (target < 2, 1.0 is linear, 10 quadratic)\n",
        split500k / split50k / 10);
    return 0;
}
