#include "core/QueuedEventHandler.h"
#include "core/TranscriptRendering.h"
#include "core/TranscriptionLanguage.h"

#include <QTest>

#include <limits>
#include <thread>

using namespace vocalith;

using Segments = QList<TranscriptSegment>;

namespace {

// The cue texts of an SRT rendering, in order.
QStringList cueTexts(const QString& srt) {
    QStringList texts;
    const QStringList blocks = srt.split(u"\n\n"_qs, Qt::SkipEmptyParts);
    for (const QString& block : blocks)
        texts.append(block.section(QLatin1Char('\n'), 2));
    return texts;
}

Segments words(const QStringList& texts, double start, double step, double length) {
    Segments segments;
    for (const QString& text : texts) {
        segments.append({text, start, start + length});
        start += step;
    }
    return segments;
}

// Writes what it receives into a log that outlives it.
class Receiver : public QObject {
public:
    explicit Receiver(QList<int>& log)
        : m_log(log) {}
    void apply(const int& value) { m_log.append(value); }

private:
    QList<int>& m_log;
};
} // namespace

class TestCore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The same cues as SRT; the command-line test reads them back with ffmpeg.
    void webVtt() {
        const Segments segments{
            {u"Tom & <Jerry>"_qs, 0.0, 0.5}, {u"run"_qs, 0.6, 1.0}, {u"Next"_qs, 3661.25, 3662.5}};
        const QString vtt = vttRendering(segments);
        QCOMPARE(vtt, u"WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nTom &amp; &lt;Jerry&gt; run\n\n"
                      u"01:01:01.250 --> 01:01:02.500\nNext\n\n"_qs);
    }

    // A two-speaker transcript: a paragraph per turn, no cue across a change of speaker
    // (with the name before its first line on request), and a voice span a cue.
    void speakersInEveryFormat_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("txt") << u"txt"_qs
                             << u"Speaker 1: Hello there. How are you?\n\nDr <Ann>: Fine.\n\n"
                                u"Speaker 1: Good."_qs;
        const QString times[] = {u"00:00:00,000 --> 00:00:02,000\n"_qs,
                                 u"00:00:02,100 --> 00:00:03,000\n"_qs,
                                 u"00:00:03,100 --> 00:00:04,000\n"_qs};
        QTest::newRow("srt") << u"srt"_qs
                             << u"1\n"_qs + times[0] + u"Hello there. How are you?\n\n2\n"_qs +
                                    times[1] + u"Fine.\n\n3\n"_qs + times[2] + u"Good.\n\n"_qs;
        QTest::newRow("srt named")
            << u"srt named"_qs
            << u"1\n"_qs + times[0] + u"Speaker 1: Hello there. How are you?\n\n2\n"_qs + times[1] +
                   u"Dr <Ann>: Fine.\n\n3\n"_qs + times[2] + u"Speaker 1: Good.\n\n"_qs;
        QTest::newRow("vtt") << u"vtt"_qs
                             << u"WEBVTT\n\n00:00:00.000 --> 00:00:02.000\n<v Speaker 1>Hello "
                                u"there. How are you?</v>\n\n00:00:02.100 --> 00:00:03.000\n"
                                u"<v Dr &lt;Ann&gt;>Fine.</v>\n\n00:00:03.100 --> 00:00:04.000\n"
                                u"<v Speaker 1>Good.</v>\n\n"_qs;
    }
    void speakersInEveryFormat() {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        const Segments segments{{u"Hello there."_qs, 0.0, 1.0, 1, -1, {}, u"Speaker 1"_qs},
                                {u"How are you?"_qs, 1.0, 2.0, 1, -1, {}, u"Speaker 1"_qs},
                                {u"Fine."_qs, 2.1, 3.0, 1, -1, {}, u"Dr <Ann>"_qs},
                                {u"Good."_qs, 3.1, 4.0, 1, -1, {}, u"Speaker 1"_qs}};
        const QString rendered = format == u"txt"_qs   ? plainTextRendering(segments)
                                 : format == u"srt"_qs ? srtRendering(segments)
                                 : format == u"vtt"_qs
                                     ? vttRendering(segments)
                                     : srtFromCues(withSpeakerNames(groupIntoCues(segments)));
        QCOMPARE(rendered, expected);
    }

    void pauseLimit() {
        // A pause of exactly 0.4 s stays in the cue; a longer one starts a new cue.
        QCOMPARE(cueTexts(srtRendering({{u"a"_qs, 0.0, 0.5}, {u"b"_qs, 0.9, 1.0}})),
                 QStringList{u"a b"_qs});
        QCOMPARE(cueTexts(srtRendering({{u"a"_qs, 0.0, 0.5}, {u"b"_qs, 0.91, 1.0}})),
                 (QStringList{u"a"_qs, u"b"_qs}));
        // Out-of-order times give a negative pause, which never splits.
        QCOMPARE(cueTexts(srtRendering({{u"a"_qs, 5.0, 5.5}, {u"b"_qs, 1.0, 5.6}})),
                 QStringList{u"a b"_qs});
    }

    void lengthLimitCountsGraphemes() {
        // "é" written as e + combining accent, and a family emoji, each count as one
        // character although they take several UTF-16 units.
        const QString accented = u"e\u0301"_qs;
        const QString family = u"👨‍👩‍👧"_qs;

        const auto pendingOf = [&](int count) { return QString(accented).repeated(count); };
        // 78 + space + 1 = 80 stays; 79 + space + 1 = 81 splits.
        QCOMPARE(cueTexts(srtRendering({{pendingOf(78), 0, 0.1}, {family, 0.1, 0.2}})).size(), 1);
        QCOMPARE(cueTexts(srtRendering({{pendingOf(79), 0, 0.1}, {family, 0.1, 0.2}})),
                 (QStringList{pendingOf(79), family}));

        // A single over-long segment is never split.
        const QString long120 = QString(120, QLatin1Char('x'));
        QCOMPARE(cueTexts(srtRendering({{long120, 0, 1}, {u"y"_qs, 1, 1.1}})),
                 (QStringList{long120, u"y"_qs}));
    }

    void durationLimit() {
        // Words every 0.5 s lasting 0.4 s: the word ending at 6.0 s stays, the one
        // ending at 6.4 s opens a new cue, which starts at its own start time.
        const Segments segments =
            words({u"w0"_qs, u"w1"_qs, u"w2"_qs, u"w3"_qs, u"w4"_qs, u"w5"_qs, u"w6"_qs, u"w7"_qs,
                   u"w8"_qs, u"w9"_qs, u"w10"_qs, u"w11"_qs, u"w12"_qs, u"w13"_qs},
                  0.0, 0.5, 0.4);
        Segments exactly = segments.mid(0, 12);
        exactly.last().endTime = 6.0;
        QCOMPARE(cueTexts(srtRendering(exactly)).size(), 1);

        const QString srt = srtRendering(segments);
        QCOMPARE(cueTexts(srt).size(), 2);
        QVERIFY(srt.startsWith(u"1\n00:00:00,000 --> 00:00:05,900\n"_qs));
        QVERIFY(srt.contains(u"2\n00:00:06,000 --> 00:00:06,900\nw12 w13\n"_qs));

        // A single segment longer than 6 s is a cue of its own, unsplit.
        QCOMPARE(cueTexts(srtRendering({{u"long"_qs, 0, 9}, {u"x"_qs, 9, 9.1}})),
                 (QStringList{u"long"_qs, u"x"_qs}));
    }

    void timestamps_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("2.345") << 2.345 << u"00:00:02,345"_qs;
        // Held just below the millisecond they mean, and printed as that millisecond.
        QTest::newRow("2.4") << 2.4 << u"00:00:02,400"_qs;
        QTest::newRow("3.9") << 3.9 << u"00:00:03,900"_qs;
        QTest::newRow("7.002 as parsed") << 7 + 2 / 1000.0 << u"00:00:07,002"_qs;
        QTest::newRow("before the hour") << 3599.999 << u"00:59:59,999"_qs;
        QTest::newRow("rounds into the hour") << 3599.9996 << u"01:00:00,000"_qs;
        QTest::newRow("hour") << 3600.0 << u"01:00:00,000"_qs;
        QTest::newRow("100 hours") << 360000.0 << u"100:00:00,000"_qs;
        // Times no engine delivers still give a line a subtitle player accepts.
        QTest::newRow("negative") << -1.5 << u"00:00:00,000"_qs;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << u"00:00:00,000"_qs;
        QTest::newRow("huge") << 1e300 << u"00:00:00,000"_qs;
    }
    void timestamps() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(srtTimestamp(seconds), text);
    }

    void casesInPickerOrder() {
        const auto& all = allTranscriptionLanguages();
        QCOMPARE(all.size(), size_t(19));
        QCOMPARE(all.front(), TranscriptionLanguage::autoDetect);
        QCOMPARE(all.back(), TranscriptionLanguage::italian);

        // Every raw value leads back to its own case, so no two share one.
        for (TranscriptionLanguage language : all)
            QCOMPARE(transcriptionLanguageFromRawValue(rawValue(language)), language);
        for (const QString& raw : {u"en-us"_qs, u"en"_qs, QString()})
            QCOMPARE(transcriptionLanguageFromRawValue(raw), std::nullopt);
    }

    void dropsEventsOnceReceiverIsGone() {
        QList<int> log;
        auto receiver = std::make_unique<Receiver>(log);
        const auto handler = queuedEventHandler(receiver.get(), &Receiver::apply);

        std::thread([&] { handler(1); }).join(); // queued while the receiver lives
        receiver.reset();
        std::thread([&] { handler(2); }).join(); // sent after it is gone
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
