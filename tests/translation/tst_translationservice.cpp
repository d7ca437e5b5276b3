#include "support/ChatFixtures.h"
#include "support/EventLog.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "translation/TranslationService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;
using Server = LoopbackHttpServer;

namespace {

using Job = EventLog<TranslationEvent>;

QString text(const Job& job) {
    const auto* success = job.success();
    return success ? success->text : u"<no success>"_qs;
}

QString srtOf(int blocks) {
    QString text;
    for (int i = 1; i <= blocks; ++i)
        text += QString::number(i) + u"\n00:00:01,000 --> 00:00:02,000\nLine "_qs +
                QString::number(i) + u"\n\n"_qs;
    return text;
}

CustomProvider providerAt(const QString& baseURL) {
    return CustomProvider::create(u"Groq"_qs, baseURL, u"llama-3.3-70b"_qs);
}

bool waitFor(const Job& job) {
    return QTest::qWaitFor([&] { return job.finished(); }, 20'000);
}

// Translates "x" into German through the server and waits for the end of the job.
bool translateX(TranslationService& service, const Server& server, Job& job) {
    service.translatePlainText(u"x"_qs, u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                               job.queuedHandler());
    return waitFor(job);
}

} // namespace

class TestTranslationService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chatRequestIsExact() {
        Server server;
        server.enqueue({200, chatAnswer(u"  Halo, dunia!\n"_qs)});
        TranslationService service;
        Job job;
        service.translatePlainText(u"\nHello, world!\n"_qs, u"Indonesian"_qs,
                                   providerAt(server.baseUrl() + u"/openai/v1/ "_qs), u"sk-x"_qs,
                                   job.queuedHandler());
        QVERIFY(waitFor(job));

        const Server::Request& request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/openai/v1/chat/completions"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer sk-x"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!request.body.contains('\n')); // compact: the text's own line breaks are escaped
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.keys(), (QStringList{u"messages"_qs, u"model"_qs, u"temperature"_qs}));
        QCOMPARE(body.value(u"model"_qs).toString(), u"llama-3.3-70b"_qs);
        QCOMPARE(body.value(u"temperature"_qs).toDouble(), 0.3);
        const QJsonArray messages = body.value(u"messages"_qs).toArray();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0].toObject(),
                 (QJsonObject{{u"role"_qs, u"system"_qs},
                              {u"content"_qs,
                               u"You are a professional translator. Translate the text below into "
                               u"Indonesian. Return only the translated text with no explanation, "
                               u"notes, or extra formatting."_qs}}));
        QCOMPARE(messages[1].toObject(),
                 (QJsonObject{{u"role"_qs, u"user"_qs}, {u"content"_qs, u"\nHello, world!\n"_qs}}));

        QCOMPARE(job.progress(),
                 (QList<std::pair<double, QString>>{{0.05, u"Preparing request to Groq..."_qs},
                                                    {1.0, u"Complete"_qs}}));
        QCOMPARE(text(job), u"Halo, dunia!"_qs);
    }

    void srtBatchesRunInSequence() {
        Server server;
        {
            // While the first batch waits for its answer, nothing else is sent.
            server.enqueue({200, {}, Server::Delivery::neverAnswer});
            TranslationService service(std::chrono::milliseconds(400));
            Job job;
            service.translateSRT(srtOf(31), u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                                 job.queuedHandler());
            QVERIFY(waitFor(job));
            QCOMPARE(server.requests().size(), 1);
        }
        server.setResponder(echoingChat([](const QString& s) { return s.toUpper(); }));
        const qsizetype before = server.requests().size();
        TranslationService service;
        Job job;
        service.translateSRT(srtOf(31), u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                             job.queuedHandler(), u"  Keep \"Line\" as it is.\n"_qs);
        QVERIFY(waitFor(job));

        const QList<Server::Request> requests = server.requests().mid(before);
        QCOMPARE(requests.size(), 3);
        const QStringList blocks = TranslationService::splitSRTBlocks(srtOf(31));
        QCOMPARE(chatUserMessage(requests[0]), blocks.mid(0, 15).join(u"\n\n"_qs));
        QCOMPARE(chatUserMessage(requests[1]), blocks.mid(15, 15).join(u"\n\n"_qs));
        QCOMPARE(chatUserMessage(requests[2]), blocks.last());
        // The user's instructions go with every batch; each batch after the first carries
        // the previous one's last three translated blocks.
        const auto systemMessage = [&](qsizetype i) {
            return QJsonDocument::fromJson(requests[i].body)["messages"][0]["content"].toString();
        };
        const QString system = TranslationService::srtSystemPrompt(u"German"_qs) +
                               u"\n\nFollow these instructions from the user about names, "
                               u"terms and tone:\nKeep \"Line\" as it is."_qs;
        QCOMPARE(systemMessage(0), system);
        const QStringList upper = TranslationService::splitSRTBlocks(srtOf(31).toUpper());
        QCOMPARE(systemMessage(1),
                 TranslationService::withPreviousBlocks(system, upper.mid(12, 3)));
        QCOMPARE(systemMessage(2),
                 TranslationService::withPreviousBlocks(system, upper.mid(27, 3)));
        QVERIFY(systemMessage(2).endsWith(u"\n\n28\n00:00:01,000 --> 00:00:02,000\nLINE 28\n\n"
                                          u"29\n00:00:01,000 --> 00:00:02,000\nLINE 29\n\n"
                                          u"30\n00:00:01,000 --> 00:00:02,000\nLINE 30"_qs));
        QVERIFY(TranslationService::srtSystemPrompt(u"German"_qs)
                    .contains(
                        u"into German. Keep every index number and every timestamp line "
                        u"(format: 00:00:01,000 --> 00:00:04,000) exactly as-is \u2014 do not"_qs));

        QCOMPARE(job.progress(), (QList<std::pair<double, QString>>{
                                     {0.05, u"Translating 31 subtitle blocks in 3 batch(es)..."_qs},
                                     {0.05, u"Translating Batch 1/3..."_qs},
                                     {0.05 + 0.9 * 15 / 31, u"Translating Batch 2/3..."_qs},
                                     {0.05 + 0.9 * 30 / 31, u"Translating Batch 3/3..."_qs},
                                     {1.0, u"Complete"_qs}}));
        QCOMPARE(text(job), srtOf(31).trimmed().toUpper());
    }

    // A 429 on a batch (here with an HTTP date) is waited out; batch 2 of 3 failing is
    // kept, and Retry sends batches 2 and 3 only, giving what an unbroken job gives.
    void batchesSurviveFailures() {
        Server server;
        const auto echo = echoingChat([](const QString& s) { return s.toUpper(); });
        server.setResponder([&](const Server::Request& request) {
            const qsizetype n = server.requests().size();
            if (n == 1)
                return Server::Response(429, "busy")
                    .withHeader("Retry-After", QDateTime::currentDateTimeUtc()
                                                   .addSecs(2)
                                                   .toString(Qt::RFC2822Date)
                                                   .toLatin1());
            return n == 3 ? Server::Response(502, "bad gateway") : echo(request);
        });
        TranslationService service;
        Job job;
        service.translateSRT(srtOf(31), u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                             job.queuedHandler());
        QVERIFY(waitFor(job));
        QCOMPARE(job.failure(), u"API error (HTTP 502): bad gateway"_qs);
        QVERIFY(job.progress().contains(
            std::pair{0.05, u"Rate limited by Groq; retrying in 1 s..."_qs}));
        QVERIFY(service.hasKeptJob());
        Job resumed;
        QVERIFY(service.resume(resumed.queuedHandler()));
        QVERIFY(waitFor(resumed));
        QCOMPARE(text(resumed), srtOf(31).trimmed().toUpper());
        const QStringList blocks = TranslationService::splitSRTBlocks(srtOf(31));
        QCOMPARE(server.requests().size(), 5);
        QCOMPARE(chatUserMessage(server.requests()[3]), blocks.mid(15, 15).join(u"\n\n"_qs));
        QVERIFY(!service.hasKeptJob());
    }

    // Each batch reply is checked against the batch sent: the output keeps the original
    // numbers and times with the reply's text, or, after one corrective request, the
    // job fails saying what differs. Without a second reply, the server answers the
    // corrective request by translating (upper-casing) all it is sent.
    void batchReplies_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("secondReply");
        QTest::addColumn<QString>("outcome"); // the SRT, or the failure
        QTest::addColumn<int>("requests");
        const auto block = [](int n, const QString& time, const QString& text) -> QString {
            return QString::number(n) + u'\n' + (time.isEmpty() ? QString() : time + u'\n') + text;
        };
        const QString time = u"00:00:01,000 --> 00:00:02,000"_qs;
        const QString good = block(1, time, u"Eins"_qs) + u"\n\n"_qs + block(2, time, u"Zwei"_qs) +
                             u"\n\n"_qs + block(3, time, u"Drei"_qs);
        const QString upper = srtOf(3).trimmed().toUpper();
        QTest::newRow("as sent") << good << QString() << good << 1;
        QTest::newRow("times rewritten or missing")
            << block(1, u"00:00:01.000 --> 00:00:02.000"_qs, u"Eins"_qs) + u"\n\n"_qs +
                   block(2, QString(), u"Zwei"_qs) + u"\n\n"_qs +
                   block(3, u"00:09:09,999 --> 00:09:10,000"_qs, u"Drei"_qs)
            << QString() << good << 1;
        QTest::newRow("commentary before")
            << u"Here is the translation:\n\n"_qs + good << QString() << good << 1;
        QTest::newRow("fenced") << u"```srt\n"_qs + good + u"\n```"_qs << QString() << good << 1;
        // Text after the last block is never dropped unseen: it may be that block's own.
        const QString remark = good + u"\n\nLet me know!"_qs;
        QTest::newRow("remark after, then right") << remark << QString() << upper << 2;
        QTest::newRow("remark after a closing fence, then right")
            << u"```srt\n"_qs + good + u"\n```\nHope this helps."_qs << QString() << upper << 2;
        QTest::newRow("blank line inside the last block, then right")
            << good + u"\n\nnoch mehr"_qs << QString() << upper << 2;
        const QString merged =
            block(1, time, u"Eins"_qs) + u"\n\n"_qs + block(2, time, u"Zwei Drei"_qs);
        QTest::newRow("merged, then right") << merged << QString() << upper << 2;
        const QString renumbered = block(1, time, u"Eins"_qs) + u"\n\n"_qs +
                                   block(2, time, u"Zwei"_qs) + u"\n\n"_qs +
                                   block(4, time, u"Drei"_qs);
        QTest::newRow("renumbered, then right") << renumbered << QString() << upper << 2;
        const QString failure = u"Batch 1 of 1: the provider"_qs;
        QTest::newRow("renumbered twice")
            << renumbered << renumbered << failure + u" returned block 4 where block 3 was sent."_qs
            << 2;
        QTest::newRow("remark after twice")
            << remark << remark << failure + u"'s reply has text after block 3."_qs << 2;
        const QString blank = block(1, time, u"Eins"_qs) + u"\n\n"_qs + block(2, time, QString()) +
                              u"\n\n"_qs + block(3, time, u"Drei"_qs);
        QTest::newRow("empty text twice")
            << blank << blank << failure + u" returned block 2 without its text."_qs << 2;
        QTest::newRow("nothing usable twice")
            << u"Sorry."_qs << u"Sorry."_qs << failure + u" returned 0 blocks instead of 3."_qs
            << 2;
    }
    void batchReplies() {
        QFETCH(QString, reply);
        QFETCH(QString, secondReply);
        QFETCH(QString, outcome);
        QFETCH(int, requests);
        Server server;
        server.enqueue({200, chatAnswer(reply)});
        if (!secondReply.isEmpty())
            server.enqueue({200, chatAnswer(secondReply)});
        server.setResponder(echoingChat([](const QString& s) { return s.toUpper(); }));
        TranslationService service;
        Job job;
        service.translateSRT(srtOf(3), u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                             job.queuedHandler());
        QVERIFY(waitFor(job));
        QCOMPARE(job.success() ? text(job) : job.failure(), outcome);
        QCOMPARE(server.requests().size(), requests);
        if (requests == 2) { // the blocks alone are to be translated, the note is an instruction
            QCOMPARE(chatUserMessage(server.requests()[1]), chatUserMessage(server.requests()[0]));
            QVERIFY(QJsonDocument::fromJson(server.requests()[1].body)["messages"][0]["content"]
                        .toString()
                        .endsWith(TranslationService::correctionNote(
                            TranslationService::splitSRTBlocks(srtOf(3)))));
        }

        // Plain text is taken as it comes, fences and all.
        server.enqueue({200, chatAnswer(u"```\ncode\n```"_qs)});
        Job plain;
        QVERIFY(translateX(service, server, plain));
        QCOMPARE(text(plain), u"```\ncode\n```"_qs);
    }

    void exchangeFailures_data() {
        QTest::addColumn<Server::Response>("response");
        QTest::addColumn<QString>("description");
        QTest::newRow("401") << Server::Response(401, "{\"error\":\"bad key\"}")
                             << u"API error (HTTP 401): {\"error\":\"bad key\"}"_qs;
        QTest::newRow("empty choices") << Server::Response(200, "{\"choices\":[]}")
                                       << u"Failed to parse response: The provider returned an "
                                          u"empty response."_qs;
        QTest::newRow("not json") << Server::Response(200, "<html>")
                                  << u"Failed to parse response: The data is not valid JSON"_qs;
        QTest::newRow("no content") << Server::Response(200, "{\"choices\":[{\"message\":{}}]}")
                                    << u"Failed to parse response: Choice 1 has no"_qs;
        QTest::newRow("hang") << Server::Response(200, {}, Server::Delivery::neverAnswer)
                              << u"Network error: The request timed out."_qs;
        QTest::newRow("endless body") << Server::Response(200, QByteArray(5'000'000, ' '))
                                      << u"Network error: The response is larger than 4 MB."_qs;
    }
    void exchangeFailures() {
        QFETCH(Server::Response, response);
        QFETCH(QString, description);
        Server server;
        server.enqueue(response);
        TranslationService service(std::chrono::milliseconds(300));
        Job job;
        QVERIFY(translateX(service, server, job));
        QVERIFY2(job.failure().startsWith(description), qPrintable(job.failure()));
        QCOMPARE(job.events.size(), 2);
        QCOMPARE(server.requests().size(), 1); // never sent again
    }

    // Proxies come from the environment, as for other command-line tools.
    void proxiesFromTheEnvironment() {
        Server proxy;
        proxy.enqueue({200, chatAnswer(u"via proxy"_qs)});
        qputenv("http_proxy", proxy.baseUrl().toUtf8());
        TranslationService service;
        Job job;
        service.translatePlainText(u"x"_qs, u"German"_qs,
                                   providerAt(u"http://provider.invalid/v1"_qs), u"k"_qs,
                                   job.queuedHandler());
        const bool finished = waitFor(job);
        qunsetenv("http_proxy");
        QVERIFY(finished);
        QCOMPARE(text(job), u"via proxy"_qs);
        QCOMPARE(proxy.requests().first().target,
                 QByteArray("http://provider.invalid/v1/chat/completions"));
    }

    void nothingIsSentForBadInput() {
        Server server;
        TranslationService service;
        Job blank;
        service.translateSRT(u" \n\n \r\n"_qs, u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                             blank.handler());
        QCOMPARE(blank.events.size(), 1);
        QCOMPARE(blank.failure(), u"No SRT blocks found in the input."_qs);

        Job invalid;
        service.translateSRT(srtOf(2), u"German"_qs, providerAt(u"::"_qs), u"k"_qs,
                             invalid.handler());
        QCOMPARE(invalid.failure(), u"Invalid provider base URL."_qs);

        Job badKey;
        service.translatePlainText(u"x"_qs, u"German"_qs, providerAt(server.baseUrl()),
                                   u"k\r\nX-Evil: 1"_qs, badKey.handler());
        QVERIFY(badKey.failure().startsWith(u"The API key contains a line break"_qs));
        QVERIFY(server.requests().isEmpty());
    }

    void jobEndsSilentlyWhenServiceIsGone() {
        Server server;
        server.setResponder(echoingChat([](const QString& s) { return s.toUpper(); }));
        auto service = std::make_unique<TranslationService>();
        Job job;
        service->translateSRT(srtOf(31), u"German"_qs, providerAt(server.baseUrl()), u"k"_qs,
                              job.queuedHandler());
        service.reset(); // the first request is already on its way
        QVERIFY(!QTest::qWaitFor([&] { return job.events.size() > 2; }, 300));
        QCOMPARE(job.events.size(), 2);
        QVERIFY(server.requests().size() <= 1);
    }

    void splitBlocks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("blocks");
        QTest::newRow("crlf") << u"1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n\r\n2\r\n"
                                 u"00:00:03,000 --> 00:00:04,000\r\nYo\r\n"_qs
                              << QStringList{u"1\n00:00:01,000 --> 00:00:02,000\nHi"_qs,
                                             u"2\n00:00:03,000 --> 00:00:04,000\nYo"_qs};
        QTest::newRow("lone cr stays") << u"a\rb\n\nc"_qs << QStringList{u"a\rb"_qs, u"c"_qs};
        QTest::newRow("three or more blank lines")
            << u"a\n\n\n\nb\n\n\nc"_qs << QStringList{u"a"_qs, u"b"_qs, u"c"_qs};
        QTest::newRow("line of spaces does not separate")
            << u"a\n \nb\n\t\nc"_qs << QStringList{u"a\n \nb\n\t\nc"_qs};
        QTest::newRow("leading and trailing blank lines")
            << u"\n\n\n  a  \n\n\n"_qs << QStringList{u"a"_qs};
        QTest::newRow("dialogue only") << u"Just words"_qs << QStringList{u"Just words"_qs};
        QTest::newRow("white space only") << u" \n\n\t\r\n \u2028"_qs << QStringList{};
        // Half a surrogate pair, as a reply's JSON escape "\ud800" decodes, splits as text.
        const QString high(QChar(0xD800)), low(QChar(0xDC00));
        QTest::newRow("lone surrogates inside blocks")
            << u"1\na"_qs + high + u"b\n\n2\n"_qs + low + u"\r\n\r\n3\nc"_qs + high
            << QStringList{u"1\na"_qs + high + u"b"_qs, u"2\n"_qs + low, u"3\nc"_qs + high};
        QTest::newRow("lone surrogates between blocks")
            << u"1\na\n\n"_qs + low + u"\n\n"_qs + high + u"\n\n2\nb"_qs
            << QStringList{u"1\na"_qs, low, high, u"2\nb"_qs};
    }
    void splitBlocks() {
        QFETCH(QString, text);
        QFETCH(QStringList, blocks);
        QCOMPARE(TranslationService::splitSRTBlocks(text), blocks);
    }

    void codeFences_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("cleaned");
        QTest::newRow("fenced with tag") << u"```srt\n1\nHallo\n```\n"_qs << u"1\nHallo"_qs;
        QTest::newRow("fenced, closing last") << u"```srt\n\n1\nHallo\n\n```"_qs << u"1\nHallo"_qs;
        QTest::newRow("only closing") << u"1\nHallo\n```"_qs << u"1\nHallo"_qs;
        QTest::newRow("fence not at start") << u"x\n```srt\n1"_qs << u"x\n\n1"_qs;
        QTest::newRow("remark after the fence")
            << u"1\nHallo\n```\nNote"_qs << u"1\nHallo\n\nNote"_qs;
        QTest::newRow("plain") << u"1\nHallo"_qs << u"1\nHallo"_qs;
    }
    void codeFences() {
        QFETCH(QString, reply);
        QFETCH(QString, cleaned);
        QCOMPARE(TranslationService::stripCodeFence(reply), cleaned);
    }

    void chatResponses() {
        QString error;
        QCOMPARE(TranslationService::parseChatResponse(
                     test::json("{'choices':[{'message':{'role':'assistant','content':'\\n  Halo "
                                "dunia \\n'}},{'message':{'content':'second'}}],'usage':{}}"),
                     error),
                 u"Halo dunia"_qs);
        QCOMPARE(TranslationService::parseChatResponse(
                     test::json("{'choices':[{'message':{'content':' \\n'}}]}"), error),
                 QString(u""_qs));
        // Half a surrogate pair stands as U+FFFD, so the text can be sent on and written.
        QCOMPARE(TranslationService::parseChatResponse(
                     test::json("{'choices':[{'message':{'content':'a\\udc00b\\ud800'}}]}"), error),
                 u"a\uFFFDb\uFFFD"_qs);

        QCOMPARE(TranslationService::parseChatResponse(test::json("{'choices':[]}"), error),
                 std::nullopt);
        QCOMPARE(error, u"The provider returned an empty response."_qs);
        for (const QByteArray& bad :
             {QByteArray("not json"), QByteArray("[]"), test::json("{'choices':[{}]}"),
              test::json("{'choices':[{'message':{'content':'a'}},{'message':{}}]}"),
              test::json("{'choices':[{'message':{'content':3}}]}"), QByteArray()}) {
            error.clear();
            QCOMPARE(TranslationService::parseChatResponse(bad, error), std::nullopt);
            QVERIFY2(!error.isEmpty(), bad.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTranslationService)
#include "tst_translationservice.moc"
