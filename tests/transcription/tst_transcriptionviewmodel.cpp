#include "core/TranscriptRendering.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vocalith;
using namespace vocalith::test;

namespace {

using Fixture = TestController;

const QList<TranscriptSegment> twoWords{{u"Hello"_qs, 0.0, 0.5}, {u"world"_qs, 0.6, 1.0}};

const QList<TranscriptSegment> threeWords{
    {u"Grüße"_qs, 0.0, 0.5}, {u"aus"_qs, 0.6, 1.0}, {u"Köln"_qs, 2.0, 2.4}};

// A controller holding a finished transcription of "<dir>/Interview 3.mp3".
struct Transcribed : TestController {
    Transcribed() {
        vm->loadFile(QUrl::fromLocalFile(dir.filePath(u"Interview 3.mp3"_qs)));
        vm->startTranscription();
        onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(threeWords)});
        if (!QTest::qWaitFor([&] { return !vm->isTranscribing(); }))
            qFatal("the transcription did not finish");
    }

    ScriptedFileDialogs::OpenSaveDialog& openDialog() {
        vm->saveTranscription();
        return dialogs.saveDialogs.last();
    }

    QString path(const QString& name) const { return dir.filePath(name); }
};
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
        QVERIFY(f.dialogs.openFilters.last().first().startsWith(
            u"Audio and video files (*.mp3 *.m4a *.aac *.wav"_qs));
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
        f.store().addProvider(u"Groq"_qs, u"https://api.groq.com/openai/v1"_qs,
                              u"whisper-large-v3"_qs, u"gsk_ключ"_qs);
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

        // An edited provider is another engine: the selected copy stays as it was.
        CustomProvider renamed = provider;
        renamed.name = u"Groq 2"_qs;
        f.store().updateProvider(renamed, std::nullopt);
        QCOMPARE(vm.selectedEngine(), TranscriptionEngine::custom(provider));
        QVERIFY(vm.selectedEngine() != TranscriptionEngine::custom(renamed));
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
        // A server on the user's own machine or network may go without one.
        f.store().addProvider(u"Local"_qs, u"http://192.168.1.9:8000/v1"_qs, u"m"_qs, QString());
        vm.setSelectedEngine(TranscriptionEngine::custom(f.store().providers().last()));
        vm.startTranscription();
        QVERIFY(vm.isTranscribing());
        QCOMPARE(f.external->jobs.first().apiKey, QString());
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

    // Each finished job is kept and edits follow it, also when it is opened again from
    // the library; a library that cannot be written leaves the transcript on the tab.
    void keptInTheLibrary() {
        QTemporaryDir folder;
        const auto library =
            std::make_shared<TranscriptLibrary>(folder.filePath(u"library.sqlite3"_qs));
        Fixture f(nullptr, library);
        TranscriptionViewModel& vm = *f.vm;
        const QUrl talk = f.makeFile(u"talk.mp3"_qs, "not really a recording");
        const auto transcribe = [&] {
            vm.startTranscription();
            f.onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(threeWords)});
            QTRY_VERIFY(!vm.isTranscribing());
        };
        vm.loadFile(talk);
        transcribe();
        QTRY_COMPARE(library->transcripts().size(), 1);
        const StoredTranscript stored = library->transcripts().constFirst();
        QCOMPARE(stored.recordingPath, talk.toLocalFile());
        QCOMPARE(stored.recordingSize, 22);
        QCOMPARE(
            stored.contentHash,
            QCryptographicHash::hash("not really a recording", QCryptographicHash::Sha256).toHex());
        QCOMPARE(stored.engine, u"On-device (PocketSphinx)"_qs);

        QList<TranscriptSegment> edited = threeWords;
        edited[0].text = u"Grüß"_qs;
        vm.setEditedSegments(edited);
        QTRY_COMPARE(library->transcript(stored.id)->segments, edited);

        vm.loadFile(f.makeFile(u"other.mp3"_qs));
        vm.setEditedSegments(threeWords); // not the stored one's any more
        QVERIFY(vm.openStoredTranscript(*library->transcript(stored.id)));
        QCOMPARE(vm.segments(), edited);
        QCOMPARE(vm.audioFileURL(), talk);
        edited[1].text = u"von"_qs;
        vm.setEditedSegments(edited);
        QTRY_COMPARE(library->transcript(stored.id)->segments, edited);
        QCOMPARE(library->transcripts().size(), 1);

        // A disk that takes nothing more: files may not grow past their first byte.
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit full{1, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
        transcribe();
        QTRY_VERIFY(vm.errorMessage().has_value());
        setrlimit(RLIMIT_FSIZE, &limit);
        QVERIFY2(
            vm.errorMessage()->startsWith(u"The transcript could not be kept in the library: "_qs),
            qPrintable(*vm.errorMessage()));
        QCOMPARE(vm.transcribedText(), plainTextRendering(threeWords));
        QCOMPARE(library->transcripts().size(), 1);
    }

    // A dialog still open when the transcript is replaced saves nothing rather than the
    // wrong transcript under the old name.
    void lateSaveOfAReplacedTranscript() {
        Transcribed f;
        const auto finished = f.openDialog().finished;
        f.vm->loadFile(f.makeFile(u"other.mp3"_qs));
        finished(SaveDialogChoice{f.path(u"Interview 3.txt"_qs), 0, 0});
        QVERIFY(!QFile::exists(f.path(u"Interview 3.txt"_qs)));
        QCOMPARE(f.vm->noticeMessage(),
                 u"Nothing was saved: the transcript changed while the save dialog was open."_qs);
    }

    void dialogProposesNameAndFormats() {
        Transcribed f;
        auto& dialog = f.openDialog();
        QCOMPARE(dialog.request.message, u"Save transcription — choose .txt or .srt format"_qs);
        QCOMPARE(dialog.request.proposedName, u"Interview 3.txt"_qs);
        QCOMPARE(dialog.request.formats,
                 (QStringList{u"Plain Text (.txt)"_qs, u"Subtitles (.srt)"_qs,
                              u"WebVTT Subtitles (.vtt)"_qs, u"JSON (.json)"_qs}));

        dialog.formatChanged(1);
        dialog.formatChanged(2);
        dialog.formatChanged(0);
        QCOMPARE(
            dialog.dialog->proposedNames,
            (QStringList{u"Interview 3.srt"_qs, u"Interview 3.vtt"_qs, u"Interview 3.txt"_qs}));

        // Once it is closed, its format choice renames nothing any more.
        dialog.finished(std::nullopt);
        dialog.formatChanged(1);
        QCOMPARE(dialog.dialog->proposedNames.size(), 3);

        // The name and folder are the transcribed file's, whatever is loaded now.
        f.vm->setAudioFileURL({});
        QCOMPARE(f.openDialog().request.proposedName, u"Interview 3.txt"_qs);
        QCOMPARE(f.dialogs.saveDialogs.last().request.directory,
                 QFileInfo(f.dir.path()).absoluteFilePath());
    }

    void formatAndName_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("formatIndex");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QByteArray>("content");
        const QByteArray text = "Grüße aus Köln";
        const QByteArray srt = "1\n00:00:00,000 --> 00:00:01,000\nGrüße aus\n\n"
                               "2\n00:00:02,000 --> 00:00:02,400\nKöln\n\n";
        const QByteArray vtt = "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nGrüße aus\n\n"
                               "00:00:02.000 --> 00:00:02.400\nKöln\n\n";
        QTest::newRow("typed srt wins over text choice") << u"x.srt"_qs << 0 << u"x.srt"_qs << srt;
        QTest::newRow("txt typed, srt chosen") << u"x.txt"_qs << 1 << u"x.srt"_qs << srt;
        QTest::newRow("no extension, text") << u"x"_qs << 0 << u"x.txt"_qs << text;
        QTest::newRow("upper-case kept") << u"Notes.TXT"_qs << 0 << u"Notes.TXT"_qs << text;
        QTest::newRow("vtt chosen") << u"x.txt"_qs << 2 << u"x.vtt"_qs << vtt;
        QTest::newRow("typed vtt wins") << u"Film.vtt"_qs << 1 << u"Film.vtt"_qs << vtt;
    }
    void formatAndName() {
        QFETCH(QString, typed);
        QFETCH(int, formatIndex);
        QFETCH(QString, written);
        QFETCH(QByteArray, content);
        Transcribed f;
        f.openDialog().finished(SaveDialogChoice{f.path(typed), formatIndex});
        QCOMPARE(readFile(f.path(written)), content);
        if (written != typed)
            QVERIFY(!QFile::exists(f.path(typed)));
        QVERIFY(f.dialogs.replaceQuestions.isEmpty());
        QCOMPARE(f.vm->errorMessage(), std::nullopt);
    }

    void repairedNameAsksBeforeReplacing() {
        Transcribed f;
        writeFile(f.path(u"notes.srt"_qs), "keep me");

        f.dialogs.replaceAnswers = {false};
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.txt"_qs), 1});
        QCOMPARE(f.dialogs.replaceQuestions, QStringList{f.path(u"notes.srt"_qs)});
        QCOMPARE(readFile(f.path(u"notes.srt"_qs)), QByteArray("keep me"));
        QVERIFY(!QFile::exists(f.path(u"notes.txt"_qs)));

        f.dialogs.replaceAnswers = {true};
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.txt"_qs), 1});
        QCOMPARE(readFile(f.path(u"notes.srt"_qs)), srtRendering(threeWords).toUtf8());

        // A name the user picked as it is was already confirmed by the dialog itself.
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.srt"_qs), 1});
        QCOMPARE(f.dialogs.replaceQuestions.size(), 2);

        f.openDialog().finished(SaveDialogChoice{f.path(u"missing-folder/x.txt"_qs), 0});
        const QString error = f.vm->errorMessage().value_or(QString());
        QVERIFY2(error.startsWith(u"Failed to save: "_qs) && error.size() > 16, qPrintable(error));
        QCOMPARE(f.vm->transcribedText(), u"Grüße aus Köln"_qs);
    }

    // Subtitles opened for review are saved as they came; an edit changes its cue alone,
    // and numbers that ran on still run on after a delete or split.
    void reviewedSubtitlesSaveAsRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text"); // empty: the row is deleted; "|" splits it there
        QTest::addColumn<double>("start");
        QTest::addColumn<QByteArray>("edited");
        const QByteArray srt = "\xEF\xBB\xBF"
                               "41\r\n00:00:01,000 --> 00:00:03,900\r\n<i>Hello</i>\r\n"
                               "there\r\n\r\n42\r\n00:00:04,000 --> 00:00:04,2\r\nbroken\r\n\r\n"
                               "43\r\n00:00:04,300 --> 00:00:07,002\r\n{\\an8}Close by\r\n";
        QTest::newRow("SRT: CRLF, BOM, markup, unreadable block, from 41")
            << u"talk.srt"_qs << srt << 0 << u"<i>Hallo</i> there"_qs << 1.0
            << QByteArray(srt).replace("<i>Hello</i>", "<i>Hallo</i>");
        const QByteArray vtt =
            "WEBVTT - Talk\n\nSTYLE\n::cue { color: yellow }\n\nNOTE by hand\n\n"
            "intro\n00:01.000 --> 00:03.500 align:start position:10%\n<v Anna>Hello "
            "&amp; welcome\nto the talk\n\n00:04.000 --> 00:05.250\n<i>Thanks</i>\n\n";
        QTest::newRow("VTT: header, blocks, identifier, settings, markup")
            << u"talk.en.vtt"_qs << vtt << 0 << QString() << 1.2
            << QByteArray(vtt).replace("00:01.000 -->", "00:01.200 -->");
        const QByteArray numbered = "1\n00:00:01,000 --> 00:00:02,000\nOne\n\n"
                                    "2\n00:00:03,000 --> 00:00:04,000\nTwo words\n\n"
                                    "3\n00:00:05,000 --> 00:00:06,000\nThree\n";
        QTest::newRow("a delete numbers on")
            << u"film.srt"_qs << numbered << 1 << QString() << -1.0
            << QByteArray("1\n00:00:01,000 --> 00:00:02,000\nOne\n\n"
                          "2\n00:00:05,000 --> 00:00:06,000\nThree\n");
        QTest::newRow("a split numbers on")
            << u"film.srt"_qs << numbered << 1 << u"Two|words"_qs << 3.5
            << QByteArray("1\n00:00:01,000 --> 00:00:02,000\nOne\n\n"
                          "2\n00:00:03,000 --> 00:00:03,500\nTwo\n\n"
                          "3\n00:00:03,500 --> 00:00:04,000\nwords\n\n"
                          "4\n00:00:05,000 --> 00:00:06,000\nThree\n");
    }
    void reviewedSubtitlesSaveAsRead() {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(double, start);
        QFETCH(QByteArray, edited);
        Fixture f;
        f.makeFile(u"talk.mp3"_qs);
        f.makeFile(u"film.mp3"_qs);
        f.dialogs.openAnswers = {f.makeFile(name, file)};
        QVERIFY(f.vm->openSubtitlesForReview());
        QCOMPARE(f.vm->noticeMessage(),
                 file.contains("04,2\r")
                     ? std::optional(
                           u"1 block of talk.srt could not be read; saving keeps it as it is."_qs)
                     : std::nullopt);
        const int format = name.endsWith(u".vtt"_qs) ? 2 : 1;
        const auto save = [&](const QString& as) {
            f.vm->saveTranscription();
            auto& dialog = f.dialogs.saveDialogs.last();
            QCOMPARE(dialog.request.proposedName, name);
            QCOMPARE(dialog.request.selectedFormat, format);
            dialog.finished(SaveDialogChoice{f.dir.filePath(as), format});
        };
        save(name);
        QCOMPARE(readFile(f.dir.filePath(name)), file);

        QList<TranscriptSegment> rows = f.vm->segments();
        if (text.isEmpty() && start < 0) {
            rows.removeAt(row);
        } else if (text.contains(u'|')) {
            rows.insert(row + 1, rows[row]);
            rows[row].text = text.section(u'|', 0, 0);
            rows[row].endTime = rows[row + 1].startTime = start;
            rows[row + 1].text = text.section(u'|', 1);
        } else {
            rows[row].text = text.isEmpty() ? rows[row].text : text;
            rows[row].startTime = start;
        }
        f.vm->setEditedSegments(rows);
        save(name);
        QCOMPARE(readFile(f.dir.filePath(name)), edited);
    }

    void closingAfterControllerIsGone() {
        auto f = std::make_unique<Transcribed>();
        const auto finished = f->openDialog().finished;
        const QString target = f->path(u"after.txt"_qs);
        f->vm.reset();
        finished(SaveDialogChoice{target, 0});
        QVERIFY(!QFile::exists(target));

        Transcribed empty;
        empty.vm->resetResults();
        empty.vm->saveTranscription(); // nothing to save
        QVERIFY(empty.dialogs.saveDialogs.isEmpty());
    }

    // A recording made here stays while its transcript is shown, saved or not, and goes
    // with it: another file, another recording, Remove, quit; unless someone keeps it.
    void recordingGoesWithItsTranscript_data() {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("error");
        for (const char* then : {"another file", "another recording", "Remove", "quit", "kept"})
            QTest::newRow(then) << QString::fromLatin1(then) << QString();
        // A recording that ended in an error is all there is to try again from.
        QTest::newRow("ended early, then another file")
            << u"another file"_qs << u"The microphone stopped giving sound."_qs;
    }
    void recordingGoesWithItsTranscript() {
        QFETCH(QString, then);
        QFETCH(QString, error);
        Fixture f;
        QVERIFY(QDir().mkpath(TranscriptionService::recordingsDirectory()));
        const QString recording =
            writeFile(TranscriptionService::recordingsDirectory() + u"/Recording 1.flac"_qs);
        f.vm->finishRecording(recording, twoWords, error);
        f.vm->saveTranscription();
        f.dialogs.saveDialogs.last().finished(SaveDialogChoice{f.dir.filePath(u"a.txt"_qs), 0});
        QVERIFY(QFile::exists(recording) && f.vm->hasRecording());
        if (then == u"another file")
            f.vm->loadFile(f.makeFile(u"Interview.mp3"_qs));
        else if (then == u"another recording")
            f.vm->finishRecording(writeFile(recording + u"2"_qs), twoWords, {});
        else if (then == u"Remove") // what the file card's button does
            f.vm->removeFile();
        if (then == u"kept")
            f.vm->keepRecording();
        if (then == u"quit" || then == u"kept")
            f.vm.reset();
        QCOMPARE(QFile::exists(recording), then == u"kept" || !error.isEmpty());
        QFile::remove(recording);
    }
};

QTEST_GUILESS_MAIN(TestTranscriptionViewModel)
#include "tst_transcriptionviewmodel.moc"
