#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "transcription/AudioConverter.h"
#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/SpeechSpans.h"
#include "transcription/TranscriptionService.h"
#include "transcription/WrittenForm.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <list>

using namespace vocalith;
using namespace vocalith::test;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

// A disk cannot be made to fail on demand: reads of this one file fail with EIO past
// its first 16 KB, as from a dying disk or a dropped network share.
std::atomic<const char*> failingFile{nullptr};

} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const auto realRead = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    if (const char* failing = failingFile.load()) {
        char target[PATH_MAX] = {};
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
        if (readlink(link.constData(), target, sizeof target - 1) > 0 &&
            qstrcmp(target, failing) == 0 && lseek(fd, 0, SEEK_CUR) > 16 * 1024) {
            errno = EIO;
            return -1;
        }
    }
    return realRead(fd, buffer, size);
}

namespace {

// Word error rate of pocketsphinx_continuous on the five original LibriVox WAV
// files, measured once on Debian 12 (pocketsphinx 0.8+5prealpha+1-15, en-us model):
//   pocketsphinx_continuous -infile <id>.wav -hmm .../en-us/en-us
//       -lm .../en-us/en-us.lm.bin -dict .../en-us/cmudict-en-us.dict -logfn /dev/null
// 26 word errors in 71 reference words (edit distance, as wordErrors() counts).
constexpr double referenceWordErrorRate = 26.0 / 71.0;

using Job = test::EventLog<TranscriptionEvent>;

QList<TranscriptSegment> segmentsOf(const Job& job) {
    const auto* success = job.success();
    return success ? success->segments : QList<TranscriptSegment>{};
}

Job runJob(TranscriptionService& service, const QString& path,
           TranscriptionLanguage language = TranscriptionLanguage::english) {
    Job job;
    service.transcribe(path, language, job.queuedHandler());
    if (!QTest::qWaitFor([&] { return job.finished(); }, 120'000))
        QTest::qFail("on-device job did not finish", __FILE__, __LINE__);
    // Nothing may follow the final event: wait a moment for one that would.
    const qsizetype count = job.events.size();
    if (QTest::qWaitFor([&] { return job.events.size() > count; }, 20))
        QTest::qFail("an event followed the final one", __FILE__, __LINE__);
    return job;
}

// Counts the heard words that are the reference's in order, case and punctuation aside,
// and those of them with its case.
void tally(const QStringList& reference, const QStringList& heard, int& right, int& cased) {
    const auto plain = [](const QString& word) { return QString(word).remove(u'.').remove(u','); };
    const auto same = [&](qsizetype i, qsizetype j) {
        return plain(reference[i]).toLower() == plain(heard[j]).toLower();
    };
    std::vector<std::vector<int>> common(size_t(reference.size() + 1),
                                         std::vector<int>(size_t(heard.size() + 1)));
    for (qsizetype i = reference.size() - 1; i >= 0; --i) {
        for (qsizetype j = heard.size() - 1; j >= 0; --j)
            common[i][j] = same(i, j) ? common[i + 1][j + 1] + 1
                                      : std::max(common[i + 1][j], common[i][j + 1]);
    }
    right += common[0][0];
    for (qsizetype i = 0, j = 0; i < reference.size() && j < heard.size();) {
        if (same(i, j))
            cased += plain(reference[i++]) == plain(heard[j++]);
        else
            common[i + 1][j] >= common[i][j + 1] ? ++i : ++j;
    }
}

QStringList filesIn(const QString& directory) {
    return QDir(directory).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

} // namespace

class TestOnDeviceTranscription : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QTemporaryDir m_work;
    LoopbackHttpServer m_server;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(fixtures::librivoxDirectory()), "pocketsphinx-testdata missing");
        for (const QString& id : fixtures::librivoxIds())
            QVERIFY(fixtures::encodeMp3(fixtures::librivoxDirectory() + u'/' + id + u".wav"_qs,
                                        m_media.filePath(id + u".mp3"_qs)));
        // The recogniser's own words, as the reference transcripts have them.
        QSettings().setValue(WrittenForm::settingKey(), false);
    }

    void longFileInThreeChunks() {
        // 7.1 s of speech, silence to 92 s, 3 s of speech, 2 s of silence.
        const QString dir = fixtures::librivoxDirectory();
        const QString path = m_media.filePath(u"long.mp3"_qs);
        QVERIFY(fixtures::ffmpeg(
            QString(
                u"-i "_qs + dir +
                u"/sense_and_sensibility_01_austen_64kb-0870.wav -f lavfi -t 84.9 "
                u"-i anullsrc=r=16000:cl=mono -i "_qs +
                dir +
                u"/sense_and_sensibility_01_austen_64kb-0880.wav -f lavfi -t 2 -i "
                u"anullsrc=r=16000:cl=mono -filter_complex [0:a][1:a][2:a][3:a]concat=n=4:v=0:a=1 "
                u"-ar 44100 -ac 2 -c:a libmp3lame "_qs +
                path)
                .split(u' ')));

        TranscriptionService service(nullptr, nullptr, m_work.path());
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        Job job;
        // Stamped when the engine reports, not when the busy main thread gets to it.
        service.transcribe(path, TranscriptionLanguage::english, [&](const auto& event) {
            QMetaObject::invokeMethod(qApp, [&, event, at = clock.elapsed()] {
                arrivals.append(at);
                job.events.append(event);
            });
        });
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 120'000));
        const auto steps = job.progress();
        QCOMPARE(steps.mid(0, 3), (QList<std::pair<double, QString>>{
                                      {0.05, u"Converting MP3 to audio buffer..."_qs},
                                      {0.1, u"Splitting audio into chunks..."_qs},
                                      {0.15, u"Transcribing 3 chunk(s) [on-device]..."_qs}}));
        QCOMPARE(steps.last(), (std::pair<double, QString>{1.0, u"Complete"_qs}));
        // Recognition reports steadily, never going back, and tells the time left once
        // five seconds of audio are behind it.
        QStringList chunkSteps;
        bool timeLeftShown = false;
        for (qsizetype i = 3; i + 1 < steps.size(); ++i) {
            QVERIFY(steps[i].first >= steps[i - 1].first);
            QVERIFY(arrivals[i] - arrivals[i - 1] < 1000);
            chunkSteps.append(steps[i].second);
            const auto& progress = std::get<TranscriptionEvent::Progress>(job.events[i].value);
            if (progress.fraction < 0.15 + 0.85 * 4.9 / 96.0)
                QCOMPARE(progress.secondsLeft, std::nullopt);
            timeLeftShown = timeLeftShown || progress.secondsLeft.has_value();
        }
        QVERIFY(timeLeftShown);
        // Chunk numbers count finished chunks, so they only go up (a silent chunk may
        // finish before the first report).
        QVERIFY(!chunkSteps.isEmpty() && std::is_sorted(chunkSteps.cbegin(), chunkSteps.cend()));
        for (const QString& step : chunkSteps)
            QVERIFY2(QRegularExpression(u"^Transcribing chunk [1-3] of 3\\.\\.\\.$"_qs)
                         .match(step)
                         .hasMatch(),
                     qPrintable(step));
        const QList<TranscriptSegment> segments = segmentsOf(job);
        QVERIFY(!segments.isEmpty());
        // The silent middle chunk adds nothing; the last chunk's words sit past 92 s.
        for (const TranscriptSegment& segment : segments)
            QVERIFY2(segment.endTime < 8.0 || segment.startTime >= 91.5,
                     qPrintable(segment.text + u" "_qs + QString::number(segment.startTime)));
        QVERIFY(segments.last().startTime >= 91.5 && segments.last().endTime < 96.0);
        QVERIFY(segments.first().endTime < 8.0);
        QCOMPARE(filesIn(m_work.path()), QStringList{});
    }

    // Chunks recognised side by side give what one after another gives, word for word
    // and time for time, also on decoders that have recognised other audio before; and
    // the words are as good as the reference tool's.
    // Each word carries its posterior probability. Words not in the reference are the
    // doubtful ones far more than words that are, and noise makes more of them doubtful.
    void posteriorsMarkDoubtfulWords() {
        TranscriptionService service(nullptr, nullptr, m_work.path());
        struct Tally {
            double right = 0, wrong = 0;
            int rightCount = 0, wrongCount = 0, doubtful = 0, words = 0;
        } clean, noisy;
        for (const QString& id : fixtures::librivoxIds()) {
            const QString wave = fixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
            const QString withNoise = m_media.filePath(id + u"-noisy.mp3"_qs);
            QVERIFY(fixtures::ffmpeg({u"-i"_qs, wave, u"-filter_complex"_qs,
                                      u"anoisesrc=a=0.05:c=pink:seed=7[n];"
                                      "[0][n]amix=inputs=2:duration=first:normalize=0"_qs,
                                      withNoise}));
            const QStringList reference = fixtures::referenceWords(id);
            for (auto [path, tally] : {std::pair{m_media.filePath(id + u".mp3"_qs), &clean},
                                       std::pair{withNoise, &noisy}}) {
                for (const TranscriptSegment& word : segmentsOf(runJob(service, path))) {
                    QVERIFY(word.confidence >= 0.0 && word.confidence <= 1.0);
                    const bool right = reference.contains(word.text.toLower());
                    (right ? tally->right : tally->wrong) += word.confidence;
                    ++(right ? tally->rightCount : tally->wrongCount);
                    tally->doubtful += word.isDoubtful();
                    ++tally->words;
                }
            }
        }
        // Measured: right words 0.72 and 0.49 on average, wrong ones 0.41 and 0.33;
        // doubtful 23 of 67 words, and 45 of 71 with noise.
        QVERIFY(clean.wrongCount > 0 && noisy.wrongCount > 0);
        QVERIFY(clean.wrong / clean.wrongCount < clean.right / clean.rightCount - 0.1);
        QVERIFY(noisy.wrong / noisy.wrongCount < noisy.right / noisy.rightCount - 0.1);
        QVERIFY(double(noisy.doubtful) / noisy.words > double(clean.doubtful) / clean.words);
    }

    void parallelEqualsSequential() {
        const QString speech = m_media.filePath(u"set.mp3"_qs);
        QStringList arguments;
        const QStringList ids = fixtures::librivoxIds();
        for (int round = 0; round < 4; ++round) {
            for (const QString& id : ids)
                arguments << u"-i"_qs << fixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
        }
        arguments << u"-filter_complex"_qs << u"concat=n=%1:v=0:a=1"_qs.arg(ids.size() * 4)
                  << speech;
        QVERIFY(fixtures::ffmpeg(arguments));

        TranscriptionService sequential(nullptr, nullptr, m_work.path(), 1);
        const QList<TranscriptSegment> reference = segmentsOf(runJob(sequential, speech));
        TranscriptionService parallel(nullptr, nullptr, m_work.path(), 3);
        for (int round = 0; round < 2; ++round)
            QCOMPARE(segmentsOf(runJob(parallel, speech)), reference);
        QCOMPARE(filesIn(m_work.path()), QStringList{});

        // Words in order, each with a positive length.
        for (qsizetype i = 0; i < reference.size(); ++i) {
            QVERIFY(reference[i].endTime > reference[i].startTime);
            QVERIFY2(i == 0 || reference[i].startTime >= reference[i - 1].endTime - 0.011,
                     qPrintable(reference[i].text));
        }
        QVERIFY(reference.last().startTime > 90.0);

        // Chunks end between words: recognised in one piece, the recording has a word
        // across where each chunk would end after 45 s ("respectable" over 45.0 s, then
        // "amiable" over the second chunk's 45 s), and none where the chunks did end.
        const QString whole = m_media.filePath(u"set.wav"_qs);
        QCOMPARE(AudioConverter::convertAudio(speech, whole), std::nullopt);
        RecognitionTask task;
        const QList<RecognizedWord> uncut = PocketSphinxRecognizerProvider()
                                                .recognizerFor(u"en-US"_qs)
                                                ->recognize(whole, true, task)
                                                .words;
        const auto across = [&](double time) {
            return std::any_of(uncut.cbegin(), uncut.cend(), [&](const RecognizedWord& word) {
                return word.timestamp + 0.02 < time && time < word.timestamp + word.duration - 0.02;
            });
        };
        const auto chunks = std::get<QList<TranscriptionService::Chunk>>(
            TranscriptionService::splitIntoChunks(whole, m_work.path()));
        QCOMPARE(chunks.size(), 3);
        for (int i = 1; i < 3; ++i) {
            QVERIFY(across(chunks[i - 1].offset + TranscriptionService::chunkDuration));
            QVERIFY2(!across(chunks[i].offset), qPrintable(QString::number(chunks[i].offset)));
        }
        for (const TranscriptionService::Chunk& chunk : chunks)
            QFile::remove(chunk.path);
        QFile::remove(whole);

        // Each recording on its own is recognised as well as by the reference tool.
        int errors = 0;
        int words = 0;
        for (const QString& id : ids) {
            QStringList hypothesis;
            for (const TranscriptSegment& segment :
                 segmentsOf(runJob(parallel, m_media.filePath(id + u".mp3"_qs))))
                hypothesis.append(segment.text);
            errors += fixtures::wordErrors(fixtures::referenceWords(id), hypothesis);
            words += int(fixtures::referenceWords(id).size());
        }
        const double rate = double(errors) / words;
        qInfo("word error rate %.3f (pocketsphinx_continuous: %.3f)", rate, referenceWordErrorRate);
        QVERIFY(rate <= referenceWordErrorRate + 0.05);
    }

    // A cancel, the engine going away, or a new request stops the recognition of a
    // chunk within half a second.
    void cancelMidChunk() {
        const QString path = m_media.filePath(u"long.mp3"_qs); // made by the test before
        std::list<Job> jobs; // what a stopped job still reports arrives later
        // The models are the test's, loaded once with a decoder per thread: loading one
        // (seconds under the sanitizers) cannot be interrupted, and freeing them is not
        // part of ending the job.
        const auto models = std::make_shared<PocketSphinxRecognizerProvider>();
        runJob(*std::make_unique<TranscriptionService>(models, nullptr, m_work.path()), path);
        for (const QString& stop : {u"cancel"_qs, u"destroy"_qs, u"new request"_qs}) {
            auto service = std::make_unique<TranscriptionService>(models, nullptr, m_work.path());
            Job& job = jobs.emplace_back();
            service->transcribe(path, TranscriptionLanguage::english, job.queuedHandler());
            QVERIFY(QTest::qWaitFor(
                [&] {
                    // The silent middle chunk ends at once: any chunk status will do.
                    return !job.progress().isEmpty() &&
                           job.progress().last().second.startsWith(u"Transcribing chunk "_qs);
                },
                60'000));
            QTest::qWait(200); // into the chunk
            QElapsedTimer timer;
            timer.start();
            if (stop == u"destroy"_qs) {
                service.reset();
            } else {
                if (stop == u"cancel"_qs)
                    service->cancel();
                else // for a file that is not there: the new job itself ends at once
                    service->transcribe(m_media.filePath(u"not-there.mp3"_qs),
                                        TranscriptionLanguage::english,
                                        jobs.emplace_back().handler());
                QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 5'000));
                QCOMPARE(job.failure(), u"Speech recognition error (301): Recognition was "
                                        u"cancelled."_qs);
            }
            QVERIFY2(timer.elapsed() < 500, qPrintable(stop + QString::number(timer.elapsed())));
        }
        QCoreApplication::sendPostedEvents();
        QCOMPARE(filesIn(m_work.path()), QStringList{});
    }

    // The very first job loads a decoder per thread, one at a time: a cancel waits for
    // the load under way, never for the others to be loaded too.
    void cancelWhileDecodersLoad() {
        QElapsedTimer clock;
        clock.start();
        runJob(*std::make_unique<TranscriptionService>(
                   std::make_shared<PocketSphinxRecognizerProvider>(), nullptr, m_work.path(), 1),
               m_media.filePath(fixtures::librivoxIds().first() + u".mp3"_qs));
        const qint64 oneLoad = clock.elapsed(); // and a few seconds recognised

        TranscriptionService service(std::make_shared<PocketSphinxRecognizerProvider>(), nullptr,
                                     m_work.path(), 3);
        Job job;
        service.transcribe(m_media.filePath(u"long.mp3"_qs), TranscriptionLanguage::english,
                           job.queuedHandler());
        QVERIFY(QTest::qWaitFor(
            [&] { return !job.progress().isEmpty() && job.progress().last().first >= 0.15; },
            60'000));
        clock.restart();
        service.cancel();
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 60'000));
        QVERIFY2(clock.elapsed() < oneLoad + 500, qPrintable(QString::number(clock.elapsed()) +
                                                             u" / "_qs + QString::number(oneLoad)));
        QCOMPARE(filesIn(m_work.path()), QStringList{});
    }

    // Pauses of half a second or more are left out, with 0.2 s kept on either side;
    // quiet is judged against the recording's own floor.
    void speechSpansSkipPauses_data() {
        QTest::addColumn<QList<int>>("pieces"); // 10 ms frames: sound if > 0
        QTest::addColumn<int>("noise");         // peak of a steady hiss under it all
        QTest::addColumn<QList<int>>("spans");  // frames, begin and end
        QTest::newRow("pause") << QList{100, -100, 100} << 0 << QList{0, 120, 180, 300};
        QTest::newRow("short pause") << QList{100, -30, 100} << 0 << QList{0, 230};
        QTest::newRow("quiet around") << QList{-200, 50, -200} << 0 << QList{180, 270};
        QTest::newRow("over a hiss") << QList{-200, 50, -200} << 300 << QList{180, 270};
        QTest::newRow("a click") << QList{-100, 5, -100, 100} << 0 << QList{185, 305};
        QTest::newRow("no pause") << QList{300} << 0 << QList{0, 300};
    }
    void speechSpansSkipPauses() {
        QFETCH(QList<int>, pieces);
        QFETCH(int, noise);
        QFETCH(QList<int>, spans);
        std::vector<short> samples;
        for (const int piece : pieces) {
            for (int i = 0; i < std::abs(piece) * 160; ++i)
                samples.push_back(short((piece > 0 ? 8000 * std::sin(i * 0.17) : 0) +
                                        (noise ? std::rand() % (2 * noise) - noise : 0)));
        }
        QList<int> found;
        for (const SampleSpan& span : speechSpans(samples, 16000))
            found << int(span.begin / 160) << int(span.end / 160);
        QCOMPARE(found, spans);
    }

    // Sentences end at pauses of half a second, "I", names the word list only writes with a
    // capital, titles; without the list the words stay as they were heard.
    void writtenForm_data() {
        QTest::addColumn<QString>("heard"); // a number is the pause after an utterance
        QTest::addColumn<bool>("list");
        QTest::addColumn<QString>("written");
        QTest::newRow("0.4 s") << u"we left 0.4 and came"_qs << true << u"We left and came."_qs;
        QTest::newRow("0.6 s") << u"we left 0.6 and came"_qs << true << u"We left. And came."_qs;
        QTest::newRow("chunk edge") << u"he might 0.15 have"_qs << true << u"He might have."_qs;
        QTest::newRow("i'm") << u"so i'm sure i said"_qs << true << u"So I'm sure I said."_qs;
        QTest::newRow("names") << u"john in london on monday in december"_qs << true
                               << u"John in London on Monday in December."_qs;
        QTest::newRow("both ways") << u"we may come in may"_qs << true << u"We may come in may."_qs;
        QTest::newRow("titles") << u"mr smith and dr dashwood"_qs << true
                                << u"Mr. Smith and Dr. dashwood."_qs;
        QTest::newRow("no list") << u"i met john 0.6 then"_qs << false << u"i met john then"_qs;
    }
    void writtenForm() {
        QFETCH(QString, heard);
        QFETCH(bool, list);
        QFETCH(QString, written);
        QList<TranscriptSegment> segments;
        QList<qsizetype> ends;
        double time = 0.0; // words of 0.3 s, 0.1 s apart
        for (const QString& token : heard.split(u' ')) {
            bool isPause = false;
            if (const double pause = token.toDouble(&isPause); isPause) {
                ends.append(segments.size() - 1);
                time += pause - 0.1;
                continue;
            }
            segments.append({.text = token,
                             .startTime = time,
                             .endTime = time + 0.3,
                             .words = {{token, time, time + 0.3}}});
            time += 0.4;
        }
        WrittenForm(WordList::read(list ? WordList::defaultPath() : m_work.filePath(u"none"_qs)))
            .rewriteTranscript(segments, ends);
        QStringList texts;
        for (const TranscriptSegment& segment : segments)
            texts.append(segment.words.first().text);
        QCOMPARE(texts.join(u' '), written);
    }

    // The recordings as people write them: of the words recognised rightly, at least 95 %
    // have the reference's case (48 of 54 as recognised, 53 written), and nothing else changes.
    void librivoxAsWritten() {
        const QStringList reference{
            u"And Mr. John Dashwood had then leisure to consider how much there might be "
            "prudently in his power to do for them."_qs,
            u"He was not an ill disposed young man."_qs,
            u"Unless to be rather cold hearted and rather selfish is to be ill disposed."_qs,
            u"Had he married a more a amiable woman, he might have been made still more "
            "respectable than he was."_qs,
            u"He might even have been made amiable himself."_qs};
        const QStringList ids = fixtures::librivoxIds();
        TranscriptionService service(nullptr, nullptr, m_work.path());
        QSettings settings;
        int right[2] = {}, cased[2] = {}, errors[2] = {};
        for (qsizetype i = 0; i < ids.size(); ++i) {
            QList<TranscriptSegment> raw;
            for (const bool on : {false, true}) {
                settings.setValue(WrittenForm::settingKey(), on);
                const QList<TranscriptSegment> segments =
                    segmentsOf(runJob(service, m_media.filePath(ids[i] + u".mp3"_qs)));
                QStringList heard, words;
                QVERIFY(!on || segments.size() == raw.size());
                for (qsizetype j = 0; j < segments.size(); ++j) {
                    heard.append(segments[j].text);
                    words.append(segments[j].text.toLower().remove(u'.'));
                    if (!on)
                        continue;
                    TranscriptSegment expected = raw[j]; // all but the text as in raw
                    expected.text = expected.words.first().text = segments[j].text;
                    QVERIFY(segments[j] == expected && words.last() == raw[j].text);
                }
                raw = segments;
                tally(reference[i].split(u' '), heard, right[on], cased[on]);
                errors[on] += fixtures::wordErrors(fixtures::referenceWords(ids[i]), words);
            }
        }
        settings.setValue(WrittenForm::settingKey(), false);
        qInfo("case as written: %d of %d words, as recognised %d of %d; word errors %d and %d",
              cased[1], right[1], cased[0], right[0], errors[1], errors[0]);
        QCOMPARE(errors[1], errors[0]);
        QVERIFY(cased[1] >= 0.95 * right[1]);
    }

    void badInput_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("outcome"); // the failure, or "*" for any transcript

        const auto make = [&](const QString& name, const QByteArray& bytes) {
            return writeFile(m_media.filePath(name), bytes);
        };
        const QString notAudio =
            u"Failed to convert audio: The selected file is not a valid audio file."_qs;
        QTest::newRow("zero bytes") << make(u"empty.mp3"_qs, {}) << notAudio;
        QTest::newRow("text file")
            << make(u"notes.mp3"_qs, "Just some notes, not audio.\n") << notAudio;
        const QByteArray whole =
            readFile(m_media.filePath(u"sense_and_sensibility_01_austen_64kb-0870.mp3"_qs));
        QTest::newRow("truncated after 1 KB")
            << make(u"truncated.mp3"_qs, whole.left(1024)) << u"*"_qs;
        QTest::newRow("read error mid-file") << make(u"failing:disk.mp3"_qs, whole)
                                             << u"Failed to convert audio: Input/output error"_qs;
        QTest::newRow("deleted") << m_media.filePath(u"deleted.mp3"_qs)
                                 << u"Failed to convert audio: No such file or directory"_qs;
        // A playlist saved under a media name must not make the converter go online.
        const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" +
                                    m_server.baseUrl().toUtf8() + "/segment.mp3\n#EXT-X-ENDLIST\n";
        QTest::newRow("playlist named .mp3") << make(u"list.mp3"_qs, playlist) << notAudio;
        QTest::newRow("playlist named .mp4") << make(u"list.mp4"_qs, playlist) << notAudio;

        const QString video = m_media.filePath(u"video-only.mp3"_qs);
        QVERIFY(fixtures::ffmpeg(
            QString(u"-f lavfi -i testsrc=size=64x64:rate=5 -t 1 -an -f mp4 "_qs + video)
                .split(u' ')));
        QTest::newRow("video only") << video
                                    << u"Failed to convert audio: No audio track found in the "
                                       u"selected file."_qs;

        const QString multichannel = m_media.filePath(u"eight-channels.mp3"_qs);
        QVERIFY(
            fixtures::ffmpeg(QString(u"-f lavfi -i sine=frequency=440:sample_rate=96000:duration=2 "
                                     u"-af pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|c7=c0 "
                                     u"-c:a flac -f flac "_qs +
                                     multichannel)
                                 .split(u' ')));
        QTest::newRow("8 channels at 96 kHz") << multichannel << u"*"_qs;

        const QString tiny = m_media.filePath(u"ten-ms.mp3"_qs);
        QVERIFY(fixtures::ffmpeg(
            QString(
                u"-f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.01 -c:a libmp3lame "_qs +
                tiny)
                .split(u' ')));
        QTest::newRow("10 ms") << tiny << u"*"_qs;
    }
    void badInput() {
        QFETCH(QString, file);
        QFETCH(QString, outcome);
        TranscriptionService service(nullptr, nullptr, m_work.path());
        const QByteArray failing =
            QFileInfo(file).fileName().startsWith(u"failing:"_qs) ? file.toUtf8() : QByteArray();
        failingFile.store(failing.isEmpty() ? nullptr : failing.constData());
        const Job job = runJob(service, file);
        failingFile.store(nullptr);
        QCOMPARE(job.finalEvents(), 1);
        QCOMPARE(m_server.requests().size(), 0);
        if (outcome == u"*"_qs) {
            // Whatever it holds, it ends as a transcript or as "no speech".
            QVERIFY2(job.failure().isEmpty() ||
                         job.failure().startsWith(u"No speech was detected"_qs),
                     qPrintable(job.failure()));
        } else {
            QCOMPARE(job.failure(), outcome);
        }
        QCOMPARE(filesIn(m_work.path()), QStringList{});
    }

    void languagesWithoutModel() {
        TranscriptionService service(nullptr, nullptr, m_work.path());
        const QString mp3 = m_media.filePath(u"sense_and_sensibility_01_austen_64kb-0880.mp3"_qs);
        QCOMPARE(runJob(service, mp3, TranscriptionLanguage::german).failure(),
                 u"On-device speech recognition is not available for Deutsch."_qs);
    }

    // An offline engine never sends the user online: a damaged model names its files.
    void damagedModel() {
        // Only missing files: PocketSphinx ends the process on a corrupt one.
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(u"en-us/en-us"_qs));
        TranscriptionService service(std::make_shared<PocketSphinxRecognizerProvider>(root.path()),
                                     nullptr, m_work.path());
        const Job job =
            runJob(service, m_media.filePath(u"sense_and_sensibility_01_austen_64kb-0880.mp3"_qs));
        QVERIFY2(job.failure().startsWith(u"Speech recognition error (1101): The PocketSphinx "
                                          u"model is incomplete; missing: "_qs),
                 qPrintable(job.failure()));
        QVERIFY(job.failure().contains(root.path()));
        QCOMPARE(filesIn(m_work.path()), QStringList{});
    }

    void autoDetectOnEnglishDesktops_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("identifier");
        QTest::newRow("en_US") << u"en_US"_qs << u"en-US"_qs;
        QTest::newRow("en_GB") << u"en_GB"_qs << u"en-US"_qs;
        QTest::newRow("C") << u"C"_qs << u"en-US"_qs;
        QTest::newRow("de_DE") << u"de_DE"_qs << u"de-DE"_qs;
    }
    void autoDetectOnEnglishDesktops() {
        QFETCH(QString, locale);
        QFETCH(QString, identifier);
        QLocale::setDefault(QLocale(locale));
        QCOMPARE(PocketSphinxRecognizerProvider().currentLocaleIdentifier(), identifier);
        QLocale::setDefault(QLocale::system());
    }

    // Work files of a killed job go when the engine next starts, unless another live
    // Vocalith may own them.
    void leftoversOfDeadProcessesAreRemoved() {
        QTemporaryDir work;
        const QStringList leftovers{u"0F8FAD5B-D9CB-469F-A165-70867728950E.wav"_qs,
                                    u"chunk_12_1F8FAD5B-D9CB-469F-A165-70867728950E.wav"_qs,
                                    u"part_3_2F8FAD5B-D9CB-469F-A165-70867728950E.m4a"_qs};
        const QStringList others{u"keep.wav"_qs, u"chunk_1_lower.wav"_qs, u"notes.txt"_qs};
        for (const QString& name : leftovers + others)
            writeFile(work.filePath(name));
        const auto filesAfterStart = [&] {
            TranscriptionService service(nullptr, nullptr, work.path());
            runJob(service, work.filePath(u"notes.txt"_qs)); // the clean-up ran before it
            QStringList files = filesIn(work.path());
            files.sort();
            return files;
        };
        QStringList all = leftovers + others;
        all.sort();

        // A lock held by a running process: nothing is touched.
        {
            QLockFile live(work.filePath(u".instance-live.lock"_qs));
            QVERIFY(live.tryLock(0));
            QCOMPARE(filesAfterStart(), all);
        }
        // The lock of a process that has ended: its files go, nobody else's.
        QLockFile mine(work.filePath(u".instance-mine.lock"_qs));
        QVERIFY(mine.tryLock(0));
        QByteArray contents = readFile(mine.fileName());
        QProcess ended;
        ended.start(u"true"_qs, {});
        QVERIFY(ended.waitForStarted());
        const qint64 endedId = ended.processId();
        QVERIFY(ended.waitForFinished());
        contents.replace(0, contents.indexOf('\n'), QByteArray::number(endedId));
        writeFile(work.filePath(u".instance-dead.lock"_qs), contents);
        mine.unlock();
        QStringList kept = others;
        kept.sort();
        QCOMPARE(filesAfterStart(), kept);
    }
};

QTEST_GUILESS_MAIN(TestOnDeviceTranscription)
#include "tst_ondevicetranscription.moc"
