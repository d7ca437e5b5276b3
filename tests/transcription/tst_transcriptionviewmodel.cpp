#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"
#include "transcription/TranscriptionViewModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;

namespace {

using Fixture = TestController;

const QList<TranscriptSegment> twoWords{{u"Hello"_qs, 0.0, 0.5}, {u"world"_qs, 0.6, 1.0}};

} // namespace

class TestTranscriptionViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaultsAndFileIntake() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        QCOMPARE(vm.selectedLanguage(), TranscriptionLanguage::autoDetect);
        QCOMPARE(vm.availableEngines(), QList{TranscriptionEngine::onDevice()});
        vm.startTranscription(); // no file: nothing happens
        QVERIFY(f.onDevice->jobs.isEmpty() && vm.statusMessage().isEmpty());

        const QUrl file = f.makeFile(u"Interview 3.mp3"_qs, 1234);
        f.dialogs.openAnswers = {std::nullopt, file};
        vm.openFilePanel(); // cancelled
        QVERIFY(vm.audioFileURL().isEmpty());
        vm.openFilePanel();
        QCOMPARE(vm.audioFileURL(), file);
        QCOMPARE(vm.fileSize(), 1234);
        QCOMPARE(f.dialogs.openMessages.last(), u"Select an MP3 file to transcribe"_qs);
        QCOMPARE(f.dialogs.openFilters.last().size(), 2);
        QVERIFY(f.dialogs.openFilters.last().first().startsWith(
            u"Audio and video files (*.mp3 *.m4a *.aac *.wav"_qs));
        QCOMPARE(f.dialogs.openFilters.last().last(), u"MP3 Audio (*.mp3)"_qs);
        // A file that cannot be read shows size 0 and no error.
        vm.loadFile(QUrl::fromLocalFile(f.dir.filePath(u"gone.mp3"_qs)));
        QCOMPARE(vm.fileSize(), 0);
        QCOMPARE(vm.errorMessage(), std::nullopt);
    }

    // A job from start to success, a restart to failure, and a new file meanwhile.
    void jobOutcomes() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.setSelectedLanguage(TranscriptionLanguage::german);
        vm.startTranscription();
        QVERIFY(vm.isTranscribing());
        QCOMPARE(vm.statusMessage(), u"Preparing audio..."_qs);
        vm.startTranscription(); // while a job runs: nothing
        QCOMPARE(f.onDevice->jobs.size(), 1);
        QCOMPARE(f.onDevice->jobs.first().audioFilePath, f.dir.filePath(u"talk.mp3"_qs));
        QCOMPARE(f.onDevice->jobs.first().language, TranscriptionLanguage::german);

        // A new file resets the view, the running job still finishes.
        vm.loadFile(f.makeFile(u"two.mp3"_qs, 20));
        QCOMPARE(vm.statusMessage(), QString());
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.5, u"Half"_qs), TranscriptionEvent::success(twoWords)});
        QTRY_VERIFY(!vm.isTranscribing());
        QCOMPARE(vm.segments(), twoWords);
        QCOMPARE(vm.transcribedText(), u"Hello world"_qs);
        QCOMPARE(vm.statusMessage(), u"Transcription complete"_qs);
        QCOMPARE(vm.progress(), 1.0);
        QVERIFY(vm.showSuccessBanner() && vm.showSaveDialog());

        // A restart clears the result at once; a failure leaves none behind.
        vm.startTranscription();
        QVERIFY(vm.transcribedText().isEmpty() && !vm.showSuccessBanner());
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.3, u"Recognising"_qs),
             TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"Boom"_qs})});
        QTRY_VERIFY(!vm.isTranscribing());
        QCOMPARE(vm.errorMessage(), u"Boom"_qs);
        QCOMPARE(vm.statusMessage(), u"Transcription failed"_qs);
        QCOMPARE(vm.progress(), 0.0);
        QVERIFY(vm.segments().isEmpty());

        // An empty success still completes.
        vm.startTranscription();
        f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success({})});
        QTRY_VERIFY(vm.showSuccessBanner());
        QCOMPARE(vm.transcribedText(), QString());
    }

    // Cancel unlocks at once with a notice; whatever the job still reports is dropped.
    void cancel() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        vm.cancelTranscription(); // nothing running: nothing happens
        QCOMPARE(vm.noticeMessage(), std::nullopt);
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.startTranscription();
        vm.cancelTranscription();
        QCOMPARE(f.onDevice->cancels, 1);
        QVERIFY(!vm.isTranscribing());
        QCOMPARE(vm.progress(), 0.0);
        QCOMPARE(vm.noticeMessage(), u"Transcription was cancelled."_qs);
        QCOMPARE(vm.errorMessage(), std::nullopt);
        f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(twoWords)});
        QTest::qWait(0);
        QVERIFY(!QTest::qWaitFor([&] { return !vm.transcribedText().isEmpty(); }, 50));
        QVERIFY(!vm.showSaveDialog() && f.dialogs.saveDialogs.isEmpty());
        vm.startTranscription(); // a new start clears the notice
        QCOMPARE(vm.noticeMessage(), std::nullopt);
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
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        vm.startTranscription();
        // The engine reported progress synchronously; it is applied only later.
        QCOMPARE(vm.progress(), 0.0);
        QCOMPARE(f.external->jobs.first().apiKey, u"gsk_ключ"_qs);
        QCOMPARE(f.external->jobs.first().provider, provider);
        QTRY_COMPARE(vm.statusMessage(), u"Preparing upload to Groq..."_qs);

        // Editing the provider leaves the selected copy as it was.
        CustomProvider renamed = provider;
        renamed.name = u"Groq 2"_qs;
        f.store().updateProvider(renamed, std::nullopt);
        QCOMPARE(vm.selectedEngine(), TranscriptionEngine::custom(provider));
    }

    void missingOrEmptyKeyStopsBeforeAnyRequest() {
        Fixture f;
        TranscriptionViewModel& vm = *f.vm;
        f.store().addProvider(u"Empty Key"_qs, u"u"_qs, u"m"_qs, QString());
        f.store().addProvider(u"No Key"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        KeychainHelper::shared().deleteKey(f.store().providers().at(1).idText());
        vm.loadFile(f.makeFile(u"talk.mp3"_qs, 10));
        for (const CustomProvider& provider : QList(f.store().providers())) {
            vm.setSelectedEngine(TranscriptionEngine::custom(provider));
            vm.startTranscription();
            QVERIFY(!vm.isTranscribing());
            QCOMPARE(vm.errorMessage(), u"No API key found for "_qs + provider.name +
                                            u". Edit the provider and add your API key."_qs);
            QCOMPARE(vm.statusMessage(), u"Transcription failed"_qs);
        }
        QVERIFY(f.external->jobs.isEmpty());
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
};

QTEST_GUILESS_MAIN(TestTranscriptionViewModel)
#include "tst_transcriptionviewmodel.moc"
