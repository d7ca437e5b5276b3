#include "app/Contrast.h"
#include "app/MainWindow.h"
#include "app/MessageBanner.h"
#include "app/ProgressLine.h"
#include "app/ProviderEditorDialog.h"
#include "app/ProviderManagerDialog.h"
#include "app/QtFileDialogs.h"
#include "app/TranscribeView.h"
#include "app/TranslationView.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"
#include "support/WidgetLookup.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace vocalith;
using namespace vocalith::test;

namespace {

// The real window with its real controllers; engines and dialogs are test doubles.
struct Fixture : TestController {
    std::unique_ptr<MainWindow> window;

    Fixture() {
        window = std::make_unique<MainWindow>(*vm, KeychainHelper::shared(), dialogs);
        window->show();
    }

    QWidget* tab() const { return window->tabs()->widget(0); }
    template <typename T> T* find(const QString& name) const { return byName<T>(tab(), name); }
    bool shown(const QString& name) const {
        QWidget* widget = find<QWidget>(name);
        return widget && widget->isVisible();
    }
    QUrl file(const QString& name, int bytes = 1234) const { return makeFile(name, bytes); }
    void finishWith(const QList<TranscriptionEvent>& events) {
        onDevice->jobs.last().emitFromWorkerThread(events);
        QVERIFY(QTest::qWaitFor([&] { return !vm->isTranscribing(); }));
    }
};

} // namespace

class TestTranscribeView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheControllerStates() {
        Fixture f;
        // Empty: drop zone only.
        QVERIFY(f.shown(u"Select MP3 File..."_qs));
        QVERIFY(!f.shown(u"Start Transcription"_qs));
        QVERIFY(!f.shown(u"Progress"_qs));
        QVERIFY(!f.shown(u"Transcription text"_qs));

        // Ready: the file card with its size in SI units.
        f.vm->loadFile(f.file(u"Interview.mp3"_qs, 1234));
        QVERIFY(!f.shown(u"Select MP3 File..."_qs));
        QCOMPARE(f.find<QLabel>(u"File name"_qs)->text(), u"Interview.mp3"_qs);
        QCOMPARE(f.find<QLabel>(u"File size"_qs)->text(),
                 QLocale().formattedDataSize(1234, 1, QLocale::DataSizeSIFormat));
        QVERIFY(f.shown(u"Start Transcription"_qs));

        // Transcribing: everything that would change the job is disabled.
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        QAbstractButton* start = f.find<QAbstractButton>(u"Transcribing..."_qs);
        QVERIFY(start && !start->isEnabled());
        QVERIFY(!f.find<QComboBox>(u"Engine"_qs)->isEnabled());
        QVERIFY(!f.find<QComboBox>(u"Language"_qs)->isEnabled());
        QVERIFY(!f.find<QAbstractButton>(u"Remove file"_qs)->isEnabled());
        QVERIFY(f.find<QAbstractButton>(u"Manage"_qs)->isEnabled());
        QVERIFY(f.shown(u"Progress"_qs));
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.999, u"Almost"_qs)});
        QTRY_COMPARE(f.find<QLabel>(u"Percent complete"_qs)->text(), u"99%"_qs);
        QCOMPARE(f.find<QLabel>(u"Status"_qs)->text(), u"Almost"_qs);

        // Done: banner, 100 %, the result, and the save dialog opened by itself.
        f.finishWith({TranscriptionEvent::success({{u"Hello"_qs, 0, 1}, {u"there"_qs, 1, 2}})});
        QVERIFY(f.shown(u"Success message"_qs));
        QCOMPARE(f.find<QLabel>(u"Percent complete"_qs)->text(), u"100%"_qs);
        QCOMPARE(f.find<QPlainTextEdit>(u"Transcription text"_qs)->toPlainText(),
                 u"Hello there"_qs);
        QCOMPARE(f.dialogs.saveDialogs.size(), 1);
        QVERIFY(!f.vm->showSaveDialog());
        QVERIFY(f.find<QAbstractButton>(u"Start Transcription"_qs)->isEnabled());

        // "Copy" puts exactly the text on the clipboard.
        QGuiApplication::clipboard()->setText(u"something else"_qs);
        f.find<QAbstractButton>(u"Copy"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Hello there"_qs);

        // Failed: the error box, no progress line; its close button hides the banner too.
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.finishWith({TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"It broke."_qs})});
        QVERIFY(f.shown(u"Error message"_qs));
        QVERIFY(!f.shown(u"Progress"_qs));
        f.find<QAbstractButton>(u"Copy Error"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"It broke."_qs);
        f.vm->setShowSuccessBanner(true);
        f.find<QAbstractButton>(u"Close error"_qs)->click();
        QVERIFY(!f.shown(u"Error message"_qs));
        QVERIFY(!f.shown(u"Success message"_qs));

        // The clear button goes back to the drop zone.
        f.find<QAbstractButton>(u"Remove file"_qs)->click();
        QVERIFY(f.vm->audioFileURL().isEmpty());
        QVERIFY(f.shown(u"Select MP3 File..."_qs));
        QCOMPARE(unnamedControls(f.window.get()), QStringList{});
    }

    void drops() {
        Fixture f;
        const QUrl wav = f.file(u"talk.wav"_qs);
        QDir(f.dir.path()).mkdir(u"folder.mp3"_qs);
        const QUrl folder = QUrl::fromLocalFile(f.dir.filePath(u"folder.mp3"_qs));
        dropFiles(f.tab(), {wav});
        dropFiles(f.tab(), {folder});
        dropFiles(f.tab(), {wav, f.file(u"second.mp3"_qs)});
        QVERIFY(f.vm->audioFileURL().isEmpty());

        const QUrl talk = f.file(u"Talk.MP3"_qs);
        dropFiles(f.tab(), {talk, f.file(u"other.mp3"_qs)});
        QCOMPARE(f.vm->audioFileURL(), talk);
    }

    void openFromEitherTab() {
        Fixture f;
        QCOMPARE(f.window->minimumSize(), QSize(600, 500));
        QStringList items;
        for (QAction* action : f.window->menuBar()->actions().first()->menu()->actions())
            items.append(action->text());
        QCOMPARE(items, (QStringList{u"Open MP3..."_qs, QString(), u"Quit"_qs}));

        f.window->tabs()->setCurrentIndex(1);
        QVERIFY(f.window->translationView() && f.window->translationView()->isVisible());
        f.dialogs.openAnswers = {f.file(u"From menu.mp3"_qs)};
        QApplication::setActiveWindow(f.window.get());
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QTest::keyClick(f.window->tabs()->currentWidget(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(f.dialogs.openMessages, QStringList{u"Select an MP3 file to transcribe"_qs});
        QCOMPARE(f.vm->audioFileURL().fileName(), u"From menu.mp3"_qs);
        QCOMPARE(f.find<QLabel>(u"File name"_qs)->accessibleName(), u"From menu.mp3"_qs);
    }

    void providerManager() {
        Fixture f;
        ProviderStore& store = f.vm->providerStore();
        f.find<QAbstractButton>(u"Manage"_qs)->click();
        auto* manager = f.window->findChild<ProviderManagerDialog*>();
        QVERIFY(manager && manager->isVisible());
        QVERIFY(f.vm->showProviderManager());

        // Adding needs a key; a single blank is a name.
        manager->openEditor(std::nullopt);
        auto* editor = manager->findChild<ProviderEditorDialog*>();
        QVERIFY(editor);
        QCOMPARE(editor->apiKeyField()->placeholderText(), u"sk-..."_qs);
        editor->nameField()->setText(u" "_qs);
        editor->baseURLField()->setText(u"https://example.com/v1"_qs);
        editor->modelField()->setText(u"m"_qs);
        QVERIFY(!editor->confirmButton()->isEnabled());
        editor->apiKeyField()->setText(u"sk-typed"_qs);
        byName<QAbstractButton>(editor, u"OpenAI Whisper"_qs)->click();
        QCOMPARE(editor->nameField()->text(), u"OpenAI Whisper"_qs);
        QCOMPARE(editor->modelField()->text(), u"whisper-1"_qs);
        QCOMPARE(editor->apiKeyField()->text(), u"sk-typed"_qs);
        editor->confirmButton()->click();
        QCOMPARE(store.providers().size(), 1);
        const CustomProvider added = store.providers().first();
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), u"sk-typed"_qs);
        QVERIFY(byName<QWidget>(manager, u"OpenAI Whisper"_qs));

        // Editing with the key left blank keeps the stored key and the id.
        manager->openEditor(added);
        editor = manager->findChildren<ProviderEditorDialog*>().last();
        QCOMPARE(editor->nameField()->text(), u"OpenAI Whisper"_qs);
        QVERIFY(editor->apiKeyField()->text().isEmpty());
        QCOMPARE(editor->apiKeyField()->placeholderText(), u"Leave blank to keep existing key"_qs);
        editor->nameField()->setText(u"Renamed"_qs);
        QVERIFY(editor->confirmButton()->isEnabled());
        editor->confirmButton()->click();
        QCOMPARE(store.providers().first().id, added.id);
        QCOMPARE(store.providers().first().name, u"Renamed"_qs);
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), u"sk-typed"_qs);

        // The row's delete button deletes the provider and its key.
        f.vm->setSelectedEngine(TranscriptionEngine::custom(store.providers().first()));
        byName<QAbstractButton>(manager, u"Delete Renamed"_qs)->click();
        QTRY_VERIFY(store.providers().isEmpty());
        QCOMPARE(f.vm->selectedEngine(), TranscriptionEngine::onDevice());
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), std::nullopt);

        byName<QAbstractButton>(manager, u"Done"_qs)->click();
        QTRY_VERIFY(!f.vm->showProviderManager());
    }

    void enginePickerFollowsProviders() {
        Fixture f;
        auto* engines = f.find<QComboBox>(u"Engine"_qs);
        QCOMPARE(engines->count(), 1);
        QCOMPARE(engines->itemText(0), u"On-device (PocketSphinx)"_qs);
        f.vm->providerStore().addProvider(u"Groq"_qs, u"u"_qs, u"m"_qs, u"k"_qs);
        QCOMPARE(engines->count(), 2);
        engines->setCurrentIndex(1);
        Q_EMIT engines->activated(1);
        const CustomProvider groq = f.vm->providerStore().providers().first();
        QCOMPARE(f.vm->selectedEngine(), TranscriptionEngine::custom(groq));

        // An edited provider leaves the old copy selected, which matches no entry.
        CustomProvider edited = groq;
        edited.name = u"Groq 2"_qs;
        f.vm->providerStore().updateProvider(edited, std::nullopt);
        QCOMPARE(engines->itemText(1), u"Groq 2"_qs);
        QCOMPARE(engines->currentIndex(), -1);
    }

    void saveDialogFormatChoiceRenames() {
        QTemporaryDir dir;
        QtFileDialogs dialogs;
        auto engine = std::make_unique<RecordingOnDeviceEngine>();
        RecordingOnDeviceEngine* onDevice = engine.get();
        TranscriptionViewModel vm(
            {std::make_unique<ProviderStore>(KeychainHelper::shared(), settingsIn(dir)),
             std::move(engine), std::make_unique<RecordingProviderEngine>(),
             &KeychainHelper::shared(), &dialogs});
        vm.loadFile(QUrl::fromLocalFile(dir.filePath(u"Interview.mp3"_qs)));
        vm.startTranscription();
        onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::success({{u"Hi"_qs, 0, 0.5}, {u"there"_qs, 3, 3.5}})});
        QTRY_VERIFY(!vm.isTranscribing());
        vm.saveTranscription();

        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            dialog = dialog ? dialog : qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog && dialog->isVisible());
        auto* name = dialog->findChild<QLineEdit*>(u"fileNameEdit"_qs);
        auto* formats = dialog->findChild<QComboBox*>(u"fileTypeCombo"_qs);
        QCOMPARE(name->text(), u"Interview.txt"_qs);
        QCOMPARE(formats->itemText(1), u"Subtitles (*.srt)"_qs);
        formats->setCurrentIndex(1);
        Q_EMIT formats->activated(1);
        QCOMPARE(name->text(), u"Interview.srt"_qs);

        // The typed ".txt" with subtitles chosen is written as SRT under ".srt".
        dialog->setDirectory(dir.path());
        name->setText(u"typed.txt"_qs);
        QMetaObject::invokeMethod(dialog, "accept");
        QFile saved(dir.filePath(u"typed.srt"_qs));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().startsWith("1\n00:00:00,000 --> 00:00:00,500\nHi\n\n2\n"));
    }

    void dialogFilters() {
        QCOMPARE(QtFileDialogs::withUpperCasePatterns(u"MP3 Audio (*.mp3)"_qs),
                 u"MP3 Audio (*.mp3 *.MP3)"_qs);
        QCOMPARE(QtFileDialogs::withUpperCasePatterns(u"Text and subtitles (*.txt *.srt)"_qs),
                 u"Text and subtitles (*.txt *.TXT *.srt *.SRT)"_qs);
        QCOMPARE(QtFileDialogs::nameFilter(u"Subtitles (.srt)"_qs), u"Subtitles (*.srt)"_qs);
    }

    void percentages() {
        QCOMPARE(ProgressLine::percentText(0.35), u"35%"_qs);
        QCOMPARE(ProgressLine::percentText(0.999), u"99%"_qs);
        QCOMPARE(ProgressLine::percentText(0.5), u"50%"_qs);
        QCOMPARE(ProgressLine::percentText(1.0), u"100%"_qs);
        QCOMPARE(ProgressLine::percentText(0.0), u"0%"_qs);
    }

    // What a screen reader and a keyboard user meet after a job.
    void screenReaderAndKeyboard() {
        Fixture f;
        const auto spoken = [](QWidget* widget) {
            return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        };
        f.vm->loadFile(f.file(u"Interview.mp3"_qs, 1234));
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.35, u"Transcribing chunk 1 of 3..."_qs)});
        QTRY_COMPARE(spoken(f.find<QLabel>(u"Percent complete"_qs)), u"35%"_qs);
        QCOMPARE(spoken(f.find<QLabel>(u"Status"_qs)), u"Transcribing chunk 1 of 3..."_qs);
        f.finishWith({TranscriptionEvent::success({{u"Hello"_qs, 0, 1}})});
        QCOMPARE(spoken(f.find<QLabel>(u"File name"_qs)), u"Interview.mp3"_qs);
        QCOMPARE(spoken(f.find<QLabel>(u"File size"_qs)),
                 QLocale().formattedDataSize(1234, 1, QLocale::DataSizeSIFormat));
        QCOMPARE(spoken(f.find<QLabel>(u"Success message"_qs)), u"Transcription complete!"_qs);
        for (const QString& picker : {u"Engine"_qs, u"Language"_qs}) {
            const auto labels = QAccessible::queryAccessibleInterface(f.find<QComboBox>(picker))
                                    ->relations(QAccessible::Label);
            QVERIFY(!labels.isEmpty());
            QCOMPARE(labels.first().first->text(QAccessible::Name), picker + u':');
        }

        QApplication::setActiveWindow(f.window.get());
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.find<QComboBox>(u"Engine"_qs)->setFocus();
        QStringList order;
        for (int i = 0; i < 9; ++i) {
            order.append(QApplication::focusWidget()->accessibleName());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{u"Engine"_qs, u"Manage"_qs, u"Language"_qs, u"Remove file"_qs,
                                     u"Start Transcription"_qs, u"Close banner"_qs, u"Save..."_qs,
                                     u"Copy"_qs, u"Transcription text"_qs}));
    }

    // Server and file text is shown as text; a long name is shortened in the middle.
    void plainAndElidedTexts() {
        Fixture f;
        const QString name = QString(u'x').repeated(150) + u" end.mp3"_qs;
        f.vm->loadFile(f.file(name));
        auto* label = f.find<QLabel>(u"File name"_qs);
        QVERIFY(label->text().contains(u'…'));
        QVERIFY(label->text().endsWith(u" end.mp3"_qs));
        QCOMPARE(label->toolTip(), name);
        f.vm->setErrorMessage(u"API error (HTTP 502): <b>down</b>"_qs);
        auto* error = f.find<QLabel>(u"Error message"_qs);
        QCOMPARE(error->textFormat(), Qt::PlainText);
        QCOMPARE(error->text(), u"API error (HTTP 502): <b>down</b>"_qs);
    }

    // Every state of both tabs fits the smallest window: no control squeezed below its
    // own minimum, none drawn over another.
    void usableAtTheSmallestSize() {
        Fixture f;
        f.window->resize(f.window->minimumSize());
        f.vm->loadFile(f.file(u"Interview.mp3"_qs));
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.finishWith({TranscriptionEvent::success({{u"Hello"_qs, 0, 1}})});
        f.vm->setErrorMessage(QString(u"A long error. "_qs).repeated(30));
        f.window->tabs()->setCurrentIndex(1);
        TranslationViewModel& translation = f.window->translationView()->viewModel();
        translation.setInputText(u"Hello"_qs);
        translation.setErrorMessage(u"Translation failed somewhere."_qs);
        for (int tab : {0, 1}) {
            f.window->tabs()->setCurrentIndex(tab);
            QTest::qWait(0);
            QList<QWidget*> controls;
            for (QWidget* w : f.window->tabs()->widget(tab)->findChildren<QWidget*>()) {
                if (w->isVisible() &&
                    (qobject_cast<QAbstractButton*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
                     qobject_cast<QComboBox*>(w)))
                    controls.append(w);
            }
            for (QWidget* w : controls) {
                QVERIFY2(w->height() >= w->minimumSizeHint().height(),
                         qPrintable(w->accessibleName()));
                const QRect rect(w->mapTo(f.window.get(), QPoint()), w->size());
                for (QWidget* other : controls) {
                    if (other == w || w->isAncestorOf(other) || other->isAncestorOf(w))
                        continue;
                    const QRect otherRect(other->mapTo(f.window.get(), QPoint()), other->size());
                    QVERIFY2(!rect.intersects(otherRect),
                             qPrintable(w->accessibleName() + u" / "_qs + other->accessibleName()));
                }
            }
        }
    }

    // Error and success colours reach 4.5:1 on their own background in both themes.
    void bannerContrast_data() {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QPalette(QColor(239, 239, 239));
        QPalette dark(QColor(53, 53, 53));
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, Qt::white);
        QTest::newRow("dark") << dark;
    }
    void bannerContrast() {
        QFETCH(QPalette, palette);
        for (auto kind : {MessageBanner::Kind::error, MessageBanner::Kind::success}) {
            MessageBanner banner(kind, false);
            banner.setPalette(palette);
            QVERIFY(Contrast::ratio(banner.textColor(), banner.backgroundColor()) >= 4.5);
        }
    }

    void providerManagerEmptyState() {
        Fixture f;
        ProviderManagerDialog manager(*f.vm);
        manager.show();
        QVERIFY(QTest::qWaitForWindowExposed(&manager));
        QLabel* caption = nullptr;
        QLabel* icon = nullptr;
        for (QLabel* label : manager.findChildren<QLabel*>()) {
            if (label->text().startsWith(u"Add an OpenAI-compatible provider"_qs))
                caption = label;
            if (!label->pixmap().isNull() && label->isVisible())
                icon = label;
        }
        QVERIFY(caption && icon);
        QVERIFY(caption->height() >= caption->heightForWidth(caption->width()));
        QCOMPARE(icon->pixmap().deviceIndependentSize().toSize(), QSize(40, 40));
    }

    // The real Qt dialogs: names with double quotes are written and opened as they
    // stand; open dialogs start where the user last opened a file, saves beside it.
    void qtDialogsKeepQuotesAndFolders() {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(u"in"_qs);
        const QString folder = dir.filePath(u"in"_qs);
        const QString quoted = u"Entrevista \"Ñandú\" 3"_qs;
        QtFileDialogs dialogs;
        std::optional<SaveDialogChoice> saved;
        dialogs.beginSave(
            {u"Save"_qs, quoted + u".txt"_qs, folder, {u"Plain Text (.txt)"_qs}}, [](int) {},
            [&](const std::optional<SaveDialogChoice>& c) { saved = c; });
        auto* save = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(save);
        QCOMPARE(save->directory().absolutePath(), folder);
        QMetaObject::invokeMethod(save, "accept");
        QVERIFY(saved);
        QCOMPARE(saved->path, QDir(folder).filePath(quoted + u".txt"_qs));

        QFile media(QDir(folder).filePath(quoted + u".mp3"_qs));
        QVERIFY(media.open(QIODevice::WriteOnly));
        QString seenFolder;
        QTimer::singleShot(0, [&] {
            auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            open->setDirectory(folder);
            open->findChild<QLineEdit*>(u"fileNameEdit"_qs)->setText(quoted + u".mp3"_qs);
            QMetaObject::invokeMethod(open, "accept");
        });
        QCOMPARE(dialogs.chooseFileToOpen(u"Open"_qs, {u"MP3 Audio (*.mp3)"_qs}),
                 QUrl::fromLocalFile(media.fileName()));
        QTimer::singleShot(0, [&] {
            auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            seenFolder = open->directory().absolutePath();
            open->reject();
        });
        QCOMPARE(dialogs.chooseFileToOpen(u"Open"_qs, {u"MP3 Audio (*.mp3)"_qs}), std::nullopt);
        QCOMPARE(seenFolder, folder);
    }
};

QTEST_MAIN(TestTranscribeView)
#include "tst_transcribeview.moc"
