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
    LoopbackHttpServer server;
    std::unique_ptr<TranslationView> view;

    explicit Fixture(const QStringList& providers = {}) {
        for (const QString& name : providers)
            store().addProvider(name, server.baseUrl(), u"m"_qs, u"k"_qs);
        view = std::make_unique<TranslationView>(*vm, KeychainHelper::shared(), dialogs);
        view->show();
    }

    TranslationViewModel& translation() const { return view->viewModel(); }
    template <typename T> T* find(const QString& name) const { return byName<T>(view.get(), name); }
    bool shown(const QString& name) const { return find<QWidget>(name)->isVisible(); }
    QStringList providerEntries() const {
        QStringList entries;
        auto* combo = find<QComboBox>(u"Provider"_qs);
        for (int i = 0; i < combo->count(); ++i)
            entries.append(combo->itemText(i));
        return entries;
    }
};

} // namespace

class TestTranslationView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void providerSelectionStaysValid() {
        Fixture none;
        QCOMPARE(none.providerEntries(), QStringList{u"None"_qs});
        none.find<QPlainTextEdit>(u"Input text"_qs)->setPlainText(u"Hello"_qs);
        QVERIFY(!none.find<QAbstractButton>(u"Translate"_qs)->isEnabled());
        QCOMPARE(none.find<QComboBox>(u"Target language"_qs)->currentText(), u"Indonesian"_qs);
        QCOMPARE(unnamedControls(none.view.get()), QStringList{});

        // Shown: the store is lent and the first provider chosen.
        Fixture f({u"First"_qs, u"Second"_qs});
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

        // A speech model gets a hint, and Translate stays the user's choice.
        auto* hint = f.view->findChild<QLabel*>(u"speechModelHint"_qs);
        f.translation().setSelectedProvider(f.store().providers().first());
        QVERIFY(!hint->isVisible());
        for (const QString& model : {u"whisper-large-v3"_qs, u"gpt-4o-mini-Transcribe"_qs}) {
            f.store().addProvider(u"Speech"_qs, u"u"_qs, model, u"k"_qs);
            f.translation().setSelectedProvider(f.store().providers().last());
            QVERIFY(hint->isVisible());
        }
        QVERIFY(hint->text().startsWith(
            u"This provider's model transcribes speech. To translate, "_qs));
        f.translation().setInputText(u"Hello"_qs);
        QVERIFY(f.find<QAbstractButton>(u"Translate"_qs)->isEnabled());
    }

    // Drops anywhere, the editor included, load the file; the text sent is the file's
    // own (no-break spaces, U+2028, CRLF) until the user edits it.
    void dropsAndInput() {
        Fixture f({u"Only"_qs});
        auto* editor = f.find<QPlainTextEdit>(u"Input text"_qs);
        QLabel* badge = f.find<QLabel>(u"Input format"_qs);
        QVERIFY(f.shown(u"Open File…"_qs) && !badge->isVisible());
        QDir(f.dir.path()).mkdir(u"folder.srt"_qs);
        editor->setPlainText(u"typed"_qs);
        dropFiles(f.view.get(), {f.makeFile(u"notes.md"_qs, QByteArray("# md"))});
        dropFiles(f.view.get(), {QUrl::fromLocalFile(f.dir.filePath(u"folder.srt"_qs))});
        QCOMPARE(f.translation().inputText(), u"typed"_qs);

        dropFiles(f.view.get(), {f.makeFile(u"one.srt"_qs, QByteArray("1\nOne")),
                                 f.makeFile(u"two.srt"_qs, QByteArray("2\nTwo"))});
        QCOMPARE(editor->toPlainText(), u"1\nOne"_qs);
        QCOMPARE(badge->text(), u"SRT"_qs);
        QCOMPARE(f.find<QLabel>(u"Input file"_qs)->accessibleName(), u"(one.srt)"_qs);
        QVERIFY(!f.shown(u"Open File…"_qs));

        const QByteArray french = "Caf\xC3\xA9\xC2\xA0!\r\nLigne\xE2\x80\xA8"
                                  "deux\r\n";
        dropFiles(editor->viewport(), {f.makeFile(u"fr.TXT"_qs, french)});
        QCOMPARE(f.translation().inputText(), QString::fromUtf8(french));
        QCOMPARE(badge->text(), u"TXT"_qs);

        // An edit replaces it with what the editor holds; Tab leaves the editor.
        QApplication::setActiveWindow(f.view.get());
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"!"_qs);
        QCOMPARE(f.translation().inputText(), editor->toPlainText());
        QTest::keyClick(editor, Qt::Key_Tab);
        QVERIFY(!editor->hasFocus());
        QVERIFY(f.translation().inputText().endsWith(u'!'));

        f.find<QAbstractButton>(u"Clear input"_qs)->click();
        QVERIFY(f.translation().inputText().isEmpty());
        QVERIFY(f.shown(u"Open File…"_qs));
    }

    // A job locks the controls; then one outcome at a time, server text as plain text.
    void jobsAndOutcomes() {
        Fixture f({u"Server"_qs});
        f.server.enqueue({200, chatAnswer(u"Halo"_qs)});
        f.server.enqueue({502, "<html><body><h1>Bad gateway</h1></body></html>"});
        f.find<QPlainTextEdit>(u"Input text"_qs)->setPlainText(u"Hello"_qs);
        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QVERIFY(!f.find<QAbstractButton>(u"Translating…"_qs)->isEnabled());
        for (const QString& name : {u"Provider"_qs, u"Target language"_qs, u"Input text"_qs})
            QVERIFY(!f.find<QWidget>(name)->isEnabled());
        QTRY_VERIFY(f.shown(u"Success message"_qs));
        QCOMPARE(f.find<QPlainTextEdit>(u"Translated text"_qs)->toPlainText(), u"Halo"_qs);
        QCOMPARE(f.find<QLabel>(u"Percent complete"_qs)->text(), u"100%"_qs);
        f.find<QAbstractButton>(u"Copy"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Halo"_qs);

        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QTRY_VERIFY(f.shown(u"Error message"_qs));
        QVERIFY(!f.shown(u"Success message"_qs) && !f.shown(u"Progress"_qs));
        auto* error = f.find<QLabel>(u"Error message"_qs);
        QCOMPARE(error->textFormat(), Qt::PlainText);
        QVERIFY(QAccessible::queryAccessibleInterface(error)
                    ->text(QAccessible::Name)
                    .contains(u"<h1>Bad gateway</h1>"_qs));
        f.find<QAbstractButton>(u"Copy Error"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"API error (HTTP 502): <html><body><h1>Bad gateway</h1></body></html>"_qs);

        // A job that hangs is cancelled with the button.
        f.server.enqueue({200, {}, LoopbackHttpServer::Delivery::neverAnswer});
        f.find<QAbstractButton>(u"Translate"_qs)->click();
        QVERIFY(QTest::qWaitFor([&] { return f.server.requests().size() == 3; }));
        f.find<QAbstractButton>(u"Cancel"_qs)->click();
        QVERIFY(f.shown(u"Notice"_qs) && !f.shown(u"Error message"_qs));
        QVERIFY(f.find<QAbstractButton>(u"Translate"_qs)->isEnabled());
    }
};

QTEST_MAIN(TestTranslationView)
#include "tst_translationview.moc"
