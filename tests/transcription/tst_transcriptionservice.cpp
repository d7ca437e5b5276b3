#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionService.h"

#include <QDir>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace vocalith;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

// Answers each chunk from a script, by the chunk's number. Like the real recogniser it
// looks at its task only once a chunk is done: a held first chunk runs until the test
// releases it, and a slow one ends after the others.
class ScriptedRecognizer final : public SpeechRecognizer {
public:
    bool available = true;
    bool onDevice = true;
    QList<RecognitionOutcome> script; // one per chunk; missing entries mean no speech
    bool holdFirstChunk = false;
    int slowChunk = -1;
    std::atomic<int> calls{0};
    std::atomic<bool> waiting{false};
    std::atomic<bool> released{false};

    bool isAvailable() const override { return available; }
    bool supportsOnDeviceRecognition() const override { return onDevice; }
    RecognitionOutcome recognize(const QString& path, bool, RecognitionTask& task) override {
        const int chunk = QFileInfo(path).fileName().section(u'_', 1, 1).toInt();
        {
            const std::lock_guard lock(m_mutex);
            paths.append(path);
        }
        ++calls;
        if (holdFirstChunk && chunk == 0) {
            waiting = true;
            while (!released)
                QThread::msleep(1);
        }
        if (chunk == slowChunk)
            QThread::msleep(300);
        if (task.isCancelled())
            return RecognitionOutcome::failure(RecognitionCode::cancelled, u"cancelled"_qs);
        if (chunk < script.size())
            return script[chunk];
        return RecognitionOutcome::failure(RecognitionCode::noSpeech, u"none"_qs);
    }
    QStringList paths;

private:
    std::mutex m_mutex;
};

class ScriptedProvider final : public SpeechRecognizerProvider {
public:
    std::shared_ptr<ScriptedRecognizer> recognizer = std::make_shared<ScriptedRecognizer>();
    QString locale = u"en-US"_qs;
    QStringList asked;

    std::shared_ptr<SpeechRecognizer> recognizerFor(const QString& id) override {
        asked.append(id);
        return id == u"en-US"_qs ? recognizer : nullptr;
    }
    QString currentLocaleIdentifier() const override { return locale; }
};

class ScriptedAuthorizer final : public SpeechAuthorizer {
public:
    Status current = Status::authorized;
    Status answer = Status::authorized;
    Status status() const override { return current; }
    void requestAuthorization(std::function<void(Status)> reply) override {
        // The answer comes later, from a thread of the platform's choosing.
        std::thread([reply, a = answer] {
            QThread::msleep(10);
            reply(a);
        }).detach();
    }
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
        ScriptedAuthorizer* authorizer = nullptr;
        QTemporaryDir work;
        std::unique_ptr<TranscriptionService> service;

        // One thread unless asked: the order of calls is then the order of chunks.
        explicit Setup(int threads = 1) {
            auto auth = std::make_unique<ScriptedAuthorizer>();
            authorizer = auth.get();
            service = std::make_unique<TranscriptionService>(provider, std::move(auth), work.path(),
                                                             threads);
        }
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
        QVERIFY(fixtures::writeWave(m_hundredSeconds, 16000, 100 * 16000, true));
    }

    // Words are trimmed and shifted by their chunk, in chunk order however the threads
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
        QCOMPARE(segmentsOf(job),
                 (QList<TranscriptSegment>{
                     {u"Hello"_qs, 1.0, 1.5}, {u"mid"_qs, 47.5, 47.9}, {u"world"_qs, 92.5, 92.9}}));
        QCOMPARE(s.recognizer().paths.size(), 3);
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
        const Job job = s.run(m_hundredSeconds);
        QCOMPARE(job.failure(), u"Speech recognition error (1700): Boom"_qs);
        QCOMPARE(job.error().domain, u"Vocalith"_qs);
        QCOMPARE(s.recognizer().calls.load(), 2); // the third chunk is never recognised
        QCOMPARE(s.leftovers(), QStringList{});

        Setup silent;
        QCOMPARE(silent.run(m_hundredSeconds).failure(),
                 TranscriptionError::noSpeechDetected().errorDescription());
        QCOMPARE(silent.recognizer().calls.load(), 3);
        QCOMPARE(silent.leftovers(), QStringList{});
    }

    void recognizerChoice() {
        Setup s;
        s.provider->locale = u"C"_qs;
        QCOMPARE(s.run(m_hundredSeconds, TranscriptionLanguage::autoDetect).failure(),
                 u"On-device speech recognition is not available for Auto Detect."_qs);
        s.provider->locale = u"en-US"_qs;
        s.recognizer().script = {words({{u"ok"_qs, 0, 1}})};
        QCOMPARE(segmentsOf(s.run(m_hundredSeconds, TranscriptionLanguage::autoDetect)).size(), 1);
        QCOMPARE(s.provider->asked, (QStringList{u"C"_qs, u"en-US"_qs}));

        s.recognizer().available = false;
        const Job unavailable = s.run(m_hundredSeconds);
        QCOMPARE(unavailable.failure(), u"Speech recognizer is currently unavailable. Please check "
                                        u"your internet connection."_qs);
        QCOMPARE(unavailable.events.size(), 1);

        s.recognizer().available = true;
        s.recognizer().onDevice = false;
        s.recognizer().calls = 0;
        const Job online = s.run(m_hundredSeconds);
        QVERIFY(std::any_of(online.events.cbegin(), online.events.cend(), [](const auto& e) {
            const auto* p = std::get_if<TranscriptionEvent::Progress>(&e.value);
            return p && p->message == u"Transcribing 3 chunk(s) [online]..."_qs;
        }));
    }

    void permission() {
        const QString denied = TranscriptionError::authorizationDenied().errorDescription();
        for (auto status :
             {SpeechAuthorizer::Status::denied, SpeechAuthorizer::Status::restricted}) {
            Setup s;
            s.authorizer->current = status;
            const Job job = s.run(m_hundredSeconds);
            QCOMPARE(job.events.size(), 1);
            QCOMPARE(job.failure(), denied);
        }
        Setup refused;
        refused.authorizer->current = SpeechAuthorizer::Status::notDetermined;
        refused.authorizer->answer = SpeechAuthorizer::Status::denied;
        const Job refusedJob = refused.run(m_hundredSeconds);
        QCOMPARE(refusedJob.events.size(), 1);
        QCOMPARE(refusedJob.failure(), denied);

        Setup granted;
        granted.authorizer->current = SpeechAuthorizer::Status::notDetermined;
        granted.recognizer().script = {words({{u"yes"_qs, 0, 1}})};
        QCOMPARE(segmentsOf(granted.run(m_hundredSeconds)).size(), 1);
    }

    void newRequestCancelsTheRunningChunk() {
        Setup s;
        s.recognizer().holdFirstChunk = true;
        Job first;
        s.service->transcribe(m_hundredSeconds, TranscriptionLanguage::english,
                              first.queuedHandler());
        QVERIFY(QTest::qWaitFor([&] { return s.recognizer().waiting.load(); }, 10'000));

        s.recognizer().script = {{}, words({{u"second"_qs, 0, 1}})};
        Job second;
        s.service->transcribe(m_hundredSeconds, TranscriptionLanguage::english,
                              second.queuedHandler());
        s.recognizer().released = true; // the chunk ends, and only then sees the cancel
        QTRY_VERIFY(first.finished());
        QCOMPARE(first.failure(), u"Speech recognition error (301): cancelled"_qs);
        QTRY_VERIFY(second.finished());
        QCOMPARE(segmentsOf(second).size(), 1);
        QCOMPARE(s.leftovers(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionService)
#include "tst_transcriptionservice.moc"
