#include "library/TranscriptLibrary.h"
#include "providers/KeychainHelper.h"
#include "queue/TranscriptionQueue.h"
#include "support/AudioFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "transcription/ExternalTranscriptionService.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;
using State = QueueItem::State;

class TestQueue : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QStringList files(const QString& stem, int count) const {
        QStringList paths;
        for (int i = 1; i <= count; ++i)
            paths.append(m_dir.filePath(stem + QString::number(i) + u".wav"_qs));
        for (const QString& path : paths) {
            QFile::remove(path);
            QFile::copy(AudioFixtures::librivoxDirectory() +
                            u"/sense_and_sensibility_01_austen_64kb-0930.wav"_qs,
                        path);
        }
        return paths;
    }

private Q_SLOTS:
    void initTestCase() {
        QCoreApplication::setOrganizationName(u"Vocalith"_qs);
        QCoreApplication::setApplicationName(u"Vocalith"_qs);
    }

    // Files run in order, one at a time on the device; a cancelled, failed or removed
    // file never holds up the rest, and what is done is kept in the library.
    void runsInOrder() {
        auto onDevice = std::make_unique<RecordingOnDeviceEngine>();
        RecordingOnDeviceEngine& engine = *onDevice;
        const auto library =
            std::make_shared<TranscriptLibrary>(m_dir.filePath(u"library.sqlite3"_qs));
        TranscriptionQueue queue(
            {std::move(onDevice), nullptr, &KeychainHelper::shared(), library});
        QSignalSpy finished(&queue, &TranscriptionQueue::finished);
        const QStringList paths = files(u"order"_qs, 4);
        QCOMPARE(queue.add(paths.mid(0, 3)), 3);
        QCOMPARE(queue.add({paths[1], paths[3]}), 1); // queued once
        const QString link = m_dir.filePath(u"order-link.wav"_qs);
        QVERIFY(QFile::link(paths[3], link));
        QCOMPARE(queue.add({link}), 0); // the same file under another name
        QCOMPARE(queue.items().size(), 4);
        QTRY_VERIFY(queue.items()[0].duration > 2.0); // read in the background
        const auto states = [&] {
            QList<State> states;
            for (const QueueItem& item : queue.items())
                states.append(item.state);
            return states;
        };
        const auto ids = [&](int i) { return queue.items()[i].id; };
        const QList<TranscriptSegment> words{{u"hello"_qs, 0.0, 0.5}};

        queue.start(TranscriptionEngine::onDevice(), TranscriptionLanguage::autoDetect);
        QCOMPARE(engine.jobs.size(), 1);
        QCOMPARE(engine.jobs[0].audioFilePath, paths[0]);
        engine.jobs[0].emitFromWorkerThread({TranscriptionEvent::progress(0.05, u"Converting"_qs)});
        QTRY_COMPARE(queue.items()[0].statusText(), u"Preparing"_qs);
        engine.jobs[0].emitFromWorkerThread({TranscriptionEvent::progress(0.42, u"Chunk"_qs, 70.0),
                                             TranscriptionEvent::success(words)});
        QTRY_COMPARE(engine.jobs.size(), 2);
        QCOMPARE(states(), (QList{State::done, State::preparing, State::waiting, State::waiting}));

        queue.cancel(ids(1)); // the running one: the next starts at once
        QCOMPARE(engine.cancels, 1);
        QCOMPARE(engine.jobs.size(), 3);
        engine.jobs[1].emitFromWorkerThread({TranscriptionEvent::success(words)}); // too late
        engine.jobs[2].emitFromWorkerThread(
            {TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"Boom"_qs})});
        QTRY_COMPARE(engine.jobs.size(), 4);
        QCOMPARE(states(), (QList{State::done, State::cancelled, State::failed, State::preparing}));
        QCOMPARE(queue.items()[2].statusText(), u"Failed: Boom"_qs);

        queue.retry(ids(2));
        queue.remove(ids(0));
        engine.jobs[3].emitFromWorkerThread({TranscriptionEvent::success(words)});
        QTRY_COMPARE(engine.jobs.size(), 5);
        QCOMPARE(engine.jobs[4].audioFilePath, paths[2]);
        QCOMPARE(states(), (QList{State::cancelled, State::preparing, State::done}));
        queue.cancelAll();
        QCOMPARE(states(), (QList{State::cancelled, State::cancelled, State::done}));
        QCOMPARE(finished.size(), 1);       // a failure in the middle ends nothing
        QCOMPARE(queue.add({paths[0]}), 1); // removed, so it may come again
        QTRY_COMPARE(library->transcripts().size(), 2);
        // Opened from the queue, it is the one kept: review edits go back to it.
        QTRY_COMPARE(
            library->transcript(queue.transcript(2).id).value_or(StoredTranscript{}).recordingPath,
            paths[3]);
    }

    void parallelProviderJobs_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("atOnce");
        QTest::newRow("one at a time unless set") << 0 << 3 << 1;
        QTest::newRow("four") << 4 << 8 << 4;
        QTest::newRow("never more than eight") << 20 << 9 << 8;
    }
    // The loopback server takes a second a request and counts those it holds at once.
    void parallelProviderJobs() {
        QFETCH(int, setting);
        QFETCH(int, files);
        QFETCH(int, atOnce);
        if (setting > 0)
            QSettings().setValue(u"com.vocalith.parallelProviderJobs"_qs, setting);
        else
            QSettings().remove(u"com.vocalith.parallelProviderJobs"_qs);
        LoopbackHttpServer server;
        QElapsedTimer clock;
        clock.start();
        QList<qint64> received;
        server.setResponder([&](const LoopbackHttpServer::Request&) {
            received.append(clock.elapsed());
            LoopbackHttpServer::Response answer(
                200, R"({"text":"words","segments":[{"start":0,"end":1,"text":"words"}]})");
            answer.delayMs = 1000;
            return answer;
        });
        TranscriptionQueue queue({std::make_unique<RecordingOnDeviceEngine>(),
                                  [] { return std::make_unique<ExternalTranscriptionService>(); },
                                  &KeychainHelper::shared(),
                                  {}});
        QSignalSpy finished(&queue, &TranscriptionQueue::finished);
        queue.add(this->files(u"parallel"_qs, files));
        queue.start(TranscriptionEngine::custom(
                        CustomProvider::create(u"Loop"_qs, server.baseUrl(), u"whisper-1"_qs)),
                    TranscriptionLanguage::autoDetect);
        QVERIFY(finished.wait(120'000));
        QCOMPARE(received.size(), files);
        for (const QueueItem& item : queue.items())
            QCOMPARE(item.statusText(), u"Done"_qs);
        int most = 0;
        for (const qint64 at : received) {
            most = std::max<int>(
                most, int(std::count_if(received.cbegin(), received.cend(), [at](qint64 other) {
                    return other <= at && other > at - 1000;
                })));
        }
        QCOMPARE(most, atOnce);
        QSettings().remove(u"com.vocalith.parallelProviderJobs"_qs);
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
