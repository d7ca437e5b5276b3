#include "app/TranslationView.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/ChatFixtures.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDoubles.h"
#include "support/WidgetLookup.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;

namespace {

// The Translate tab on its own, with the process's real store and controllers.
struct Fixture : TestController {
    std::unique_ptr<TranslationView> view;

    explicit Fixture(const QStringList& providers = {}) {
        for (const QString& name : providers)
            store().addProvider(name, u"http://127.0.0.1:9"_qs, u"m"_qs, u"k"_qs);
        view = std::make_unique<TranslationView>(*vm, KeychainHelper::shared(), dialogs);
        view->show();
    }

    TranslationViewModel& translation() const { return view->viewModel(); }
    template <typename T> T* find(const QString& name) const { return byName<T>(view.get(), name); }
    QStringList providerEntries() const {
        QStringList entries;
        auto* combo = find<QComboBox>(u"Provider"_qs);
        for (int i = 0; i < combo->count(); ++i)
            entries.append(combo->itemText(i));
        return entries;
    }
    QUrl file(const QString& name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(text);
        return QUrl::fromLocalFile(f.fileName());
    }
};

} // namespace

class TestTranslationView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void withoutProviders() {
        Fixture f;
        QCOMPARE(f.providerEntries(), QStringList{u"None"_qs});
        QCOMPARE(f.translation().selectedProvider(), std::nullopt);
        f.find<QPlainTextEdit>(u"Input text"_qs)->setPlainText(u"Hello"_qs);
        QVERIFY(!f.find<QAbstractButton>(u"Translate"_qs)->isEnabled());
        QCOMPARE(f.find<QComboBox>(u"Target language"_qs)->count(), 13);
        QCOMPARE(f.find<QComboBox>(u"Target language"_qs)->currentText(), u"Indonesian"_qs);
        QCOMPARE(unnamedControls(f.view.get()), QStringList{});
    }

    void providerSelectionStaysValid() {
        Fixture f({u"First"_qs, u"Second"_qs});
        // Shown: the store is lent and the first provider chosen.
        QCOMPARE(f.translation().providerStore(), &f.store());
        QCOMPARE(f.translation().selectedProvider()->name, u"First"_qs);
        QCOMPARE(f.providerEntries(), (QStringList{u"None"_qs, u"First"_qs, u"Second"_qs}));

        f.translation().setSelectedProvider(f.store().providers().at(1));
        f.store().deleteProvider(f.store().providers().at(1));
        QCOMPARE(f.translation().selectedProvider()->name, u"First"_qs);
        f.store().deleteProvider(f.store().providers().at(0));
        QCOMPARE(f.translation().selectedProvider(), std::nullopt);
        QCOMPARE(f.find<QComboBox>(u"Provider"_qs)->currentText(), u"None"_qs);

        // With "None" chosen, a new provider is offered but not chosen.
        f.store().addProvider(u"Third"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        QCOMPARE(f.translation().selectedProvider(), std::nullopt);
        QCOMPARE(f.providerEntries(), (QStringList{u"None"_qs, u"Third"_qs}));
    }

    void dropsAndInput() {
        Fixture f({u"Only"_qs});
        QVERIFY(f.find<QWidget>(u"Open File…"_qs)->isVisible());
        QLabel* badge = f.find<QLabel>(u"Input format"_qs);
        QVERIFY(!badge->isVisible());

        // Typing hides the drop hint and enables Translate.
        f.find<QPlainTextEdit>(u"Input text"_qs)->setPlainText(u"typed"_qs);
        QCOMPARE(f.translation().inputText(), u"typed"_qs);
        QVERIFY(f.find<QAbstractButton>(u"Translate"_qs)->isEnabled());

        QDir(f.dir.path()).mkdir(u"folder.srt"_qs);
        dropFiles(f.view.get(), {f.file(u"notes.md"_qs, "# md")});
        dropFiles(f.view.get(), {QUrl::fromLocalFile(f.dir.filePath(u"folder.srt"_qs))});
        QCOMPARE(f.translation().inputText(), u"typed"_qs);
        QCOMPARE(f.translation().errorMessage(), std::nullopt);

        dropFiles(f.view.get(), {f.file(u"one.srt"_qs, "1\nOne"), f.file(u"two.srt"_qs, "2\nTwo"),
                                 f.file(u"three.srt"_qs, "3\nThree")});
        QCOMPARE(f.translation().inputText(), u"1\nOne"_qs);
        QCOMPARE(f.find<QPlainTextEdit>(u"Input text"_qs)->toPlainText(), u"1\nOne"_qs);
        QVERIFY(badge->isVisible());
        QCOMPARE(badge->text(), u"SRT"_qs);
        QCOMPARE(f.find<QLabel>(u"Input file"_qs)->accessibleName(), u"(one.srt)"_qs);
        QVERIFY(!f.find<QWidget>(u"Open File…"_qs)->isVisible());

        dropFiles(f.view.get(), {f.file(u"plain.TXT"_qs, "Plain")});
        QCOMPARE(badge->text(), u"TXT"_qs);
        f.find<QAbstractButton>(u"Clear input"_qs)->click();
        QVERIFY(f.translation().inputText().isEmpty());
        QVERIFY(f.find<QWidget>(u"Open File…"_qs)->isVisible());
    }

    void runningAndFailedJob() {
        Fixture f({u"Only"_qs});
        // A job against a closed port: disabled while it runs, then its error.
        f.translation().setInputText(u"x"_qs);
        f.translation().startTranslation();                 // goes to a closed port and fails
        QVERIFY(!f.find<QAbstractButton>(u"Translate"_qs)); // shows "Translating…" meanwhile
        QVERIFY(!f.find<QAbstractButton>(u"Translating…"_qs)->isEnabled());
        QVERIFY(!f.find<QComboBox>(u"Provider"_qs)->isEnabled());
        QVERIFY(!f.find<QPlainTextEdit>(u"Input text"_qs)->isEnabled());
        QVERIFY(f.find<QAbstractButton>(u"Open File…"_qs)->isEnabled());
        QTRY_VERIFY(!f.translation().isTranslating());
        QVERIFY(f.find<QWidget>(u"Error message"_qs)->isVisible());
        QVERIFY(f.translation().errorMessage()->startsWith(u"Network error: "_qs));
        QVERIFY(!f.find<QWidget>(u"Progress"_qs)->isVisible());
        QVERIFY(!f.find<QWidget>(u"Translated text"_qs)->isVisible());
    }

    void successAndCopy() {
        LoopbackHttpServer server;
        server.enqueue({200, chatAnswer(u"Halo"_qs)});
        Fixture f;
        f.store().addProvider(u"Server"_qs, server.baseUrl(), u"m"_qs, u"k"_qs);
        f.translation().setSelectedProvider(f.store().providers().first());
        f.find<QPlainTextEdit>(u"Input text"_qs)->setPlainText(u"Hello"_qs);
        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QTRY_VERIFY(f.find<QWidget>(u"Success message"_qs)->isVisible());
        QCOMPARE(f.find<QPlainTextEdit>(u"Translated text"_qs)->toPlainText(), u"Halo"_qs);
        QCOMPARE(f.find<QLabel>(u"Percent complete"_qs)->text(), u"100%"_qs);
        QCOMPARE(f.find<QLabel>(u"Status"_qs)->text(), u"Translation complete"_qs);
        QGuiApplication::clipboard()->setText(u"old"_qs);
        f.find<QAbstractButton>(u"Copy"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Halo"_qs);
    }

    // A file dropped on the editor is loaded, and the text sent is the file's own:
    // no-break spaces, U+2028 and CRLF included, until the user edits it.
    void editorDropsAndLoadedText() {
        Fixture f({u"Only"_qs});
        auto* editor = f.find<QPlainTextEdit>(u"Input text"_qs);
        const QByteArray french = "Caf\xC3\xA9\xC2\xA0!\r\nLigne\xE2\x80\xA8"
                                  "deux\r\n";
        dropFiles(editor->viewport(), {f.file(u"fr.txt"_qs, french)});
        QCOMPARE(f.translation().inputText(), QString::fromUtf8(french));
        QVERIFY(!editor->toPlainText().contains(u"file:"_qs));
        QCOMPARE(f.find<QLabel>(u"Input file"_qs)->accessibleName(), u"(fr.txt)"_qs);

        // An edit replaces it with what the editor holds; Tab leaves the editor.
        QApplication::setActiveWindow(f.view.get());
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"!"_qs);
        QCOMPARE(f.translation().inputText(), editor->toPlainText());
        QVERIFY(f.translation().inputText().endsWith(u'!'));
        QTest::keyClick(editor, Qt::Key_Tab);
        QVERIFY(!editor->hasFocus());
        QVERIFY(!f.translation().inputText().contains(u'\t'));
    }

    // The same error box as the Transcribe tab, shown alone; server text stays text.
    void errorBoxAndOutcomes() {
        LoopbackHttpServer server;
        server.enqueue({200, chatAnswer(u"Halo"_qs)});
        server.enqueue({502, "<html><body><h1>Bad gateway</h1></body></html>"});
        Fixture f;
        f.store().addProvider(u"Server"_qs, server.baseUrl(), u"m"_qs, u"k"_qs);
        const CustomProvider provider = f.store().providers().first();
        f.translation().setSelectedProvider(provider);
        f.translation().setInputText(u"Hello"_qs);
        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QTRY_VERIFY(f.find<QWidget>(u"Success message"_qs)->isVisible());

        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QTRY_VERIFY(f.find<QWidget>(u"Error message"_qs)->isVisible());
        QVERIFY(!f.find<QWidget>(u"Success message"_qs)->isVisible());
        auto* error = f.find<QLabel>(u"Error message"_qs);
        QCOMPARE(error->textFormat(), Qt::PlainText);
        QVERIFY(QAccessible::queryAccessibleInterface(error)
                    ->text(QAccessible::Name)
                    .contains(u"<h1>Bad gateway</h1>"_qs));
        f.find<QAbstractButton>(u"Copy Error"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"API error (HTTP 502): <html><body><h1>Bad gateway</h1></body></html>"_qs);

        KeychainHelper::shared().deleteKey(provider.idText());
        f.translation().setShowSuccessBanner(true);
        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QCOMPARE(f.translation().errorMessage(), u"No API key found for Server."_qs);
        QVERIFY(!f.find<QWidget>(u"Success message"_qs)->isVisible());
    }
};

QTEST_MAIN(TestTranslationView)
#include "tst_translationview.moc"
