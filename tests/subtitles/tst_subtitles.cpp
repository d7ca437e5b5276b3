#include "core/TranscriptRendering.h"
#include "subtitles/BroadcastLayout.h"
#include "subtitles/LineBreaking.h"
#include "subtitles/SubtitleChecker.h"
#include "subtitles/SubtitleDocument.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace vocalith;

class TestSubtitles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lineBreaking_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("fits") << u"Hello there."_qs << u"en"_qs << QStringList{u"Hello there."_qs};
        QTest::newRow("after punctuation")
            << u"I went to the market yesterday, and then I came home."_qs << u"en"_qs
            << QStringList{u"I went to the market yesterday,"_qs, u"and then I came home."_qs};
        QTest::newRow("before a conjunction")
            << u"She picked up the old blue suitcase and carried it to the car"_qs << u"en"_qs
            << QStringList{u"She picked up the old blue suitcase"_qs,
                           u"and carried it to the car"_qs};
        QTest::newRow("never after an article")
            << u"Everybody loved the wonderful shiny bright red sports car"_qs << u"en"_qs
            << QStringList{u"Everybody loved the wonderful"_qs, u"shiny bright red sports car"_qs};
        QTest::newRow("German joiner")
            << u"Wir haben den ganzen Nachmittag gewartet und dann gegessen"_qs << u"de"_qs
            << QStringList{u"Wir haben den ganzen Nachmittag gewartet"_qs, u"und dann gegessen"_qs};
        QTest::newRow("a word longer than a line")
            << u"Pneumonoultramicroscopicsilicovolcanoconiosis is a word"_qs << u"en"_qs
            << QStringList{u"Pneumonoultramicroscopicsilicovolcanoconiosis"_qs, u"is a word"_qs};
        QTest::newRow("no spaces")
            << QString(50, QChar(0x4E2D)) << u"zh"_qs
            << QStringList{QString(25, QChar(0x4E2D)), QString(25, QChar(0x4E2D))};
        // Where the Unicode rules allow: after ，, between Thai words (Qt asks libthai).
        QTest::newRow("Chinese after a comma")
            << u"吃完饭以后大家都觉得很累，所以我们在客厅里"
               u"休息了一会儿，然后一起看了一部很有意思的电影。"_qs
            << u"zh"_qs
            << QStringList{u"吃完饭以后大家都觉得很累，所以我们在客厅里休息了一会儿，"_qs,
                           u"然后一起看了一部很有意思的电影。"_qs};
        QTest::newRow("Thai between words")
            << u"เมื่อเช้านี้ผมไปตลาดและซื้อผลไม้กับผักสดมากมายจากนั้นเราก็กลับบ้าน"_qs << u"th"_qs
            << QStringList{u"เมื่อเช้านี้ผมไปตลาดและซื้อผลไม้กับ"_qs, u"ผักสดมากมายจากนั้นเราก็กลับบ้าน"_qs};
        const QString accented = QString(u"e\u0301"_qs).repeated(42); // 84 code units
        QTest::newRow("combining marks") << accented << u"fr"_qs << QStringList{accented};
    }
    void lineBreaking() {
        QFETCH(QString, text);
        QFETCH(QString, language);
        QFETCH(QStringList, lines);
        QCOMPARE(LineBreaking::breakLines(text, 42, language), lines);
    }

    // Words to subtitles: each shown at least 0.833 s and at most 7 s, stretched into a
    // following pause to be read at 17 characters a second, and 83 ms before the next.
    void timing_data() {
        QTest::addColumn<QList<TranscriptSegment>>("words");
        QTest::addColumn<QList<TranscriptSegment>>("subtitles");
        QTest::newRow("minimum, then reading speed in a pause")
            << QList<TranscriptSegment>{{u"Yes."_qs, 1.0, 1.2},
                                        {u"Absolutely, without any doubt."_qs, 5.0, 5.5}}
            << QList<TranscriptSegment>{{u"Yes."_qs, 1.0, 1.833},
                                        {u"Absolutely, without any doubt."_qs, 5.0, 6.765}};
        QTest::newRow("no pause to read in, but the gap kept")
            << QList<TranscriptSegment>{{u"Absolutely, without any doubt."_qs, 5.0, 5.9},
                                        {u"Then."_qs, 5.95, 7.0}}
            << QList<TranscriptSegment>{{u"Absolutely, without any doubt."_qs, 5.0, 5.867},
                                        {u"Then."_qs, 5.95, 7.0}};
        TranscriptSegment phrase{u"Yes. Absolutely, without any doubt."_qs, 1.0, 5.5};
        phrase.words = {{u"Yes."_qs, 1.0, 1.2},
                        {u"Absolutely,"_qs, 5.0, 5.2},
                        {u"without"_qs, 5.2, 5.3},
                        {u"any"_qs, 5.3, 5.4},
                        {u"doubt."_qs, 5.4, 5.5}};
        QTest::newRow("a phrase at its words' times")
            << QList{phrase}
            << QList<TranscriptSegment>{{u"Yes."_qs, 1.0, 1.833},
                                        {u"Absolutely, without any doubt."_qs, 5.0, 6.765}};
        QTest::newRow("a title ends no sentence")
            << QList<TranscriptSegment>{{u"Mr."_qs, 0.0, 1.0}, {u"Smith"_qs, 1.05, 1.4}}
            << QList<TranscriptSegment>{{u"Mr. Smith"_qs, 0.0, 1.4}};
        QList<TranscriptSegment> long10;
        for (int i = 0; i < 20; ++i)
            long10.append({u"go"_qs, i * 0.5, i * 0.5 + 0.45});
        QTest::newRow("at most 7 s")
            << long10
            << QList<TranscriptSegment>{{QStringList(14, u"go"_qs).join(u' '), 0.0, 6.917},
                                        {QStringList(6, u"go"_qs).join(u' '), 7.0, 9.95}};
    }
    void timing() {
        QFETCH(QList<TranscriptSegment>, words);
        QFETCH(QList<TranscriptSegment>, subtitles);
        const QList<TranscriptSegment> laid = BroadcastLayout::layout(words, u"en"_qs);
        QCOMPARE(laid.size(), subtitles.size());
        for (qsizetype i = 0; i < laid.size(); ++i) {
            QCOMPARE(laid[i].text, subtitles[i].text);
            QCOMPARE(qRound(laid[i].startTime * 1000 - 0.5), qRound(subtitles[i].startTime * 1000));
            QCOMPARE(qRound(laid[i].endTime * 1000 - 0.5), qRound(subtitles[i].endTime * 1000));
        }
    }

    // A long segment written without spaces is laid out as any other: lines of at most
    // 42 characters as the checker counts them, cues of at most 7 s, nothing lost.
    void layoutWithoutSpaces_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("language");
        QTest::newRow("Chinese")
            << u"我今天早上去了市场，买了很多新鲜的水果和蔬菜、还有一些鱼和肉。"_qs.repeated(3)
            << u"zh"_qs;
        QTest::newRow("Japanese")
            << u"今日は朝早く市場に行って、新鮮な果物や野菜をたくさん買いました。"_qs.repeated(3)
            << u"ja"_qs;
        QTest::newRow("Thai")
            << u"เมื่อเช้านี้ผมไปตลาดและซื้อผลไม้กับผักสดมากมายจากนั้นเราก็กลับบ้าน "_qs.repeated(3) << u"th"_qs;
    }
    void layoutWithoutSpaces() {
        QFETCH(QString, text);
        QFETCH(QString, language);
        static const QRegularExpression space(u"\\s"_qs);
        for (const double perSecond : {6.0, 14.0}) { // cut by time, by length
            const QList<TranscriptSegment> cues = BroadcastLayout::layout(
                {{text, 1.0, 1.0 + double(graphemeCount(text)) / perSecond}}, language);
            QString error;
            const auto parsed = SubtitleChecker::parse(srtFromCues(cues), error);
            QVERIFY(parsed && parsed->size() > 1);
            QCOMPARE(SubtitleChecker::problems(*parsed), QStringList());
            QString shown;
            for (const TranscriptSegment& cue : cues)
                shown += cue.text;
            QCOMPARE(shown.remove(space), QString(text).remove(space));
        }
    }

    void checker() {
        const QString file =
            u"1\n00:00:01,000 --> 00:00:01,500\nThis line is far too long to be read in a "
            u"single glance\n\n"
            u"3\n00:00:01,550 --> 00:00:09,000\none\ntwo\nthree\n\n"
            u"4\n00:00:08,000 --> 00:00:07,000\n \n\n"
            u"5\n00:00:06,000 --> 00:00:06,900\nok\n"_qs;
        QString error;
        const auto cues = SubtitleChecker::parse(file, error);
        QVERIFY(cues);
        QCOMPARE(
            SubtitleChecker::problems(*cues),
            (QStringList{
                u"1 00:00:01,000: line 1 has 55 characters (at most 42)"_qs,
                u"1 00:00:01,000: shows for 0.500 s (at least 0.833)"_qs,
                u"1 00:00:01,000: reads at 110.0 characters a second (at most 17)"_qs,
                u"3 00:00:01,550: numbered 3 (expected 2)"_qs,
                u"3 00:00:01,550: follows the subtitle before it after 0.050 s (at least 0.083)"_qs,
                u"3 00:00:01,550: has 3 lines (at most 2)"_qs,
                u"3 00:00:01,550: shows for 7.450 s (at most 7)"_qs,
                u"4 00:00:08,000: ends before it starts"_qs,
                u"4 00:00:08,000: overlaps the subtitle before it by 1.000 s"_qs,
                u"4 00:00:08,000: has no text"_qs,
                u"5 00:00:06,000: starts before the subtitle before it"_qs}));
        const auto clean = SubtitleChecker::parse(
            u"WEBVTT\n\n00:01.000 --> 00:03.000\nFine &amp; <i>short</i>\n"_qs, error);
        QVERIFY(clean && SubtitleChecker::problems(*clean).isEmpty());
        QVERIFY(!SubtitleChecker::parse(u"Just some notes."_qs, error));
    }

    // What a viewer reads is counted, not the markup around it; a block that cannot be
    // read (a broken cue, a stray remark) is reported where it is, once.
    void checkerReadsWhatViewersRead() {
        QString error;
        const auto cues = SubtitleChecker::parse(
            u"1\r\n00:00:01,000 --> 00:00:04,000\r\n{\\an8}<font color=\"#ffff00\"><i>Forty-two "
            u"characters that a viewer reads.</i></font>\r\n\r\n"
            u"2\r\n00:00:04,100 --> 00:00:0x,000\r\n<b>Broken</b>\r\n\r\n"
            u"3\r\n00:00:06,000 --> 00:00:08,000\r\nok\r\n\r\nA remark.\r\n\r\n"
            u"4\r\n00:00:09,000 --> 00:00:10,000\r\nend\r\n"_qs,
            error);
        QVERIFY(cues);
        QCOMPARE(
            SubtitleChecker::problems(*cues),
            (QStringList{
                u"2 (line 5): cannot be read: 2 | 00:00:04,100 --> 00:00:0x,000 | <b>Broken</b>"_qs,
                u"4 (line 13): cannot be read: A remark."_qs}));
    }

    // Read and written back without an edit, any file comes back as it was.
    void documentWritesBackAsRead_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cues");
        QTest::newRow("BOM, CRLF, no line break at the end")
            << u"\uFEFF1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB"_qs << 1;
        QTest::newRow("blank lines with spaces, mixed line breaks")
            << u"\n\n7\n00:00:01,000 --> 00:00:02,000\r\nA\n \t\n\n\n8\r\n00:00:03,000 --> "
               u"00:00:04,000\nB\n\n\n"_qs
            << 2;
        QTest::newRow("numbers with leading zeros")
            << u"001\n00:00:01,000 --> 00:00:02,000\nA\n\n002\n00:00:03,000 --> 00:00:04,000\nB\n"_qs
            << 2;
        QTest::newRow("VTT blocks, settings, stray text and a lone number")
            << u"WEBVTT\nKind: captions\n\nREGION\nid:r1\n\nNOTE\ntwo lines\n\n1:02:03.004 --> "
               u"1:02:05.000 region:r1 line:0\nA &lt; B\n\nstray\n\n42\n"_qs
            << 1;
    }
    void documentWritesBackAsRead() {
        QFETCH(QString, text);
        QFETCH(int, cues);
        const SubtitleDocument document = SubtitleDocument::read(text);
        QCOMPARE(document.rows().size(), cues);
        QCOMPARE(document.write(document.rows()), text);
    }

    // Times read from a file are written back to the millisecond, wherever they fall.
    void timesRoundTrip() {
        QRandomGenerator random(27);
        QList<qint64> times;
        QString srt;
        for (int i = 0; i < 10'000; ++i) {
            const qint64 ms = random.bounded(Q_INT64_C(360'000'000));
            times.append(ms);
            const QString stamp = QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3'600'000,
                                                    ms / 60'000 % 60, ms / 1000 % 60, ms % 1000);
            QCOMPARE(srtTimestamp(ms / 1000.0), stamp);
            srt += i % 2 == 0 ? QString::number(i / 2 + 1) + u"\n"_qs + stamp + u" --> "_qs
                              : QString(stamp + u"\nx\n\n"_qs);
        }
        QString error;
        const auto cues = SubtitleChecker::parse(srt, error);
        QVERIFY(cues && cues->size() == 5'000);
        for (qsizetype i = 0; i < cues->size(); ++i)
            QVERIFY(cues->at(i).start == times[2 * i] && cues->at(i).end == times[2 * i + 1]);
        QCOMPARE(srtFromCues(SubtitleDocument::read(srt).rows()), srt);
    }

    // A translated block is re-broken; its number and times stay. Chinese lines join
    // with nothing between them, Thai ones with the space they broke at.
    void rewrapKeepsNumbersAndTimes() {
        QCOMPARE(BroadcastLayout::rewrapSrt(
                     u"1\n00:00:01,000 --> 00:00:04,000\n我今天去了市场，\n买了水果。\n\n"
                     u"2\n00:00:05,000 --> 00:00:08,000\nสวัสดีครับ\nวันนี้อากาศดีมาก"_qs,
                     u"zh"_qs),
                 u"1\n00:00:01,000 --> 00:00:04,000\n我今天去了市场，买了水果。\n\n"
                 u"2\n00:00:05,000 --> 00:00:08,000\nสวัสดีครับ วันนี้อากาศดีมาก"_qs);
        QCOMPARE(BroadcastLayout::rewrapSrt(u"7\r\n00:00:01,000 --> 00:00:04,000\r\nEr nahm den "
                                            u"alten Koffer und trug ihn zum Auto\r\n\r\n"_qs,
                                            u"de"_qs),
                 u"7\n00:00:01,000 --> 00:00:04,000\nEr nahm den alten Koffer\nund trug ihn "
                 u"zum Auto"_qs);
    }
};

QTEST_GUILESS_MAIN(TestSubtitles)
#include "tst_subtitles.moc"
