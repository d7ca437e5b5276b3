#include "review/ReviewModel.h"
#include "review/WaveformPeaks.h"
#include "support/AudioFixtures.h"

#include <QAbstractItemModelTester>
#include <QFont>
#include <QTemporaryDir>
#include <QTest>

using namespace vocalith;

namespace {

const QList<TranscriptSegment> original{
    {u"the quick brown fox"_qs, 0.0, 2.0},
    {u"jumps over"_qs, 2.5, 4.0},
    {u"the lazy dog"_qs, 4.0, 6.0},
};

} // namespace

class TestReview : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each edit gives the expected rows, undo gives back the original and redo the edit
    // again, with the model keeping Qt's rules throughout.
    void edits_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("amount");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<TranscriptSegment>>("expected");
        auto with = [](std::function<void(QList<TranscriptSegment>&)> change) {
            QList<TranscriptSegment> rows = original;
            change(rows);
            return rows;
        };
        QTest::newRow("text, line breaks folded")
            << u"text"_qs << 1 << 0.0 << u"jumped\nover"_qs
            << with([](auto& rows) { rows[1].text = u"jumped over"_qs; });
        QTest::newRow("start earlier") << u"start"_qs << 1 << -0.1 << QString()
                                       << with([](auto& rows) { rows[1].startTime = 2.4; });
        QTest::newRow("start held at the previous end")
            << u"start"_qs << 1 << -1.0 << QString()
            << with([](auto& rows) { rows[1].startTime = 2.0; });
        QTest::newRow("end later") << u"end"_qs << 0 << 0.1 << QString()
                                   << with([](auto& rows) { rows[0].endTime = 2.1; });
        QTest::newRow("end held at the next start")
            << u"end"_qs << 0 << 3.0 << QString()
            << with([](auto& rows) { rows[0].endTime = 2.5; });
        QTest::newRow("end held after the start")
            << u"end"_qs << 2 << -5.0 << QString()
            << with([](auto& rows) { rows[2].endTime = 4.05; });
        QTest::newRow("split by characters")
            << u"split"_qs << 0 << 9.0 << QString() << with([](auto& rows) {
                   rows[0] = {u"the quick"_qs, 0.0, 1.0};
                   rows.insert(1, {u"brown fox"_qs, 1.0, 2.0});
               });
        QTest::newRow("split inside a word: before it")
            << u"split"_qs << 0 << 12.0 << QString() << with([](auto& rows) {
                   rows[0] = {u"the quick"_qs, 0.0, 1.0};
                   rows.insert(1, {u"brown fox"_qs, 1.0, 2.0});
               });
        QTest::newRow("merge") << u"merge"_qs << 1 << 0.0 << QString() << with([](auto& rows) {
            rows[1] = {u"jumps over the lazy dog"_qs, 2.5, 6.0};
            rows.removeAt(2);
        });
        QTest::newRow("delete") << u"delete"_qs << 0 << 0.0 << QString()
                                << with([](auto& rows) { rows.removeFirst(); });
        QTest::newRow("replace all, any case")
            << u"replace"_qs << -1 << 0.0 << u"The=a"_qs << with([](auto& rows) {
                   rows[0].text = u"a quick brown fox"_qs;
                   rows[2].text = u"a lazy dog"_qs;
               });
    }
    void edits() {
        QFETCH(QString, edit);
        QFETCH(int, row);
        QFETCH(double, amount);
        QFETCH(QString, text);
        QFETCH(QList<TranscriptSegment>, expected);
        ReviewModel model(original);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        bool changed = false;
        if (edit == u"text")
            changed = model.setText(row, text);
        else if (edit == u"start" || edit == u"end")
            changed =
                model.nudge(row, edit == u"start" ? ReviewModel::Start : ReviewModel::End, amount);
        else if (edit == u"split")
            changed = model.split(row, int(amount));
        else if (edit == u"merge")
            changed = model.mergeWithNext(row);
        else if (edit == u"delete")
            changed = model.remove(row);
        else if (edit == u"replace")
            changed = model.replaceAll(text.section(u'=', 0, 0), text.section(u'=', 1)) > 0;
        QVERIFY(changed);
        QCOMPARE(model.segments(), expected);
        QVERIFY(!model.undoStack()->isClean());
        model.undoStack()->undo();
        QCOMPARE(model.segments(), original);
        QVERIFY(model.undoStack()->isClean());
        model.undoStack()->redo();
        QCOMPARE(model.segments(), expected);
    }

    // A speaker renamed on every row at once, or one row given another speaker from the
    // list, each one step that undoes exactly.
    void speakerEdits() {
        QList<TranscriptSegment> said = original;
        for (const auto& [row, name] :
             {std::pair{0, u"Speaker 1"_qs}, {1, u"Speaker 2"_qs}, {2, u"Speaker 1"_qs}})
            said[row].speaker = name;
        ReviewModel model(said);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.speakers(), (QStringList{u"Speaker 1"_qs, u"Speaker 2"_qs}));
        QVERIFY(!model.renameSpeaker(u"Speaker 1"_qs, u" "_qs));
        QVERIFY(!model.renameSpeaker(u"Speaker 3"_qs, u"Ann"_qs));
        QVERIFY(!model.setSpeaker(1, u"Speaker 2"_qs));
        QVERIFY(model.renameSpeaker(u"Speaker 1"_qs, u" Ann  Lee"_qs));
        QVERIFY(
            model.setData(model.index(1, ReviewModel::SpeakerColumn), u"Ann Lee"_qs, Qt::EditRole));
        QCOMPARE(model.speakers(), QStringList{u"Ann Lee"_qs});
        QCOMPARE(model.data(model.index(2, ReviewModel::SpeakerColumn), Qt::DisplayRole),
                 u"Ann Lee"_qs);
        QCOMPARE(model.undoStack()->count(), 2);
        model.undoStack()->undo();
        QCOMPARE(model.speakers(), (QStringList{u"Ann Lee"_qs, u"Speaker 2"_qs}));
        model.undoStack()->undo();
        QCOMPARE(model.segments(), said);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(ReviewModel(original).columnCount(), 3); // nobody told speakers apart
        QVERIFY(!ReviewModel(original).setSpeaker(0, u"Ann"_qs));
    }

    // Edits that would do nothing leave no step to undo.
    void refusedEdits() {
        ReviewModel model(original);
        QVERIFY(!model.setText(0, u"  the quick   brown fox "_qs));
        QVERIFY(!model.setText(0, u"   "_qs));
        QVERIFY(!model.nudge(0, ReviewModel::Start, -0.1)); // already at zero
        QVERIFY(!model.split(0, 0));
        QVERIFY(!model.split(0, 19));
        QVERIFY(!model.split(0, 2)); // inside the first word: nothing before it
        QVERIFY(!model.mergeWithNext(2));
        QCOMPARE(model.replaceAll(u"cat"_qs, u"dog"_qs), 0);
        QCOMPARE(model.replaceAll(u"JUMPS OVER"_qs, u" "_qs), 0); // would empty the row
        QCOMPARE(model.undoStack()->count(), 0);
    }

    // No row is ever made shorter than the minimum, and an edge's limits never cross,
    // even for a row that came shorter, so a drag can always be held within them.
    void shortRows() {
        ReviewModel model({{u"a b"_qs, 1.0, 1.08}, {u"c"_qs, 1.08, 1.1}, {u"d e"_qs, 1.1, 1.1003}});
        QVERIFY(!model.split(0, 2)); // 80 ms cannot hold two rows of 50
        QVERIFY(!model.split(2, 2)); // nor can 0.3 ms, which millisecond rounding made nought
        for (int row = 0; row < 3; ++row) {
            for (const auto edge : {ReviewModel::Start, ReviewModel::End}) {
                const auto [lowest, highest] = model.edgeLimits(row, edge);
                QVERIFY2(lowest <= highest, qPrintable(u"row %1"_qs.arg(row)));
            }
        }
        QVERIFY(!model.nudge(1, ReviewModel::End, -0.01)); // inwards: held where it is
        QVERIFY(model.nudge(2, ReviewModel::End, 0.1));    // outwards it may go
        QCOMPARE(model.segments().at(2).endTime, 1.2);
        ReviewModel longer({{u"a bcdefgh"_qs, 0.0, 0.12}}); // by characters: 15 ms
        QVERIFY(longer.split(0, 2));
        QCOMPARE(longer.segments().at(0).endTime - longer.segments().at(0).startTime,
                 ReviewModel::minimumLength);
        QVERIFY(longer.segments().at(1).endTime - longer.segments().at(1).startTime >=
                ReviewModel::minimumLength - 1e-9);
    }

    // Words as the on-device engine gives them, a segment each, are read as the phrases of
    // their subtitles; each row keeps its words, which mark doubt, place a split and follow
    // an edit.
    void wordRows() {
        const auto word = [](const char* text, double start, double end, double confidence) {
            const QString t = QString::fromLatin1(text);
            return TranscriptSegment{.text = t,
                                     .startTime = start,
                                     .endTime = end,
                                     .confidence = confidence,
                                     .words = {{t, start, end, confidence}}};
        };
        ReviewModel model({word("mr", 0, 0.2, 0.9), word("john", 0.2, 0.5, 0.3),
                           word("dashwood", 0.5, 1.1, 0.8), word("was", 1.8, 2, 0.9),
                           word("dead", 2, 2.4, 0.9)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.segments().at(0).text, u"mr john dashwood"_qs);
        QCOMPARE(model.segments().at(0).words.size(), 3);
        QCOMPARE(model.doubtfulSpans(0), (QList<std::pair<qsizetype, qsizetype>>{{3, 4}}));
        QCOMPARE(model.index(0, 2).data(Qt::AccessibleDescriptionRole), u"uncertain"_qs);
        QVERIFY(!model.index(0, 2).data(Qt::FontRole).isValid()); // the word is, not the row
        QCOMPARE(model.wordAt(0, 2), 1);                          // between words: the next one

        QVERIFY(model.split(0, 10)); // inside "dashwood": cut before it, at its time
        QCOMPARE(model.segments().at(0).text, u"mr john"_qs);
        QCOMPARE(model.segments().at(0).endTime, 0.5);
        model.undoStack()->undo();
        QVERIFY(model.setText(0, u"Mr John Dashwood"_qs)); // words in line keep their times
        QCOMPARE(model.segments().at(0).words.at(2).startTime, 0.5);
        QVERIFY(!model.segments().at(0).isDoubtful());
        QVERIFY(model.setText(1, u"was quite dead"_qs)); // otherwise spread by characters
        QCOMPARE(model.segments().at(1).words.at(1).startTime, 1.8 + 0.6 * 3 / 12);
        QVERIFY(model.mergeWithNext(0));
        QCOMPARE(model.segments().at(0).words.size(), 6);
    }

    // Replace All replaces and counts as QString::replace does, never empties a row, and
    // the words it wrote are no longer in doubt.
    void replaceAll() {
        ReviewModel model({{u"aaaa"_qs, 0, 1, 0.2}, {u"aa"_qs, 1, 2}});
        QCOMPARE(model.replaceAll(u"aa"_qs, u"b"_qs), 3);
        QCOMPARE(model.segments().at(0).text, u"bb"_qs);
        QCOMPARE(model.segments().at(1).text, u"b"_qs);
        QVERIFY(!model.segments().at(0).isDoubtful());
        QCOMPARE(model.replaceAll(u"b"_qs, QString()), 0); // every row would be emptied
        QCOMPARE(model.undoStack()->count(), 1);
    }

    // The envelope: 50 peaks a second, silence flat and speech tall, progress that
    // climbs to the end, and a stop that ends the reading.
    void waveformPeaks() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quiet-then-speech.mp3"_qs);
        const QString wave = test::AudioFixtures::librivoxDirectory() + u'/' +
                             test::AudioFixtures::librivoxIds().first() + u".wav"_qs;
        QVERIFY(test::AudioFixtures::ffmpeg(
            {u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"anullsrc=r=44100:cl=stereo:d=2"_qs, u"-i"_qs, wave,
             u"-filter_complex"_qs,
             u"[1]aresample=44100,aformat=channel_layouts=stereo[s];"
             "[0][s]concat=n=2:v=0:a=1"_qs,
             path}));
        QList<double> fractions;
        auto computed = WaveformPeaks::compute(path, [&](double f) { fractions.append(f); });
        QVERIFY(std::holds_alternative<WaveformPeaks>(computed));
        const WaveformPeaks& peaks = std::get<WaveformPeaks>(computed);
        QVERIFY2(std::abs(peaks.duration() - 9.1) < 0.1,
                 qPrintable(QString::number(peaks.duration())));
        int loudest = 0;
        for (double t = 0.1; t < 1.9; t += 0.02)
            QVERIFY(peaks.at(t).high - peaks.at(t).low <= 2);
        for (double t = 2.0; t < 9.0; t += 0.02)
            loudest = std::max(loudest, peaks.at(t).high - peaks.at(t).low);
        QVERIFY(loudest > 40);
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QVERIFY(!fractions.isEmpty() && fractions.last() > 0.95);

        std::atomic<bool> stop{true};
        QVERIFY(std::holds_alternative<QString>(WaveformPeaks::compute(path, {}, &stop)));

        // A rate 50 does not divide: a tone after ten minutes is drawn where it is heard.
        const QString slow = dir.filePath(u"slow-rate.wav"_qs);
        QVERIFY(test::AudioFixtures::ffmpeg(
            {u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"anullsrc=r=11025:cl=mono:d=600"_qs, u"-f"_qs,
             u"lavfi"_qs, u"-i"_qs, u"sine=f=440:r=11025:d=1"_qs, u"-filter_complex"_qs,
             u"[0][1]concat=n=2:v=0:a=1"_qs, slow}));
        auto drawn = WaveformPeaks::compute(slow);
        QVERIFY(std::holds_alternative<WaveformPeaks>(drawn));
        const WaveformPeaks& slowPeaks = std::get<WaveformPeaks>(drawn);
        QVERIFY2(std::abs(slowPeaks.duration() - 601.0) < 0.03,
                 qPrintable(QString::number(slowPeaks.duration())));
        QVERIFY(slowPeaks.at(599.97).high - slowPeaks.at(599.97).low <= 2);
        QVERIFY(slowPeaks.at(600.03).high - slowPeaks.at(600.03).low > 20);
    }

    void tableFace() {
        ReviewModel model({{u"a"_qs, 62.3456, 3723.5}});
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), u"Start"_qs);
        QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), u"Text"_qs);
        QCOMPARE(model.index(0, 0).data().toString(), u"0:01:02.346"_qs);
        QCOMPARE(model.index(0, 1).data().toString(), u"1:02:03.500"_qs);
        QVERIFY(model.setData(model.index(0, 2), u"b"_qs, Qt::EditRole));
        QVERIFY(!model.setData(model.index(0, 0), u"0:00:01.000"_qs, Qt::EditRole));
        QCOMPARE(model.findNext(u"B"_qs, 0, Qt::CaseInsensitive), 0);
        ReviewModel three(original);
        QCOMPARE(three.findNext(u"the"_qs, 1, Qt::CaseSensitive), 2);
        QCOMPARE(three.findNext(u"the"_qs, 3, Qt::CaseSensitive), 0);
        QCOMPARE(three.findNext(u"the"_qs, 1, Qt::CaseSensitive, true), 0);
    }

    // Rows the recogniser was unsure of are underlined and reachable one after another;
    // a corrected row is no longer in doubt.
    void doubtfulRows() {
        ReviewModel model({{u"a"_qs, 0, 1, 0.9},
                           {u"b"_qs, 1, 2, 0.2},
                           {u"c"_qs, 2, 3, 0.95},
                           {u"d"_qs, 3, 4, 0.1}});
        QVERIFY(model.index(1, 2).data(Qt::FontRole).value<QFont>().underline());
        QVERIFY(!model.index(0, 2).data(Qt::FontRole).isValid());
        QCOMPARE(model.nextDoubtful(0), 1);
        QCOMPARE(model.nextDoubtful(1), 3);
        QCOMPARE(model.nextDoubtful(3), 1);
        QCOMPARE(model.nextDoubtful(1, true), 3);
        QVERIFY(model.setText(1, u"be"_qs));
        QCOMPARE(model.nextDoubtful(0), 3);
        QVERIFY(model.mergeWithNext(2));
        QCOMPARE(model.segments().at(2).confidence, 0.1);
    }
};

QTEST_GUILESS_MAIN(TestReview)
#include "tst_review.moc"
