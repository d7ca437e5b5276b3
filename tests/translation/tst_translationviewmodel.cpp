#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/ChatFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "translation/TranslationViewModel.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;
using Format = TranslationService::InputFormat;

namespace {

// A controller wired to a real store and keyring, talking to a loopback server.
struct Fixture : TestController {
    LoopbackHttpServer server;
    TranslationViewModel translation{KeychainHelper::shared(), dialogs};
    CustomProvider provider;

    Fixture() {
        store().addProvider(u"Loopback"_qs, server.baseUrl(), u"model-x"_qs, u"sk-loop"_qs);
        provider = store().providers().first();
        translation.setProviderStore(&store());
        translation.setSelectedProvider(provider);
    }
    QByteArray saved(const QString& name) const { return readFile(dir.filePath(name)); }
};

} // namespace

class TestTranslationViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadingFiles() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        vm.loadFile(
            f.makeFile(u"Pilot.SRT"_qs, QByteArray("\xEF\xBB\xBF"
                                                   "1\r\n00:00:01,000 --> 00:00:02,000\r\n")));
        QCOMPARE(vm.detectedFormat(), Format::srt);
        // The byte-order mark is not part of the text.
        QCOMPARE(vm.inputText(), u"1\r\n00:00:01,000 --> 00:00:02,000\r\n"_qs);

        // Unreadable files leave everything as it was.
        for (const QUrl& bad : {f.makeFile(u"latin1.txt"_qs, QByteArray("caf\xe9 cr\xe8me")),
                                f.makeFile(u"cut.txt"_qs, QByteArray("Gr\xC3\xBC\xC3")),
                                QUrl::fromLocalFile(f.dir.filePath(u"missing.txt"_qs)),
                                QUrl::fromLocalFile(f.dir.path())}) {
            vm.setErrorMessage(std::nullopt);
            vm.loadFile(bad);
            QCOMPARE(vm.errorMessage(), u"Could not read the file."_qs);
            QCOMPARE(vm.inputFileURL().fileName(), u"Pilot.SRT"_qs);
        }
        vm.loadFile(f.makeFile(u"notes.txt"_qs, QByteArray("Grüße")));
        QCOMPARE(vm.detectedFormat(), Format::plainText);
        QCOMPARE(vm.inputText(), u"Grüße"_qs);
        QCOMPARE(vm.errorMessage(), std::nullopt);
        vm.clearInput();
        QVERIFY(vm.inputText().isEmpty() && vm.inputFileURL().isEmpty());
    }

    void preconditions() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        QSignalSpy statusChanges(&vm, &TranslationViewModel::statusMessageChanged);
        vm.setInputText(u" \n\t\n"_qs);
        vm.startTranslation();
        QCOMPARE(vm.errorMessage(), u"Input text is empty."_qs);
        vm.setInputText(u"Hello"_qs);
        vm.setSelectedProvider(std::nullopt);
        vm.startTranslation();
        QCOMPARE(vm.errorMessage(), u"Please select a provider for translation."_qs);

        // Keys are read afresh at every start; a missing or empty one stops a job for a
        // server elsewhere.
        f.store().addProvider(u"Remote"_qs, u"https://api.example.com/v1"_qs, u"m"_qs, u"k"_qs);
        const CustomProvider remote = f.store().providers().last();
        vm.setSelectedProvider(remote);
        KeychainHelper::shared().saveKey(QString(), remote.idText());
        vm.startTranslation();
        QCOMPARE(vm.errorMessage(), u"No API key found for Remote."_qs);
        KeychainHelper::shared().deleteKey(remote.idText());
        vm.startTranslation();
        QCOMPARE(vm.errorMessage(), u"No API key found for Remote."_qs);
        QCOMPARE(statusChanges.count(), 0);
        QVERIFY(f.server.requests().isEmpty());
    }

    void translatesSubtitlesAndSaves() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        f.server.setResponder(echoingChat([](const QString& s) { return s.toUpper(); }));
        vm.loadFile(f.makeFile(u"episode.srt"_qs,
                               QByteArray("\n1\n00:00:01,000 --> 00:00:02,000\nhi\n\n")));
        vm.startTranslation();
        QCOMPARE(vm.statusMessage(), u"Starting translation..."_qs); // events come later
        // A file loaded while the job runs does not take over the job's name or format.
        QVERIFY(QDir().mkpath(f.dir.filePath(u"elsewhere"_qs)));
        vm.loadFile(f.makeFile(u"elsewhere/notes.txt"_qs, QByteArray("other")));
        QTRY_VERIFY(!vm.isTranslating());
        QCOMPARE(vm.outputText(), u"1\n00:00:01,000 --> 00:00:02,000\nHI"_qs);
        QCOMPARE(vm.statusMessage(), u"Translation complete"_qs);
        QVERIFY(vm.showSuccessBanner());
        QCOMPARE(f.server.requests().first().header("Authorization"), QByteArray("Bearer sk-loop"));

        // Saved beside the source; a name without extension gets the format's.
        vm.saveTranslation();
        auto& dialog = f.dialogs.saveDialogs.last();
        QCOMPARE(dialog.request.message, u"Save translated file"_qs);
        QCOMPARE(dialog.request.proposedName, u"episode_translated.srt"_qs);
        QCOMPARE(dialog.request.directory, QFileInfo(f.dir.path()).absoluteFilePath());
        dialog.finished(SaveDialogChoice{f.dir.filePath(u"out"_qs), 0});
        QCOMPARE(f.saved(u"out.srt"_qs), vm.outputText().toUtf8());
        vm.saveTranslation(); // broadcast lines: checked, and the count told
        f.dialogs.saveDialogs.last().finished(SaveDialogChoice{f.dir.filePath(u"b.srt"_qs), 0, 1});
        QCOMPARE(f.saved(u"b.srt"_qs), vm.outputText().toUtf8());
        QCOMPARE(vm.noticeMessage(),
                 u"Saved; every subtitle reads at 17 characters a second or less"_qs);
        vm.saveTranslation();
        f.dialogs.saveDialogs.last().finished(
            SaveDialogChoice{f.dir.filePath(u"no-such-folder/out.srt"_qs), 0});
        QVERIFY(vm.errorMessage().value_or(QString()).startsWith(u"Failed to save: "_qs));
    }

    // A cancel after some batches discards them: no half translation to save.
    void cancelDiscardsWhatWasTranslated() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        f.server.setResponder([&](const LoopbackHttpServer::Request& request) {
            return f.server.requests().size() == 1
                       ? LoopbackHttpServer::Response(200, chatAnswer(chatUserMessage(request)))
                       : LoopbackHttpServer::Response(200, {},
                                                      LoopbackHttpServer::Delivery::neverAnswer);
        });
        QString srt;
        for (int i = 1; i <= 20; ++i)
            srt += QString::number(i) + u"\n00:00:01,000 --> 00:00:02,000\nLine\n\n"_qs;
        vm.loadFile(f.makeFile(u"long.srt"_qs, srt.toUtf8()));
        vm.startTranslation();
        QVERIFY(QTest::qWaitFor([&] { return f.server.requests().size() == 2; }, 10'000));
        vm.cancelTranslation();
        QVERIFY(!vm.isTranslating());
        QCOMPARE(vm.noticeMessage(), u"Translation was cancelled."_qs);
        QVERIFY(vm.outputText().isEmpty() && !vm.errorMessage() && !vm.showSuccessBanner());
        QVERIFY(!QTest::qWaitFor([&] { return vm.errorMessage().has_value(); }, 200));
        vm.saveTranslation();
        QVERIFY(f.dialogs.saveDialogs.isEmpty());
    }

    // A server on this computer needs no key; a failed batch offers
    // Retry, which goes on from it, until something the job used changes.
    void keylessServersAndRetry() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        f.store().addProvider(u"Local"_qs, f.server.baseUrl(), u"m"_qs, QString());
        vm.setSelectedProvider(f.store().providers().last());
        f.server.enqueue({200, chatAnswer(u"Hallo"_qs)});
        vm.setInputText(u"Hello"_qs);
        vm.startTranslation();
        QTRY_COMPARE(vm.outputText(), u"Hallo"_qs);
        QVERIFY(f.server.requests().last().header("Authorization").isEmpty());

        vm.setSelectedProvider(f.provider);
        const qsizetype before = f.server.requests().size();
        const auto echo = echoingChat();
        f.server.setResponder([&](const LoopbackHttpServer::Request& request) {
            return f.server.requests().size() == before + 2
                       ? LoopbackHttpServer::Response(503, "overloaded")
                       : echo(request);
        });
        QString srt;
        for (int i = 1; i <= 20; ++i)
            srt += QString::number(i) + u"\n00:00:01,000 --> 00:00:02,000\nLine\n\n"_qs;
        vm.loadFile(f.makeFile(u"long.srt"_qs, srt.toUtf8()));
        vm.startTranslation();
        QTRY_VERIFY(vm.canRetry());
        QCOMPARE(vm.errorMessage(), u"API error (HTTP 503): overloaded"_qs);
        vm.retryTranslation();
        QVERIFY(vm.isTranslating() && !vm.errorMessage() && !vm.canRetry());
        QTRY_VERIFY(!vm.isTranslating());
        QCOMPARE(vm.outputText(), srt.trimmed());
        QCOMPARE(f.server.requests().size(), before + 3);

        f.server.setResponder([](const auto&) { return LoopbackHttpServer::Response(500, "x"); });
        vm.startTranslation();
        QTRY_VERIFY(vm.canRetry());
        vm.setTargetLanguage(u"French"_qs);
        QVERIFY(!vm.canRetry());
    }

    void plainTextAndOutcomes() {
        Fixture f;
        TranslationViewModel& vm = f.translation;
        vm.saveTranslation(); // nothing to save yet
        QVERIFY(f.dialogs.saveDialogs.isEmpty());
        f.server.enqueue({200, chatAnswer(u"Halo"_qs)});
        vm.setInputText(u"\n\nHello\n\n"_qs);
        vm.startTranslation();
        QTRY_COMPARE(vm.outputText(), u"Halo"_qs);
        QCOMPARE(chatUserMessage(f.server.requests().first()), u"\n\nHello\n\n"_qs);
        vm.saveTranslation();
        QCOMPARE(f.dialogs.saveDialogs.last().request.proposedName,
                 u"translation_translated.txt"_qs);

        // Restarting clears the previous result before any event arrives.
        f.server.enqueue({401, "denied"});
        vm.startTranslation();
        QVERIFY(vm.outputText().isEmpty() && !vm.showSuccessBanner());
        QTRY_VERIFY(!vm.isTranslating());
        QCOMPARE(vm.errorMessage(), u"API error (HTTP 401): denied"_qs);
        QCOMPARE(vm.statusMessage(), u"Translation failed"_qs);
        QCOMPARE(vm.progress(), 0.0);

        // One outcome at a time: a failed start hides the last success.
        f.server.enqueue({200, chatAnswer(u"Halo"_qs)});
        vm.startTranslation();
        QTRY_VERIFY(vm.showSuccessBanner());
        vm.setSelectedProvider(std::nullopt);
        vm.startTranslation();
        QVERIFY(vm.errorMessage().has_value() && !vm.showSuccessBanner());
    }
};

QTEST_GUILESS_MAIN(TestTranslationViewModel)
#include "tst_translationviewmodel.moc"
