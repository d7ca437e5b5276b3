#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/ChatFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "translation/TranslationViewModel.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;
using Server = LoopbackHttpServer;
using Format = TranslationService::InputFormat;

namespace {

// A controller wired to a real store and keyring, talking to a loopback server.
struct Fixture {
    QTemporaryDir dir;
    Server server;
    ScriptedFileDialogs dialogs;
    ProviderStore store{KeychainHelper::shared(), settingsIn(dir)};
    TranslationViewModel vm{KeychainHelper::shared(), dialogs};
    CustomProvider provider;

    Fixture() {
        store.addProvider(u"Loopback"_qs, server.baseUrl(), u"model-x"_qs, u"sk-loop"_qs);
        provider = store.providers().first();
        vm.setProviderStore(&store);
        vm.setSelectedProvider(provider);
    }
    ~Fixture() { store.deleteProvider(provider); }

    QUrl file(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return QUrl::fromLocalFile(file.fileName());
    }
};

} // namespace

class TestTranslationViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loadingFiles() {
        Fixture f;
        f.vm.loadFile(f.file(u"Pilot.SRT"_qs, "\xEF\xBB\xBF"
                                              "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"));
        QCOMPARE(f.vm.detectedFormat(), Format::srt);
        // The byte-order mark is not part of the text.
        QCOMPARE(f.vm.inputText(), u"1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n"_qs);
        QCOMPARE(f.vm.inputFileURL().fileName(), u"Pilot.SRT"_qs);

        // Unreadable files leave everything as it was.
        for (const QUrl& bad : {f.file(u"latin1.txt"_qs, "caf\xe9 cr\xe8me"),
                                f.file(u"cut.txt"_qs, "Gr\xC3\xBC\xC3"), // cut mid-character
                                QUrl::fromLocalFile(f.dir.filePath(u"missing.txt"_qs)),
                                QUrl::fromLocalFile(f.dir.path())}) {
            f.vm.setErrorMessage(std::nullopt);
            f.vm.loadFile(bad);
            QCOMPARE(f.vm.errorMessage(), u"Could not read the file."_qs);
            QCOMPARE(f.vm.detectedFormat(), Format::srt);
            QCOMPARE(f.vm.inputFileURL().fileName(), u"Pilot.SRT"_qs);
        }

        f.vm.loadFile(f.file(u"notes.txt"_qs, "Grüße"));
        QCOMPARE(f.vm.detectedFormat(), Format::plainText);
        QCOMPARE(f.vm.inputText(), u"Grüße"_qs);
        QCOMPARE(f.vm.errorMessage(), std::nullopt);

        f.vm.loadFile(f.file(u"Pilot.srt"_qs, "1\nx"));
        f.vm.clearInput();
        QCOMPARE(f.vm.detectedFormat(), Format::plainText);
        QVERIFY(f.vm.inputText().isEmpty());
        QVERIFY(f.vm.inputFileURL().isEmpty());
    }

    void preconditions() {
        Fixture f;
        QSignalSpy statusChanges(&f.vm, &TranslationViewModel::statusMessageChanged);
        f.vm.setInputText(u" \n\t\n"_qs);
        f.vm.startTranslation();
        QCOMPARE(f.vm.errorMessage(), u"Input text is empty."_qs);

        f.vm.setInputText(u"Hello"_qs);
        f.vm.setSelectedProvider(std::nullopt);
        f.vm.startTranslation();
        QCOMPARE(f.vm.errorMessage(), u"Please select a provider for translation."_qs);

        // Keys are read afresh at every start; a missing or empty one stops it.
        f.vm.setSelectedProvider(f.provider);
        KeychainHelper::shared().saveKey(QString(), f.provider.idText());
        f.vm.startTranslation();
        QCOMPARE(f.vm.errorMessage(), u"No API key found for Loopback."_qs);
        KeychainHelper::shared().deleteKey(f.provider.idText());
        f.vm.startTranslation();
        QCOMPARE(f.vm.errorMessage(), u"No API key found for Loopback."_qs);

        // Without the provider store attached there is no key either.
        KeychainHelper::shared().saveKey(u"sk-loop"_qs, f.provider.idText());
        f.vm.setProviderStore(nullptr);
        f.vm.startTranslation();
        QCOMPARE(f.vm.errorMessage(), u"No API key found for Loopback."_qs);

        QVERIFY(!f.vm.isTranslating());
        QCOMPARE(statusChanges.count(), 0);
        QVERIFY(f.server.requests().isEmpty());
    }

    void translatesSubtitlesAndSaves() {
        Fixture f;
        f.server.setResponder(echoingChat([](const QString& s) { return s.toUpper(); }));
        f.vm.loadFile(f.file(u"episode.srt"_qs, "\n1\n00:00:01,000 --> 00:00:02,000\nhi\n\n"));
        f.vm.setTargetLanguage(u"German"_qs);
        f.vm.startTranslation();
        QVERIFY(f.vm.isTranslating());
        QCOMPARE(f.vm.statusMessage(), u"Starting translation..."_qs); // events come later
        QTRY_VERIFY(!f.vm.isTranslating());

        QCOMPARE(f.vm.outputText(), u"1\n00:00:01,000 --> 00:00:02,000\nHI"_qs);
        QCOMPARE(f.vm.statusMessage(), u"Translation complete"_qs);
        QCOMPARE(f.vm.progress(), 1.0);
        QVERIFY(f.vm.showSuccessBanner());
        QCOMPARE(f.server.requests().first().header("Authorization"), QByteArray("Bearer sk-loop"));

        f.vm.saveTranslation();
        auto& dialog = f.dialogs.saveDialogs.last();
        QCOMPARE(dialog.request.message, u"Save translated file"_qs);
        QCOMPARE(dialog.request.proposedName, u"episode_translated.srt"_qs);
        const QString target = f.dir.filePath(u"out.srt"_qs);
        dialog.finished(SaveDialogChoice{target, 0});
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), f.vm.outputText().toUtf8());

        f.vm.saveTranslation();
        f.dialogs.saveDialogs.last().finished(
            SaveDialogChoice{f.dir.filePath(u"no-such-folder/out.srt"_qs), 0});
        QVERIFY(f.vm.errorMessage().value_or(QString()).startsWith(u"Failed to save: "_qs));
    }

    void plainTextIsSentWhole() {
        Fixture f;
        f.server.enqueue({200, chatAnswer(u"Halo"_qs)});
        f.vm.setInputText(u"\n\nHello\n\n"_qs);
        f.vm.startTranslation();
        QTRY_COMPARE(f.vm.outputText(), u"Halo"_qs);
        QCOMPARE(chatUserMessage(f.server.requests().first()), u"\n\nHello\n\n"_qs);

        // Restarting clears the previous result before any event arrives.
        f.server.enqueue({401, "denied"});
        f.vm.startTranslation();
        QVERIFY(f.vm.outputText().isEmpty());
        QVERIFY(!f.vm.showSuccessBanner());
        QTRY_VERIFY(!f.vm.isTranslating());
        QCOMPARE(f.vm.errorMessage(), u"API error (HTTP 401): denied"_qs);
        QCOMPARE(f.vm.statusMessage(), u"Translation failed"_qs);
        QCOMPARE(f.vm.progress(), 0.0);
        QVERIFY(f.vm.outputText().isEmpty());
    }

    void saveNamesAndEmptyResult() {
        Fixture f;
        f.vm.saveTranslation();
        QVERIFY(f.dialogs.saveDialogs.isEmpty());

        f.server.enqueue({200, chatAnswer(u"Halo"_qs)});
        f.vm.setInputText(u"Hello"_qs);
        f.vm.startTranslation();
        QTRY_VERIFY(!f.vm.isTranslating());
        f.vm.saveTranslation();
        QCOMPARE(f.dialogs.saveDialogs.last().request.proposedName,
                 u"translation_translated.txt"_qs);
        f.dialogs.saveDialogs.last().finished(std::nullopt);
        QCOMPARE(QDir(f.dir.path()).entryList({u"*.txt"_qs}), QStringList{});

        // A name typed without an extension gets the format's.
        f.vm.saveTranslation();
        f.dialogs.saveDialogs.last().finished(SaveDialogChoice{f.dir.filePath(u"plain"_qs), 0});
        QCOMPARE(QDir(f.dir.path()).entryList({u"plain*"_qs}), QStringList{u"plain.txt"_qs});

        // One outcome at a time: a failed start hides the last success.
        QVERIFY(f.vm.showSuccessBanner());
        KeychainHelper::shared().deleteKey(f.provider.idText());
        f.vm.startTranslation();
        QVERIFY(f.vm.errorMessage().has_value());
        QVERIFY(!f.vm.showSuccessBanner());
    }
};

QTEST_GUILESS_MAIN(TestTranslationViewModel)
#include "tst_translationviewmodel.moc"
