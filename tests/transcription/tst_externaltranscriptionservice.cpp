#include "core/TranscriptRendering.h"
#include "providers/ProviderHttp.h"
#include "providers/RateLimit.h"
#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/SoundFile.h"
#include "transcription/VerboseResponse.h"

#include <QDir>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

using namespace vocalith;
using namespace vocalith::test;
using Server = LoopbackHttpServer;

namespace {

// A real second of MP3, made by ffmpeg when the test starts.
QByteArray audioBytes;

using Job = EventLog<TranscriptionEvent>;

CustomProvider providerAt(const QString& baseURL) {
    return CustomProvider::create(u"Groq"_qs, baseURL, u"whisper-large-v3"_qs);
}

// Runs one job to its final event.
Job run(ExternalTranscriptionService& service, const QString& path, const CustomProvider& provider,
        TranscriptionLanguage language = TranscriptionLanguage::autoDetect,
        const QString& key = u"sk-test"_qs) {
    Job job;
    service.transcribe(path, provider, key, language, job.queuedHandler());
    if (!QTest::qWaitFor([&] { return job.finished(); }, 20'000))
        qWarning("job did not finish");
    return job;
}

QByteArray textField(const QByteArray& boundary, const QByteArray& name, const QByteArray& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

// The values of a multipart body's text fields of that name, in order.
QList<QByteArray> fieldValues(const QByteArray& body, const QByteArray& name) {
    QList<QByteArray> values;
    const QByteArray head = "form-data; name=\"" + name + "\"\r\n\r\n";
    for (qsizetype at = body.indexOf(head); at >= 0; at = body.indexOf(head, at + 1))
        values.append(
            body.mid(at + head.size(), body.indexOf("\r\n", at + head.size()) - at - head.size()));
    return values;
}

// A server's answer: "label|start|end" for each segment, its text the label's.
QByteArray labelled(const QStringList& segments, const QString& key = u"speaker"_qs) {
    QJsonArray array;
    for (const QString& segment : segments) {
        const QStringList fields = segment.split(u'|');
        QJsonObject object{{u"start"_qs, fields[1].toDouble()},
                           {u"end"_qs, fields[2].toDouble()},
                           {u"text"_qs, QString(fields[0] + u'.')}};
        if (!fields[0].isEmpty())
            object.insert(key, fields[0]);
        array.append(object);
    }
    return QJsonDocument(QJsonObject{{u"segments"_qs, array}}).toJson();
}

// The samples of a 16 kHz mono 16-bit WAVE, or nothing when it is not one.
std::vector<short> waveSamples(const QString& path) {
    SF_INFO info{};
    const SoundFile file(sf_open(path.toUtf8().constData(), SFM_READ, &info));
    const bool wave = info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) &&
                      info.samplerate == 16000 && info.channels == 1;
    std::vector<short> samples(wave ? size_t(info.frames) : 0);
    sf_read_short(file.get(), samples.data(), sf_count_t(samples.size()));
    return samples;
}

} // namespace

class TestExternalTranscriptionService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() {
        const QString mp3 = m_dir.filePath(u"tone.mp3"_qs);
        QVERIFY(AudioFixtures::ffmpeg(
            {u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"sine=duration=1"_qs, u"-ac"_qs, u"1"_qs, mp3}));
        audioBytes = readFile(mp3);
    }

    void requestIsByteExact_data() {
        QTest::addColumn<TranscriptionLanguage>("language");
        QTest::addColumn<QByteArray>("languageField");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("sentName"); // quotes and line breaks cannot break out
        QTest::newRow("automatic")
            << TranscriptionLanguage::autoDetect << QByteArray() << u"My talk – Zoë 日本.mp3"_qs
            << u"My talk – Zoë 日本.mp3"_qs.toUtf8();
        QTest::newRow("english") << TranscriptionLanguage::english << QByteArray("en")
                                 << u"a\"b\r\nX-Injected: 1.mp3"_qs
                                 << QByteArray("a%22b%0D%0AX-Injected: 1.mp3");
        QTest::newRow("cantonese") << TranscriptionLanguage::chineseCantonese << QByteArray("zh")
                                   << u"c.mp3"_qs << QByteArray("c.mp3");
    }
    void requestIsByteExact() {
        QFETCH(TranscriptionLanguage, language);
        QFETCH(QByteArray, languageField);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, sentName);
        Server server;
        server.enqueue(
            {200,
             R"({"text":"a b","segments":[{"id":0,"start":0.0,"end":1.25,"text":" Hello "},)"
             R"({"start":1.25,"end":2.5,"text":"\tworld\n\n2\n00:00:09,000 --> 00:00:10,000\nforged\n"}]})"});
        const QString path = writeFile(m_dir.filePath(fileName), audioBytes);
        ExternalTranscriptionService service;
        const QString key = u" sk-key ü "_qs;

        const Job job = run(service, path, providerAt(server.baseUrl() + u"/v1"_qs), language, key);

        QCOMPARE(server.requests().size(), 1);
        const Server::Request& request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/audio/transcriptions"));
        QCOMPARE(request.header("Authorization"), "Bearer " + key.toUtf8());
        const QByteArray contentType = request.header("Content-Type");
        QVERIFY(contentType.startsWith("multipart/form-data; boundary=Boundary-"));
        const QByteArray boundary = contentType.mid(contentType.indexOf('=') + 1);
        QCOMPARE(boundary.size(), 45);
        QCOMPARE(boundary, boundary.toUpper().replace("BOUNDARY-", "Boundary-"));

        QByteArray expected = textField(boundary, "model", "whisper-large-v3") +
                              textField(boundary, "response_format", "verbose_json");
        if (!languageField.isEmpty())
            expected += textField(boundary, "language", languageField);
        expected += "--" + boundary +
                    "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + sentName +
                    "\"\r\nContent-Type: audio/mpeg\r\n\r\n" + audioBytes + "\r\n--" + boundary +
                    "--\r\n";
        QCOMPARE(request.body, expected);

        const QList<TranscriptionEvent> expectedEvents{
            TranscriptionEvent::progress(0.05, u"Preparing upload to Groq..."_qs),
            TranscriptionEvent::progress(0.2, u"Uploading & transcribing via Groq..."_qs),
            TranscriptionEvent::progress(0.8, u"Uploading & transcribing via Groq..."_qs),
            TranscriptionEvent::progress(0.9, u"Parsing transcription..."_qs),
            TranscriptionEvent::progress(1.0, u"Complete"_qs),
            // A reply's line breaks can neither end a cue early nor forge another.
            TranscriptionEvent::success(
                {{u"Hello"_qs, 0.0, 1.25},
                 {u"world 2 00:00:09,000 --> 00:00:10,000 forged"_qs, 1.25, 2.5}})};
        QCOMPARE(job.events, expectedEvents);
    }

    // Which servers may go without a key, how long a 429 is waited out, and the time-out
    // preference.
    void providerRules() {
        for (const QString& local :
             {u"http://127.0.0.1:8080/v1"_qs, u"http://localhost:9000"_qs, u"http://[::1]/v1"_qs,
              u"http://10.1.2.3/v1"_qs, u"http://172.31.0.9"_qs, u"http://192.168.1.20:8000"_qs,
              u"http://[fd12::1]:8000"_qs, u"http://whisper.local/v1"_qs})
            QVERIFY2(ProviderHttp::isLocalServer(local), qPrintable(local));
        for (const QString& remote : {u"https://api.groq.com/openai/v1"_qs, u"http://172.32.0.1"_qs,
                                      u"http://11.0.0.1"_qs, u""_qs})
            QVERIFY2(!ProviderHttp::isLocalServer(remote), qPrintable(remote));

        using std::chrono::milliseconds;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto refused = [](const QByteArray& retryAfter, int status = 429) {
            HttpAnswer answer;
            answer.status = status;
            if (!retryAfter.isEmpty())
                answer.headers.append({"retry-after", retryAfter});
            return answer;
        };
        const struct {
            HttpAnswer answer;
            int attempt;
            milliseconds waited;
            std::optional<milliseconds> wait;
        } rows[] = {
            {refused("2"), 1, {}, milliseconds(2000)},
            {refused(now.addSecs(38).toString(Qt::RFC2822Date).toLatin1()),
             1,
             {},
             milliseconds(38000)},
            {refused({}), 1, {}, milliseconds(2000)},
            {refused({}), 3, {}, milliseconds(8000)},
            {refused("700"), 1, {}, std::nullopt},                  // longer than anyone waits
            {refused("5"), 4, milliseconds(598'000), std::nullopt}, // waited enough
            {refused("2", 503), 1, {}, std::nullopt},               // only 429 is sent again
            // Never sent again at once, nor more than ten times in all.
            {refused("0"), 1, {}, milliseconds(1000)},
            {refused(now.addSecs(-60).toString(Qt::RFC2822Date).toLatin1()),
             1,
             {},
             milliseconds(1000)},
            {refused("0"), 10, {}, std::nullopt},
        };
        for (const auto& row : rows) {
            const auto wait = RateLimit::nextWait(row.answer, row.attempt, row.waited, now);
            QVERIFY(wait.has_value() == row.wait.has_value());
            if (wait) // an HTTP date has whole seconds
                QVERIFY2(std::abs((*wait - *row.wait).count()) < 1000,
                         qPrintable(QString::number(wait->count())));
        }

        // Preferences that are no number, or leave no room, count as unset.
        QSettings settings;
        for (const auto& [value, seconds, bytes] :
             {std::tuple{u"lots"_qs, 120, ExternalTranscriptionService::defaultUploadLimit},
              {u"5"_qs, 120, ExternalTranscriptionService::defaultUploadLimit},
              {u"3000000"_qs, 3'000'000, qint64(3'000'000)}}) {
            settings.setValue(ProviderHttp::timeoutKey(), value);
            settings.setValue(ExternalTranscriptionService::uploadLimitKey(), value);
            QCOMPARE(ProviderHttp::timeoutSetting(std::chrono::seconds(120)),
                     std::chrono::seconds(seconds));
            QCOMPARE(ExternalTranscriptionService::uploadLimitSetting(), bytes);
        }
        settings.clear();
    }

    void endpointRule() {
        using ProviderHttp::endpoint;
        const QString path = u"/audio/transcriptions"_qs;
        QCOMPARE(endpoint(u"https://api.example.com/v1//"_qs, path)->path(),
                 u"/v1//audio/transcriptions"_qs);
        for (const QString& bad :
             {u""_qs, u"   "_qs, u"api.example.com/v1"_qs, u"ftp://example.com"_qs, u"https:"_qs,
              u"http://exa mple.com/v1"_qs}) {
            QVERIFY2(!endpoint(bad, path), qPrintable(bad));
        }
    }

    void earlyFailuresSendNothing() {
        Server server;
        ExternalTranscriptionService service;
        const QString file = writeFile(m_dir.filePath(u"early.mp3"_qs), audioBytes);
        const QString gone = writeFile(m_dir.filePath(u"gone.mp3"_qs), audioBytes);
        QFile::remove(gone);

        const auto check = [&](const Job& job, const QString& description) {
            QCOMPARE(job.events.size(), 2);
            QCOMPARE(job.fractions(), QList<double>{0.05});
            QCOMPARE(job.failure(), description);
        };
        // Early failures are reported before transcribe returns.
        Job invalid;
        service.transcribe(file, providerAt(u"not a url"_qs), u"k"_qs,
                           TranscriptionLanguage::autoDetect, invalid.handler());
        check(invalid, u"Invalid provider base URL. Please check the URL format (e.g. "
                       u"https://api.groq.com/openai/v1)."_qs);

        check(run(service, gone, providerAt(server.baseUrl())),
              u"Could not read the audio file."_qs);
        check(run(service, m_dir.path(), providerAt(server.baseUrl())),
              u"Could not read the audio file."_qs);
        for (const QString& key : {u"sk-a\r\nX-Evil: 1"_qs, u"sk-a\n"_qs, u"sk\0a"_qs}) {
            check(run(service, file, providerAt(server.baseUrl()), TranscriptionLanguage::english,
                      key),
                  u"The API key contains a line break or another control character. Edit the "
                  u"provider and enter the key again."_qs);
        }
        QSignalSpy requests(&server, &Server::requestReceived);
        QVERIFY(!requests.wait(50));
    }

    // The model's own scores mark a segment as doubtful; they are kept out of the text.
    void doubtfulSegments() {
        QString error;
        const auto response = VerboseResponse::decode(
            R"({"segments":[
                {"start":0,"end":1,"text":" sure","avg_logprob":-0.2,"no_speech_prob":0.01},
                {"start":1,"end":2,"text":" mumbled","avg_logprob":-1.4,"no_speech_prob":0.1},
                {"start":2,"end":3,"text":" hiss","avg_logprob":-0.3,"no_speech_prob":0.8},
                {"start":3,"end":4,"text":" unscored"}]})",
            error);
        QVERIFY2(response, qPrintable(error));
        QList<double> confidences;
        for (const TranscriptSegment& segment : response->transcriptSegments())
            confidences.append(segment.confidence);
        QCOMPARE(confidences, (QList<double>{1.0, 0.0, 0.0, 1.0}));
        QCOMPARE(plainTextRendering(response->transcriptSegments()),
                 u"sure mumbled hiss unscored"_qs);
    }

    void answers_data() {
        QTest::addColumn<Server::Response>("response");
        QTest::addColumn<QString>("outcome"); // failure text, or the transcript
        QTest::addColumn<QList<double>>("fractions");
        const QList<double> rejected{0.05, 0.2, 0.8}; // the whole body went up
        const QList<double> unparsed{0.05, 0.2, 0.8, 0.9};
        const QList<double> complete{0.05, 0.2, 0.8, 0.9, 1.0};

        QTest::newRow("401")
            << Server::Response{401, R"({"error":{"message":"Invalid API Key"}})"}
            << u"API error (HTTP 401): {\"error\":{\"message\":\"Invalid API Key\"}}"_qs
            << rejected;
        QTest::newRow("500 not utf-8") << Server::Response{500, "\xff\xfe\xfd oops"}
                                       << u"API error (HTTP 500): Unknown error"_qs << rejected;
        QTest::newRow("500 cut mid-character")
            << Server::Response{500, "Gr\xC3\xBC\xC3"} << u"API error (HTTP 500): Unknown error"_qs
            << rejected;
        QTest::newRow("301")
            << Server::Response(301, "moved").withHeader("Location", "http://127.0.0.1:1/elsewhere")
            << u"API error (HTTP 301): moved"_qs << rejected;
        QTest::newRow("not json") << Server::Response{200, "<html>busy</html>"}
                                  << u"Failed to parse the provider response: "_qs << unparsed;
        QTest::newRow("nothing transcribed")
            << Server::Response{200, R"({"text":"","segments":[]})"}
            << u"The provider returned no transcription. The audio may contain no speech."_qs
            << unparsed;
        QTest::newRow("only text, status 299")
            << Server::Response{299, R"({"text":" Whole text "})"} << u" Whole text "_qs
            << complete;
        QTest::newRow("hang up mid-answer")
            << Server::Response{200, R"({"segments":[{"start":0.5,"end":1,"text":"never whole"}]})",
                                Server::Delivery::hangUpMidAnswer}
            << u"Network error: "_qs << rejected;
    }
    void answers() {
        QFETCH(Server::Response, response);
        QFETCH(QString, outcome);
        QFETCH(QList<double>, fractions);
        Server server;
        server.enqueue(response);
        ExternalTranscriptionService service;
        const Job job = run(service, writeFile(m_dir.filePath(u"answer.mp3"_qs), audioBytes),
                            providerAt(server.baseUrl()));

        QCOMPARE(job.fractions(), fractions);
        QCOMPARE(server.requests().size(), 1);
        if (const auto* success =
                std::get_if<TranscriptionEvent::Success>(&job.events.last().value)) {
            QCOMPARE(plainTextRendering(success->segments), outcome);
        } else {
            QVERIFY2(job.failure().startsWith(outcome), qPrintable(job.failure()));
            QVERIFY(job.failure().size() > u"Network error: "_qs.size());
        }
    }

    // One request per action whatever the server does; a cancel ends the job at once
    // with one failure, and nothing follows it.
    void transportFailuresAndCancel_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("requests");
        QTest::newRow("refused") << u"refused"_qs << u"Network error: Connection refused"_qs << 0;
        QTest::newRow("idle") << u"idle"_qs << u"Network error: The request timed out."_qs << 1;
        QTest::newRow("closed unanswered") << u"close"_qs << u"Network error: "_qs << 1;
        QTest::newRow("cancel mid-upload")
            << u"cancel upload"_qs << u"Transcription was cancelled."_qs << 0;
        QTest::newRow("cancel mid-answer")
            << u"cancel answer"_qs << u"Transcription was cancelled."_qs << 1;
    }
    void transportFailuresAndCancel() {
        QFETCH(QString, situation);
        QFETCH(QString, failure);
        QFETCH(int, requests);
        Server server;
        server.setKeepBodies(false);
        server.enqueue({200,
                        {},
                        situation == u"close"_qs ? Server::Delivery::closeUnanswered
                                                 : Server::Delivery::neverAnswer});
        const ClosedPort closed;
        QString file = writeFile(m_dir.filePath(u"t.mp3"_qs), audioBytes);
        if (situation == u"cancel upload"_qs) {
            // 200 MB of silence take a while to send.
            file = m_dir.filePath(u"big.wav"_qs);
            QVERIFY(AudioFixtures::writeWave(file, 16000, 100'000'000));
        }
        ExternalTranscriptionService service(std::chrono::milliseconds(500), qint64(1) << 30);
        Job job;
        service.transcribe(
            file, providerAt(situation == u"refused"_qs ? closed.baseUrl() : server.baseUrl()),
            u"k"_qs, TranscriptionLanguage::autoDetect, job.queuedHandler());
        if (situation.startsWith(u"cancel"_qs)) {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return situation == u"cancel upload"_qs ? job.fractions().last() > 0.2
                                                            : !server.requests().isEmpty();
                },
                10'000));
            QElapsedTimer timer;
            timer.start();
            service.cancel();
            QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 5'000));
            QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
        }
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 10'000));
        QVERIFY2(job.failure().startsWith(failure), qPrintable(job.failure()));
        QCOMPARE(server.requests().size(), requests);
        const qsizetype count = job.events.size();
        QVERIFY(!QTest::qWaitFor([&] { return job.events.size() > count; }, 50));
        // Upload progress never goes back and stops at 0.8 before the answer.
        const QList<double> fractions = job.fractions();
        QVERIFY(std::is_sorted(fractions.cbegin(), fractions.cend()));
        QVERIFY(fractions.last() <= 0.8);
    }

    // A limit too small for one piece of audio is refused instead of cutting forever; a
    // cancel stops cutting.
    void preparationLimitsAndCancel() {
        QTemporaryDir dir;
        Server server;
        const QString tone = writeFile(dir.filePath(u"tone.mp3"_qs), audioBytes);
        {
            ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout, 1000,
                                                 dir.path());
            const Job job = run(service, tone, providerAt(server.baseUrl()));
            QVERIFY2(job.failure().contains(u"larger than the upload limit allows"_qs),
                     qPrintable(job.failure()));
        }
        const QString big = dir.filePath(u"big.wav"_qs); // 200 MB: eight parts to cut
        QVERIFY(AudioFixtures::writeWave(big, 16000, 100'000'000));
        ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout,
                                             ExternalTranscriptionService::defaultUploadLimit,
                                             dir.path());
        Job job;
        service.transcribe(big, providerAt(server.baseUrl()), u"k"_qs,
                           TranscriptionLanguage::autoDetect, job.queuedHandler());
        QTest::qWait(300);
        QElapsedTimer timer;
        timer.start();
        service.cancel();
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 5'000));
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 (QStringList{u"big.wav"_qs, u"tone.mp3"_qs}));
    }

    // A 429 is waited out, counting down, and the same request sent again; a wait longer
    // than anyone waits, or a tenth refusal, fails with the provider's message; a cancel
    // ends the wait.
    void rateLimitsWaitedOut_data() {
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("outcome"); // a failure, or empty for success
        QTest::addColumn<int>("requests");
        const QString refused = u"API error (HTTP 429): slow down"_qs;
        QTest::newRow("Retry-After: 2") << QByteArray("2") << 1 << false << QString() << 2;
        QTest::newRow("too long") << QByteArray("700") << 1 << false << refused << 1;
        QTest::newRow("Retry-After: 0, again and again")
            << QByteArray("0") << 12 << false << refused << 10;
        QTest::newRow("cancelled while waiting") << QByteArray("30") << 1 << true << u"*"_qs << 1;
    }
    void rateLimitsWaitedOut() {
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, refusals);
        QFETCH(bool, cancel);
        QFETCH(QString, outcome);
        QFETCH(int, requests);
        Server server;
        for (int i = 0; i < refusals; ++i)
            server.enqueue(
                Server::Response(429, "slow down").withHeader("Retry-After", retryAfter));
        server.enqueue({200, R"({"text":"hello"})"});
        const QString file = writeFile(m_dir.filePath(u"limited.mp3"_qs), audioBytes);
        ExternalTranscriptionService service;
        Job job; // keyless, as a server on this computer may be
        service.transcribe(file, providerAt(server.baseUrl()), QString(),
                           TranscriptionLanguage::autoDetect, job.queuedHandler());
        const auto statusShown = [&](const QString& text) {
            const auto steps = job.progress();
            return std::any_of(steps.cbegin(), steps.cend(),
                               [&](const auto& step) { return step.second == text; });
        };
        if (cancel) {
            QVERIFY(QTest::qWaitFor(
                [&] { return statusShown(u"Rate limited by Groq; retrying in 30 s..."_qs); },
                10'000));
            QElapsedTimer timer;
            timer.start();
            service.cancel();
            QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 5'000));
            QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
            QTest::qWait(200);
            QCOMPARE(server.requests().size(), requests);
            return;
        }
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 30'000));
        QCOMPARE(server.requests().size(), requests);
        if (!outcome.isEmpty()) {
            QCOMPARE(job.failure(), outcome);
            return;
        }
        QVERIFY2(job.success(), qPrintable(job.failure()));
        QCOMPARE(server.requests()[1].body, server.requests()[0].body);
        QVERIFY(server.requests()[1].header("Authorization").isEmpty());
        QVERIFY(statusShown(u"Rate limited by Groq; retrying in 2 s..."_qs));
        QVERIFY(statusShown(u"Rate limited by Groq; retrying in 1 s..."_qs));
    }

    // Over a slow uplink, once the rate shows, each upload step tells the time left.
    void timeLeftOnASlowUplink() {
        Server server;
        server.setKeepBodies(false);
        server.setReadRate(4'000'000);
        const QString file = m_dir.filePath(u"slow.wav"_qs);
        QVERIFY(AudioFixtures::writeWave(file, 16000, 12'000'000)); // 24 MB, sent as it is
        ExternalTranscriptionService service;
        const Job job = run(service, file, providerAt(server.baseUrl()));
        QList<double> left;
        for (const TranscriptionEvent& event : job.events) {
            const auto* step = std::get_if<TranscriptionEvent::Progress>(&event.value);
            if (step && step->secondsLeft)
                left.append(*step->secondsLeft);
        }
        QVERIFY2(left.size() >= 5, qPrintable(QString::number(left.size())));
        QVERIFY(left.first() < 10.0 && left.last() < left.first());
    }

    // Any media: sent as it is, its audio copied out of the container, or a clear
    // failure before anything is sent.
    void anyMedia_data() {
        QTest::addColumn<QString>("ffmpegArguments");
        QTest::addColumn<QString>("outcome"); // the part's content type, or the failure
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("opus in webm, sent as it is")
            << u"-f lavfi -i sine=duration=2 -c:a libopus x.webm"_qs << u"audio/webm"_qs
            << QByteArray("\x1a\x45\xdf\xa3");
        QTest::newRow("opus in mkv, copied into ogg")
            << u"-f lavfi -i sine=duration=2 -c:a libopus x.mkv"_qs << u"audio/ogg"_qs
            << QByteArray("OggS");
        QTest::newRow("aac in mov, copied into m4a")
            << u"-f lavfi -i sine=duration=2 -c:a aac x.mov"_qs << u"audio/mp4"_qs
            << QByteArray("ftyp");
        QTest::newRow("pcm in avi, decoded to wav")
            << u"-f lavfi -i sine=duration=2 -c:a pcm_u8 x.avi"_qs << u"audio/wav"_qs
            << QByteArray("RIFF");
        QTest::newRow("video without audio")
            << u"-f lavfi -i testsrc=size=32x32:rate=5 -t 1 x.mkv"_qs
            << u"Failed to convert audio: No audio track found in the selected file."_qs
            << QByteArray();
        QTest::newRow("not media")
            << u""_qs << u"Failed to convert audio: The selected file is not a valid audio file."_qs
            << QByteArray();
    }
    void anyMedia() {
        QFETCH(QString, ffmpegArguments);
        QFETCH(QString, outcome);
        QFETCH(QByteArray, magic);
        QTemporaryDir dir;
        QStringList arguments = ffmpegArguments.split(u' ', Qt::SkipEmptyParts);
        QString path = dir.filePath(u"notes.mkv"_qs);
        if (arguments.isEmpty())
            writeFile(dir.filePath(u"notes.mkv"_qs), "not media at all");
        else
            QVERIFY(AudioFixtures::ffmpeg(arguments.replaceInStrings(
                u"x."_qs, (path = dir.filePath(arguments.last())).chopped(arguments.last().size()) +
                              u"x."_qs)));
        Server server;
        server.enqueue({200, R"({"text":"ok"})"});
        ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout,
                                             ExternalTranscriptionService::defaultUploadLimit,
                                             dir.path());
        const Job job = run(service, path, providerAt(server.baseUrl()));
        QCOMPARE(job.finalEvents(), 1);
        if (magic.isEmpty()) {
            QCOMPARE(job.failure(), outcome);
            QVERIFY(server.requests().isEmpty());
        } else {
            QVERIFY2(job.success(), qPrintable(job.failure()));
            const QByteArray body = server.requests().first().body;
            const QByteArray head = "Content-Type: " + outcome.toUtf8() + "\r\n\r\n";
            QVERIFY(body.mid(body.indexOf(head) + head.size(), 8).contains(magic));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // nothing made is left
    }

    // A provider asked for speakers gets the fields its kind of model takes (a diarize
    // model no prompt); labels under either key are named in order of first appearance.
    // Not asked, the request is today's and labels are ignored.
    void speakersAsked_data() {
        QTest::addColumn<QString>("model"); // "-" first: not asked
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("fields"); // before the file
        QTest::addColumn<QStringList>("speakers");
        const QByteArray two = labelled({u"B|0|1"_qs, u"A|1|2"_qs, u"B|2|3"_qs});
        const QStringList named{u"Speaker 1"_qs, u"Speaker 2"_qs, u"Speaker 1"_qs};
        const QString asked = u"model=%1&response_format=verbose_json&language=en&prompt=Said "
                              "before.&diarize=true&timestamp_granularities[]=segment"_qs;
        QTest::newRow("diarize model")
            << u"gpt-4o-transcribe-diarize"_qs << two
            << u"model=%1&response_format=diarized_json&chunking_strategy=auto&language=en"_qs
            << named;
        QTest::newRow("other model, speaker_id")
            << u"voxtral-mini-latest"_qs
            << labelled({u"B|0|1"_qs, u"A|1|2"_qs, u"B|2|3"_qs}, u"speaker_id"_qs) << asked
            << named;
        QTest::newRow("no labels")
            << u"whisper-1"_qs << labelled({u"|0|1"_qs}) << asked << QStringList{QString()};
        QTest::newRow("not asked")
            << u"-whisper-1"_qs << two << asked.section(u'&', 0, 3) << QStringList(3, QString());
    }
    void speakersAsked() {
        QFETCH(QString, model);
        QFETCH(QByteArray, answer);
        QFETCH(QString, fields);
        QFETCH(QStringList, speakers);
        Server server;
        server.enqueue({200, answer});
        CustomProvider provider = providerAt(server.baseUrl());
        provider.identifySpeakers = !model.startsWith(u'-');
        provider.model = model.remove(u'-');
        ExternalTranscriptionService service;
        Job job;
        service.transcribe(writeFile(m_dir.filePath(u"speakers.mp3"_qs), audioBytes), provider,
                           u"k"_qs, TranscriptionLanguage::english, u"Said before."_qs,
                           job.queuedHandler());
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 20'000));
        QVERIFY2(job.success(), qPrintable(job.failure()));
        const QByteArray type = server.requests().first().header("Content-Type");
        const QByteArray boundary = type.mid(type.indexOf('=') + 1);
        QByteArray expected;
        for (const QString& field : fields.arg(model).split(u'&'))
            expected += textField(boundary, field.section(u'=', 0, 0).toUtf8(),
                                  field.section(u'=', 1).toUtf8());
        expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"";
        QVERIFY(server.requests().first().body.startsWith(expected));
        QStringList named;
        for (const TranscriptSegment& segment : job.success()->segments)
            named.append(segment.speaker);
        QCOMPARE(named, speakers);
    }

    // Parts 2 and 3 of a long recording to a diarize model name the speakers heard so far,
    // the most talkative first, each with a clip of their longest turn less anyone else's
    // words; the labels coming back are those names, so the transcript is one whole.
    void speakersKnownAcrossParts() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"meeting.wav"_qs); // 74 s of LibriVox, 2.4 MB
        QString list;
        for (int round = 0; round < 3; ++round) {
            for (const QString& id : AudioFixtures::librivoxIds())
                list += u"file '%1/%2.wav'\n"_qs.arg(AudioFixtures::librivoxDirectory(), id);
        }
        QVERIFY(AudioFixtures::ffmpeg({u"-f"_qs, u"concat"_qs, u"-safe"_qs, u"0"_qs, u"-i"_qs,
                                       writeFile(dir.filePath(u"list"_qs), list.toUtf8()), u"-c"_qs,
                                       u"copy"_qs, path}));
        QSettings().setValue(ExternalTranscriptionService::uploadLimitKey(), 2'000'000);
        const QList<QByteArray> answers{
            // B's words start while A still speaks
            labelled({u"A|0.5|5.5"_qs, u"B|5|14"_qs}),
            labelled({u"Speaker 1|0.5|2.5"_qs, u"A|2.5|14.5"_qs, u"Speaker 2|14.5|15"_qs}),
            labelled({u"Speaker 3|0.5|5"_qs, u"B|5|8"_qs})};
        Server server;
        server.setResponder([&](const Server::Request&) {
            return Server::Response(200, answers.value(server.requests().size() - 1, "{}"));
        });
        CustomProvider provider = providerAt(server.baseUrl());
        provider.model = u"gpt-4o-transcribe-diarize"_qs;
        provider.identifySpeakers = true;
        ExternalTranscriptionService service(std::nullopt, std::nullopt, dir.path());
        const Job job = run(service, path, provider);
        QSettings().remove(ExternalTranscriptionService::uploadLimitKey());
        QVERIFY2(job.success(), qPrintable(job.failure()));
        const QList<TranscriptSegment>& segments = job.success()->segments;
        QStringList named;
        for (const TranscriptSegment& segment : segments)
            named.append(segment.speaker.right(1));
        QCOMPARE(named.join(QString()), u"1213234"_qs);

        // Request, names sent; then the part, start and length of each clip in turn.
        const QList<double> partStarts{0.0, segments[2].startTime - 0.5};
        const std::vector<short> original = waveSamples(path);
        const struct {
            int request;
            QList<QByteArray> names;
            QList<std::tuple<int, double, double>> clips;
        } rows[] = {{0, {}, {}},
                    {1, {"Speaker 2", "Speaker 1"}, {{0, 5.5, 8.5}, {0, 0.5, 4.5}}},
                    {2,
                     {"Speaker 3", "Speaker 2", "Speaker 1"},
                     {{1, 3.5, 10.0}, {0, 5.5, 8.5}, {0, 0.5, 4.5}}}};
        for (const auto& row : rows) {
            const QByteArray& body = server.requests().at(row.request).body;
            QVERIFY(!body.contains("name=\"prompt\""));
            QCOMPARE(fieldValues(body, "known_speaker_names[]"), row.names);
            const QList<QByteArray> urls = fieldValues(body, "known_speaker_references[]");
            QCOMPARE(urls.size(), row.clips.size());
            for (qsizetype i = 0; i < urls.size(); ++i) {
                const auto [part, from, seconds] = row.clips[i];
                QVERIFY(urls[i].startsWith("data:audio/wav;base64,"));
                const std::vector<short> clip = waveSamples(writeFile(
                    dir.filePath(u"clip.wav"_qs), QByteArray::fromBase64(urls[i].mid(22))));
                QCOMPARE(qRound(double(clip.size()) / 160), qRound(seconds * 100));
                // The recording's own samples where the turn was, give or take a packet.
                const qint64 at = qRound64((partStarts[part] + from) * 16000);
                bool found = false;
                for (qint64 shift = -400; shift <= 400 && !found; ++shift)
                    found = std::equal(clip.begin(), clip.end(), original.begin() + at + shift);
                QVERIFY2(found, row.names[i].constData());
            }
        }
    }

    // A long recording over the limit goes up in parts cut in its silences; times are
    // absolute, each part carries the text before it, and a 413 is answered once by
    // cutting that part in two.
    void longRecordingInParts_data() {
        QTest::addColumn<int>("refused"); // the request answered 413
        QTest::addColumn<int>("failing"); // the request answered 500
        QTest::newRow("parts") << 0 << 0;
        QTest::newRow("first part refused as too large") << 1 << 0;
        QTest::newRow("third part fails, then Retry") << 0 << 3;
    }
    void longRecordingInParts() {
        QFETCH(int, refused);
        QFETCH(int, failing);
        const bool refuseFirst = refused == 1;
        QTemporaryDir dir;
        // 120 s: 8 s of tone, then 2 s of silence, over and over; about 1.9 MB.
        const QString path = dir.filePath(u"talk.mp3"_qs);
        QVERIFY(AudioFixtures::ffmpeg(
            {u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"sine=frequency=300:duration=120"_qs, u"-af"_qs,
             u"volume='if(lt(mod(t,10),8),1,0)':eval=frame"_qs, u"-b:a"_qs, u"128k"_qs, path}));
        Server server;
        server.setResponder([&](const Server::Request&) {
            const qsizetype n = server.requests().size();
            if (n == refused)
                return Server::Response(413, "too large");
            if (n == failing)
                return Server::Response(500, "down");
            return Server::Response(200, R"({"segments":[{"start":0.5,"end":1,"text":"part)" +
                                             QByteArray::number(n) + R"("}]})");
        });
        ExternalTranscriptionService service(ExternalTranscriptionService::defaultTimeout,
                                             1'500'000, dir.path());
        const Job job = run(service, path, providerAt(server.baseUrl()));
        Job resumed;
        if (failing) {
            // The parts are kept; Retry goes on from the failed one, and the result is
            // an unbroken job's.
            QVERIFY2(job.failure().startsWith(u"Part 3 of "_qs), qPrintable(job.failure()));
            QVERIFY(job.failure().endsWith(u": API error (HTTP 500): down"_qs));
            QCOMPARE(server.requests().size(), 3);
            QVERIFY(QDir(dir.path()).entryList(QDir::Files).size() > 1);
            QVERIFY(service.hasKeptJob());
            QVERIFY(service.resume(resumed.queuedHandler()));
            QVERIFY(QTest::qWaitFor([&] { return resumed.finished(); }, 20'000));
        }
        const Job& done = failing ? resumed : job;
        QVERIFY2(done.success(), qPrintable(done.failure()));
        const QList<TranscriptSegment> segments = done.success()->segments;
        if (failing) { // part 3 again, with the text of parts 1 and 2 as its prompt
            QCOMPARE(resumed.progress().first().second, u"Uploading part 3 of "_qs +
                                                            QString::number(segments.size()) +
                                                            u" via Groq..."_qs);
            QVERIFY(server.requests()[3].body.contains("name=\"prompt\"\r\n\r\npart1 part2\r\n"));
        }
        QCOMPARE(server.requests().size(), segments.size() + (refuseFirst || failing ? 1 : 0));
        QVERIFY(segments.size() >= 4);
        QCOMPARE(segments.first().startTime, 0.5);
        for (qsizetype i = 1; i < segments.size(); ++i) {
            const double cut = segments[i].startTime - 0.5;
            QVERIFY2(std::fmod(cut, 10.0) >= 7.9, qPrintable(QString::number(cut)));
            QVERIFY(cut > segments[i - 1].startTime);
        }
        const QList<Server::Request>& requests = server.requests();
        for (qsizetype i = 1; i < requests.size(); ++i) {
            QVERIFY(requests[i].body.size() < 1'500'000 - 900'000);
            const bool prompted = requests[i].body.contains(QByteArray(
                "name=\"prompt\"\r\n\r\npart" + QByteArray::number(refuseFirst ? 2 : 1)));
            QVERIFY(prompted || (refuseFirst && i == 1));
        }
        const QStringList statuses = [&] {
            QStringList list;
            for (const auto& [fraction, message] : job.progress())
                list.append(message);
            return list;
        }();
        QVERIFY(statuses.contains(u"Uploading part 2 of "_qs + QString::number(segments.size()) +
                                  u" via Groq..."_qs));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"talk.mp3"_qs});
    }
};

QTEST_GUILESS_MAIN(TestExternalTranscriptionService)
#include "tst_externaltranscriptionservice.moc"
