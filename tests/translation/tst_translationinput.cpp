#include "core/TranscriptRendering.h"
#include "support/TestDoubles.h"
#include "translation/TranslationService.h"

#include <QTest>

using namespace vocalith;
using Format = TranslationService::InputFormat;

class TestTranslationInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        QTest::newRow("single line feed keeps together") << u"a\nb"_qs << QStringList{u"a\nb"_qs};
        QTest::newRow("line of spaces does not separate")
            << u"a\n \nb\n\t\nc"_qs << QStringList{u"a\n \nb\n\t\nc"_qs};
        QTest::newRow("leading and trailing blank lines")
            << u"\n\n\n  a  \n\n\n"_qs << QStringList{u"a"_qs};
        QTest::newRow("no trailing newline") << u"1\nHello"_qs << QStringList{u"1\nHello"_qs};
        QTest::newRow("dialogue only") << u"Just words"_qs << QStringList{u"Just words"_qs};
        QTest::newRow("white space only") << u" \n\n\t\r\n \u2028"_qs << QStringList{};
        QTest::newRow("empty") << QString() << QStringList{};
    }
    void splitBlocks() {
        QFETCH(QString, text);
        QFETCH(QStringList, blocks);
        QCOMPARE(TranslationService::splitSRTBlocks(text), blocks);
    }

    void ownSubtitlesSplitIntoCues() {
        QList<TranscriptSegment> segments;
        for (int i = 0; i < 20; ++i)
            segments.append({u"word"_qs + QString::number(i), i * 1.0, i * 1.0 + 0.5});
        const QStringList blocks = TranslationService::splitSRTBlocks(srtRendering(segments));
        QCOMPARE(blocks.size(), 20);
        QCOMPARE(blocks.last(), u"20\n00:00:19,000 --> 00:00:19,500\nword19"_qs);
    }

    void batchesOfFifteen() {
        TranslationService service;
        QCOMPARE(service.srtChunkSize, 15);
        const auto sizes = [&](int count) {
            QStringList blocks;
            for (int i = 0; i < count; ++i)
                blocks.append(QString::number(i));
            QList<qsizetype> result;
            QStringList flattened;
            for (const QStringList& batch : service.makeBatches(blocks)) {
                result.append(batch.size());
                flattened += batch;
            }
            if (flattened != blocks)
                result.append(-1); // order lost
            return result;
        };
        QCOMPARE(sizes(0), QList<qsizetype>{});
        QCOMPARE(sizes(1), QList<qsizetype>{1});
        QCOMPARE(sizes(15), QList<qsizetype>{15});
        QCOMPARE(sizes(16), (QList<qsizetype>{15, 1}));
        QCOMPARE(sizes(31), (QList<qsizetype>{15, 15, 1}));
    }

    void formatByExtension() {
        QCOMPARE(TranslationService::detectFormat(u"/a/Pilot.SRT"_qs), Format::srt);
        QCOMPARE(TranslationService::detectFormat(u"/a/ep.srt"_qs), Format::srt);
        QCOMPARE(TranslationService::detectFormat(u"/a/ep.txt"_qs), Format::plainText);
        QCOMPARE(TranslationService::detectFormat(u"/a/ep.srt.txt"_qs), Format::plainText);
        QCOMPARE(TranslationService::detectFormat(u"/a.srt/notes"_qs), Format::plainText);
    }

    void codeFences_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("cleaned");
        QTest::newRow("fenced with tag") << u"```srt\n1\nHallo\n```\n"_qs << u"1\nHallo\n```\n"_qs;
        QTest::newRow("fenced, closing last") << u"```srt\n\n1\nHallo\n\n```"_qs << u"1\nHallo"_qs;
        QTest::newRow("only closing") << u"1\nHallo\n```"_qs << u"1\nHallo"_qs;
        QTest::newRow("only opening") << u"```\n1\nHallo"_qs << u"1\nHallo"_qs;
        QTest::newRow("fence not at start") << u"x\n```srt\n1"_qs << u"x\n```srt\n1"_qs;
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

QTEST_GUILESS_MAIN(TestTranslationInput)
#include "tst_translationinput.moc"
