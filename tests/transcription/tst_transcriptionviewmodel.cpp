#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"
#include "transcription/TranscriptionViewModel.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace vocalith;
using namespace vocalith::test;

namespace {

using Fixture = TestController;

const QList<TranscriptSegment> twoWords{{u"Hello"_qs, 0.0, 0.5}, {u"world"_qs, 0.6, 1.0}};

} // namespace

class TestTranscriptionViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsFromDefaults() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        QCOMPARE(vm.selectedLanguage(), TranscriptionLanguage::autoDetect);
        QCOMPARE(vm.selectedEngine(), TranscriptionEngine::onDevice());
        QCOMPARE(vm.availableEngines(), QList{TranscriptionEngine::onDevice()});
        QVERIFY(vm.audioFileURL().isEmpty());
        QCOMPARE(vm.errorMessage(), std::nullopt);

        // Without a file, or while a job runs, starting changes nothing.
        QSignalSpy status(&vm, &TranscriptionViewModel::statusMessageChanged);
        vm.startTranscription();
        QCOMPARE(status.count(), 0);
        vm.loadFile(f.makeFile(u"a.mp3"_qs, 10));
        vm.startTranscription();
        vm.setErrorMessage(u"kept"_qs);
        vm.startTranscription();
        QCOMPARE(f.onDevice->jobs.size(), 1);
        QCOMPARE(vm.errorMessage(), u"kept"_qs);
    }

    void fileIntake() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        const QUrl file = f.makeFile(u"Interview 3.mp3"_qs, 1234);

        f.dialogs.openAnswers = {std::nullopt, file};
        vm.openFilePanel(); // cancelled
        QVERIFY(vm.audioFileURL().isEmpty());
        vm.openFilePanel();
        QCOMPARE(vm.audioFileURL(), file);
        QCOMPARE(vm.fileSize(), 1234);
        QCOMPARE(f.dialogs.openMessages.last(), u"Select an MP3 file to transcribe"_qs);
        QCOMPARE(f.dialogs.openFilters.last(), QStringList{u"MP3 Audio (*.mp3)"_qs});

        // A file that cannot be read shows size 0 and no error.
        vm.loadFile(QUrl::fromLocalFile(f.dir.filePath(u"gone.mp3"_qs)));
        QCOMPARE(vm.fileSize(), 0);
        QCOMPARE(vm.errorMessage(), std::nullopt);
    }

    void onDeviceJobAppliesEventsInOrderOnMainThread() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.setSelectedLanguage(TranscriptionLanguage::german);
        vm.startTranscription();

        QVERIFY(vm.isTranscribing());
        QCOMPARE(vm.statusMessage(), u"Preparing audio..."_qs);
        QCOMPARE(f.onDevice->jobs.size(), 1);
        const RecordedJob& job = f.onDevice->jobs.first();
        QCOMPARE(job.audioFilePath, f.dir.filePath(u"talk.mp3"_qs));
        QCOMPARE(job.language, TranscriptionLanguage::german);

        QStringList statuses;
        QList<bool> onMainThread;
        connect(&vm, &TranscriptionViewModel::statusMessageChanged, this, [&] {
            statuses.append(vm.statusMessage());
            onMainThread.append(QThread::currentThread() == qApp->thread());
        });
        QList<TranscriptionEvent> events;
        for (int i = 1; i <= 50; ++i)
            events.append(TranscriptionEvent::progress(i / 100.0, QString::number(i)));
        events.append(TranscriptionEvent::success(twoWords));
        job.emitFromWorkerThread(events);

        QVERIFY(statuses.isEmpty()); // nothing applied on the worker thread
        QTRY_VERIFY(!vm.isTranscribing());
        QStringList expected;
        for (int i = 1; i <= 50; ++i)
            expected.append(QString::number(i));
        expected.append(u"Transcription complete"_qs);
        QCOMPARE(statuses, expected);
        QVERIFY(!onMainThread.contains(false));

        QCOMPARE(vm.segments(), twoWords);
        QCOMPARE(vm.transcribedText(), u"Hello world"_qs);
        QCOMPARE(vm.progress(), 1.0);
        QVERIFY(vm.showSuccessBanner());
        QVERIFY(vm.showSaveDialog());
    }

    void failureClearsResult() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.startTranscription();
        f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(twoWords)});
        QTRY_VERIFY(!vm.isTranscribing());

        vm.startTranscription();
        // The restart reset the previous result at once.
        QVERIFY(vm.transcribedText().isEmpty());
        QVERIFY(!vm.showSuccessBanner());
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.3, u"Recognising"_qs),
             TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"Boom"_qs})});
        QTRY_VERIFY(!vm.isTranscribing());
        QCOMPARE(vm.errorMessage(), u"Boom"_qs);
        QCOMPARE(vm.statusMessage(), u"Transcription failed"_qs);
        QCOMPARE(vm.progress(), 0.0);
        QVERIFY(vm.segments().isEmpty());
        QVERIFY(vm.transcribedText().isEmpty());
    }

    void emptySuccessStillCompletes() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.startTranscription();
        f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success({})});
        QTRY_VERIFY(!vm.isTranscribing());
        QCOMPARE(vm.transcribedText(), QString());
        QCOMPARE(vm.progress(), 1.0);
        QVERIFY(vm.showSuccessBanner());
    }

    void newFileDuringJobResetsButJobFinishes() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.loadFile(f.makeFile(u"one.mp3"_qs, 10));
        vm.startTranscription();
        vm.loadFile(f.makeFile(u"two.mp3"_qs, 20));
        QVERIFY(vm.isTranscribing());
        QCOMPARE(vm.statusMessage(), QString());
        f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(twoWords)});
        QTRY_COMPARE(vm.transcribedText(), u"Hello world"_qs);
        QCOMPARE(vm.fileSize(), 20);
    }

    void providerJobUsesStoredKey() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        QSignalSpy enginesChanged(&vm, &TranscriptionViewModel::availableEnginesChanged);
        f.store().addProvider(u"Groq"_qs, u"https://api.groq.com/openai/v1"_qs,
                              u"whisper-large-v3"_qs, u"gsk_ключ"_qs);
        QVERIFY(enginesChanged.count() > 0);
        const CustomProvider provider = f.store().providers().first();
        QCOMPARE(vm.availableEngines(),
                 (QList{TranscriptionEngine::onDevice(), TranscriptionEngine::custom(provider)}));

        vm.setSelectedEngine(TranscriptionEngine::custom(provider));
        vm.setSelectedLanguage(TranscriptionLanguage::chineseCantonese);
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.startTranscription();

        // The engine reported progress synchronously; it is applied only later.
        QCOMPARE(vm.statusMessage(), u"Preparing audio..."_qs);
        QCOMPARE(vm.progress(), 0.0);
        QCOMPARE(f.external->jobs.size(), 1);
        QCOMPARE(f.external->jobs.first().apiKey, u"gsk_ключ"_qs);
        QCOMPARE(f.external->jobs.first().provider, provider);
        QCOMPARE(f.external->jobs.first().language, TranscriptionLanguage::chineseCantonese);
        QTRY_COMPARE(vm.statusMessage(), u"Preparing upload to Groq..."_qs);
        QCOMPARE(vm.progress(), 0.05);

        // Editing the provider leaves the selected copy, and the next job, as they were.
        CustomProvider renamed = provider;
        renamed.name = u"Groq 2"_qs;
        f.store().updateProvider(renamed, std::nullopt);
        QCOMPARE(vm.selectedEngine(), TranscriptionEngine::custom(provider));
        QVERIFY(!vm.availableEngines().contains(vm.selectedEngine()));
        f.store().deleteProvider(provider);
    }

    void deletingTheSelectedProviderResetsTheEngine() {
        Fixture f;
        f.store().addProvider(u"Chosen"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        f.store().addProvider(u"Other"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        const CustomProvider chosen = f.store().providers().first();
        f.vm->setSelectedEngine(TranscriptionEngine::custom(chosen));
        f.vm->deleteProvider(f.store().providers().last());
        QCOMPARE(f.vm->selectedEngine(), TranscriptionEngine::custom(chosen));
        f.vm->deleteProvider(f.store().providers().first()); // a reference into the list
        QCOMPARE(f.vm->selectedEngine(), TranscriptionEngine::onDevice());
        QVERIFY(f.store().providers().isEmpty());
    }

    void missingOrEmptyKeyStopsBeforeAnyRequest() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        f.store().addProvider(u"Empty Key"_qs, u"u"_qs, u"m"_qs, QString());
        f.store().addProvider(u"No Key"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        const CustomProvider empty = f.store().providers().at(0);
        const CustomProvider none = f.store().providers().at(1);
        KeychainHelper::shared().deleteKey(none.idText());
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));

        for (const CustomProvider& provider : {empty, none}) {
            vm.setSelectedEngine(TranscriptionEngine::custom(provider));
            vm.startTranscription();
            QVERIFY(!vm.isTranscribing());
            QCOMPARE(vm.errorMessage(), u"No API key found for "_qs + provider.name +
                                            u". Edit the provider and add your API key."_qs);
            QCOMPARE(vm.statusMessage(), u"Transcription failed"_qs);
            QVERIFY(vm.transcribedText().isEmpty());
        }
        QVERIFY(f.external->jobs.isEmpty());
        f.store().deleteProvider(empty);
        f.store().deleteProvider(none);
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionViewModel)
#include "tst_transcriptionviewmodel.moc"
