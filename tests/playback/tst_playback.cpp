#include "playback/PlaybackDecoder.h"
#include "playback/Player.h"
#include "support/AudioFixtures.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace vocalith;
using namespace vocalith::test;

namespace {

constexpr int rate = PlaybackDecoder::sampleRate;

// Mono samples of a range, as the decoder gives them.
QList<float> decode(const QString& path, double start, double end, double tempo = 1.0) {
    auto opened = PlaybackDecoder::open(path);
    auto& decoder = std::get<0>(opened);
    decoder->start(start, tempo, end);
    QList<float> mono;
    for (QByteArray chunk = decoder->read(1 << 16); !chunk.isEmpty();
         chunk = decoder->read(1 << 16)) {
        const auto* samples = reinterpret_cast<const qint16*>(chunk.constData());
        for (qsizetype i = 0; i + 1 < chunk.size() / 2; i += 2)
            mono.append((samples[i] + samples[i + 1]) / 65536.0f);
    }
    return mono;
}

// Where `part` best matches `whole`, searching `from` to `to`, and how well (-1 to 1).
std::pair<qsizetype, double> bestMatch(const QList<float>& whole, const QList<float>& part,
                                       qsizetype from, qsizetype to) {
    std::pair<qsizetype, double> best{-1, -2.0};
    for (qsizetype lag = std::max<qsizetype>(0, from); lag <= to; lag += 4) {
        if (lag + part.size() > whole.size())
            break;
        double product = 0, a = 0, b = 0;
        for (qsizetype i = 0; i < part.size(); ++i) {
            product += whole[lag + i] * part[i];
            a += whole[lag + i] * whole[lag + i];
            b += part[i] * part[i];
        }
        const double score = product / std::sqrt(a * b + 1e-12);
        if (score > best.second)
            best = {lag, score};
    }
    return best;
}

} // namespace

class TestPlayback : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_recording; // the five LibriVox recordings in one MP3, about 25 s

private Q_SLOTS:
    void initTestCase() {
        QStringList arguments;
        const QStringList ids = AudioFixtures::librivoxIds();
        for (const QString& id : ids)
            arguments << u"-i"_qs << AudioFixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
        m_recording = m_dir.filePath(u"book.mp3"_qs);
        arguments << u"-filter_complex"_qs << u"concat=n=%1:v=0:a=1"_qs.arg(ids.size()) << u"-ac"_qs
                  << u"2"_qs << u"-ar"_qs << u"44100"_qs << m_recording;
        QVERIFY(AudioFixtures::ffmpeg(arguments));
    }

    // How much sound a range gives at each speed.
    void lengths_data() {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<double>("tempo");
        QTest::addColumn<double>("seconds");
        QTest::newRow("a row") << 10.0 << 12.0 << 1.0 << 2.0;
        QTest::newRow("a row at half speed") << 10.0 << 14.0 << 0.5 << 8.0;
        QTest::newRow("to the end at double speed") << 20.0 << -1.0 << 2.0 << -1.0;
    }
    void lengths() {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(double, tempo);
        QFETCH(double, seconds);
        auto opened = PlaybackDecoder::open(m_recording);
        const double duration = std::get<0>(opened)->duration();
        QVERIFY(duration > 24.0 && duration < 26.0);
        if (seconds < 0)
            seconds = (duration - start) / tempo;
        const double decoded = decode(m_recording, start, end, tempo).size() / double(rate);
        QVERIFY2(std::abs(decoded - seconds) < 0.05,
                 qPrintable(u"%1 s instead of %2 s"_qs.arg(decoded).arg(seconds)));
    }

    // Starting part-way gives the same sound as reading up to there, to the millisecond.
    void startsExactly() {
        const QList<float> whole = decode(m_recording, 0.0, -1.0);
        for (double start : {3.3, 7.35, 18.04}) {
            const QList<float> part = decode(m_recording, start, start + 0.25);
            const auto [lag, score] = bestMatch(whole, part, qsizetype((start - 0.1) * rate),
                                                qsizetype((start + 0.1) * rate));
            QVERIFY2(score > 0.9, qPrintable(u"%1 at %2 s"_qs.arg(score).arg(start)));
            QVERIFY2(std::abs(lag / double(rate) - start) < 0.01,
                     qPrintable(u"%1 s for %2 s"_qs.arg(lag / double(rate)).arg(start)));
        }
    }

    void unplayableFile() {
        const QString text = m_dir.filePath(u"notes.mp3"_qs);
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not sound at all");
        file.close();
        Player player;
        QVERIFY(player.load(text).has_value());
        QVERIFY(!player.isLoaded());
    }

    // Through the sound server: what the null sink's monitor hears begins with the row
    // played, and twice the speed covers the row in half the time.
    void playsThroughTheSoundServer() {
        Player player;
        QCOMPARE(player.load(m_recording), std::nullopt);
        QProcess recorder;
        recorder.start(u"parec"_qs,
                       {u"-d"_qs, u"speech.monitor"_qs, u"--raw"_qs, u"--format=s16le"_qs,
                        u"--rate=48000"_qs, u"--channels=1"_qs, u"--latency-msec=10"_qs});
        QVERIFY(recorder.waitForStarted());
        // An idle null sink renders in 2 s blocks; the recorder's low latency applies
        // from the next one.
        QTest::qWait(2500);
        QElapsedTimer clock;
        clock.start();
        player.setSpeed(2.0);
        player.playRange(10.0, 20.0);
        QVERIFY(player.isPlaying());
        QTest::qWait(2500);
        const double halfway = player.position();
        QVERIFY2(std::abs(halfway - 15.0) < 0.6, qPrintable(QString::number(halfway)));
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 10000);
        const double took = clock.elapsed() / 1000.0;
        QVERIFY2(std::abs(took - 5.0) < 0.5, qPrintable(QString::number(took)));
        QCOMPARE(player.position(), 20.0);
        // Play after a finished row goes on from there, and the position moves with it.
        player.play();
        QTRY_VERIFY_WITH_TIMEOUT(player.position() > 20.5, 5000);
        QVERIFY(player.isPlaying());
        player.pause();
        QVERIFY(player.position() < 24.0);
        QTest::qWait(300);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished());

        const QByteArray raw = recorder.readAllStandardOutput();
        QList<float> heard;
        for (qsizetype i = 0; i + 1 < raw.size(); i += 2)
            heard.append(*reinterpret_cast<const qint16*>(raw.constData() + i) / 32768.0f);
        // The first 10 ms that is not silence: a null sink's silence is digital zero.
        qsizetype onset = -1;
        for (qsizetype block = 0; block + 480 <= heard.size() && onset < 0; block += 480) {
            double energy = 0;
            for (qsizetype i = block; i < block + 480; ++i)
                energy += heard[i] * heard[i];
            if (std::sqrt(energy / 480) > 1e-4)
                onset = block;
        }
        QVERIFY2(onset > 0, "nothing was heard");
        const QList<float> rowStart = decode(m_recording, 10.0, 10.5, 2.0);
        const auto [lag, score] = bestMatch(heard, rowStart, onset - rate / 2, onset + rate / 2);
        QVERIFY2(score > 0.8, qPrintable(QString::number(score)));
        QVERIFY2(std::abs(lag - onset) < rate / 10,
                 qPrintable(u"the row began %1 s from the first sound"_qs.arg((lag - onset) /
                                                                              double(rate))));
    }
};

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
