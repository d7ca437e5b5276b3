#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionService.h"

#include <QDir>
#include <QTest>
#include <QThread>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

// Answers each chunk from a script, by the chunk's number; a slow one ends after the
// others.
class ScriptedRecognizer final : public SpeechRecognizer {
public:
    QList<RecognitionOutcome> script; // one per chunk; missing entries mean no speech
    int slowChunk = -1;
    std::atomic<int> calls{0};

    bool isAvailable() const override { return true; }
    bool supportsOnDeviceRecognition() const override { return true; }
    RecognitionOutcome recognize(const QString& path, bool, RecognitionTask& task) override {
        const int chunk = QFileInfo(path).fileName().section(u'_', 1, 1).toInt();
        ++calls;
        if (chunk == slowChunk)
            QThread::msleep(300);
        if (task.isCancelled())
            return RecognitionOutcome::failure(RecognitionCode::cancelled, u"cancelled"_qs);
        if (chunk < script.size())
            return script[chunk];
        return RecognitionOutcome::failure(RecognitionCode::noSpeech, u"none"_qs);
    }
};

class ScriptedProvider final : public SpeechRecognizerProvider {
public:
    std::shared_ptr<ScriptedRecognizer> recognizer = std::make_shared<ScriptedRecognizer>();
    std::shared_ptr<SpeechRecognizer> recognizerFor(const QString& id) override {
        return id == u"en-US"_qs ? recognizer : nullptr;
    }
    QString currentLocaleIdentifier() const override { return u"en-US"_qs; }
};

using Job = test::EventLog<TranscriptionEvent>;

QList<TranscriptSegment> segmentsOf(const Job& job) {
    const auto* success = job.success();
    return success ? success->segments : QList<TranscriptSegment>{};
}

RecognitionOutcome words(const QList<RecognizedWord>& list) {
    return {list, std::nullopt, {}};
}

} // namespace

class TestTranscriptionService : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_hundredSeconds;

    struct Setup {
        std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>();
        QTemporaryDir work;
        std::unique_ptr<TranscriptionService> service;

        // One thread unless asked: the order of calls is then the order of chunks.
        explicit Setup(int threads = 1)
            : service(std::make_unique<TranscriptionService>(provider, nullptr, work.path(),
                                                             threads)) {}
        ScriptedRecognizer& recognizer() { return *provider->recognizer; }
        Job run(const QString& path,
                TranscriptionLanguage language = TranscriptionLanguage::english) {
            Job job;
            service->transcribe(path, language, job.queuedHandler());
            if (!QTest::qWaitFor([&] { return job.finished(); }, 30'000))
                qWarning("job did not finish");
            return job;
        }
        QStringList leftovers() const {
            return QDir(work.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
        }
    };

private Q_SLOTS:
    void initTestCase() {
        m_hundredSeconds = m_media.filePath(u"hundred.wav"_qs);
        // Tone with two short pauses near where chunks may end (45 ± 2 s, then 45 ± 2 s on).
        QVERIFY(fixtures::writeWave(m_hundredSeconds, 16000, 100 * 16000, true,
                                    {{44.0, 44.4}, {90.5, 90.9}}));
    }

    // Chunks end in the quiet nearest their nominal end, at the middle of its first 0.2 s;
    // words are trimmed and shifted by their chunk, in chunk order however the threads
    // finish (the first chunk ends last here).
    void wordsAreShiftedByTheirChunk() {
        Setup s(3);
        s.recognizer().slowChunk = 0;
        s.recognizer().script = {
            words({{u" Hello "_qs, 1.0, 0.5}, {u"   "_qs, 2.0, 0.1}}),
            words({{u"mid"_qs, 2.5, 0.4}}),
            words({{u"world\t"_qs, 2.5, 0.4}}),
        };
        const Job job = s.run(m_hundredSeconds);
        // A segment a word, holding that word.
        const auto word = [](const QString& text, double start, double end) {
            return TranscriptSegment{
                .text = text, .startTime = start, .endTime = end, .words = {{text, start, end}}};
        };
        QCOMPARE(segmentsOf(job),
                 (QList<TranscriptSegment>{word(u"Hello"_qs, 1.0, 1.5),
                                           word(u"mid"_qs, 44.1 + 2.5, 44.1 + 2.5 + 0.4),
                                           // the recording's end ends the sentence
                                           word(u"world."_qs, 90.6 + 2.5, 90.6 + 2.5 + 0.4)}));
        QCOMPARE(s.recognizer().calls.load(), 3);
        QCOMPARE(s.leftovers(), QStringList{});

        // The failure reported is the first real one in chunk order, not a chunk
        // cancelled because of it.
        s.recognizer().script[2] = RecognitionOutcome::failure(1700, u"Boom"_qs);
        QCOMPARE(s.run(m_hundredSeconds).failure(), u"Speech recognition error (1700): Boom"_qs);
        QCOMPARE(s.leftovers(), QStringList{});
    }

    void recognizerErrorsEndTheJob() {
        Setup s;
        s.recognizer().script = {words({{u"a"_qs, 0, 1}}),
                                 RecognitionOutcome::failure(1700, u"Boom"_qs)};
        QCOMPARE(s.run(m_hundredSeconds).failure(), u"Speech recognition error (1700): Boom"_qs);
        QCOMPARE(s.recognizer().calls.load(), 2); // the third chunk is never recognised
        s.recognizer().script.clear();
        QCOMPARE(s.run(m_hundredSeconds).failure(),
                 TranscriptionError::noSpeechDetected().errorDescription());
        QCOMPARE(s.leftovers(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionService)
#include "tst_transcriptionservice.moc"
