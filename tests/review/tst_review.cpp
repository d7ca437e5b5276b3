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

    // Edits that would do nothing leave no step to undo.
    void refusedEdits() {
        ReviewModel model(original);
        QVERIFY(!model.setText(0, u"  the quick   brown fox "_qs));
        QVERIFY(!model.setText(0, u"   "_qs));
        QVERIFY(!model.nudge(0, ReviewModel::Start, -0.1)); // already at zero
        QVERIFY(!model.split(0, 0));
        QVERIFY(!model.split(0, 19));
        QVERIFY(!model.mergeWithNext(2));
        QCOMPARE(model.replaceAll(u"cat"_qs, u"dog"_qs), 0);
        QCOMPARE(model.undoStack()->count(), 0);
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
