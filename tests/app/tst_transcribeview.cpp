#include "app/AccessibleScrollArea.h"
#include "app/Contrast.h"
#include "app/MainWindow.h"
#include "app/MessageBanner.h"
#include "app/ProgressLine.h"
#include "app/ProviderEditorDialog.h"
#include "app/ProviderManagerDialog.h"
#include "app/QtFileDialogs.h"
#include "app/ReviewTextDelegate.h"
#include "app/ReviewWindow.h"
#include "app/TranscribeView.h"
#include "app/TranslationView.h"
#include "app/WaveformView.h"
#include "core/TimeLeft.h"
#include "core/TranscriptRendering.h"
#include "library/TranscriptLibrary.h"
#include "playback/Player.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "queue/TranscriptionQueue.h"
#include "review/ReviewModel.h"
#include "support/AudioFixtures.h"
#include "support/EventLog.h"
#include "support/TestDoubles.h"
#include "support/WidgetLookup.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vocalith;
using namespace vocalith::test;

namespace {

// The real window with its real controllers; engines and dialogs are test doubles
// unless the test brings the real Qt dialogs.
struct Fixture : TestController {
    std::unique_ptr<MainWindow> window;

    explicit Fixture(FileDialogs* otherDialogs = nullptr)
        : TestController(otherDialogs) {
        window = std::make_unique<MainWindow>(*vm, KeychainHelper::shared(),
                                              otherDialogs ? *otherDialogs : dialogs);
        window->show();
    }

    QWidget* tab() const { return window->tabs()->widget(0); }
    template <typename T> T* find(const QString& name) const { return byName<T>(tab(), name); }
    bool shown(const QString& name) const {
        QWidget* widget = find<QWidget>(name);
        return widget && widget->isVisible();
    }
    QString spoken(const QString& name) const {
        return QAccessible::queryAccessibleInterface(find<QWidget>(name))->text(QAccessible::Name);
    }
    void finishWith(const QList<TranscriptionEvent>& events) {
        onDevice->jobs.last().emitFromWorkerThread(events);
        QVERIFY(QTest::qWaitFor([&] { return !vm->isTranscribing(); }));
    }
    void activate() {
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
};

// The window with a queue whose on-device jobs the test plays.
struct QueueFixture : TestController {
    RecordingOnDeviceEngine* engine = new RecordingOnDeviceEngine;
    TranscriptionQueue queue{{std::unique_ptr<RecordingOnDeviceEngine>(engine), nullptr,
                              &KeychainHelper::shared(),
                              std::make_shared<TranscriptLibrary>(dir.filePath(u"l.db"_qs))}};
    MainWindow window{*vm, KeychainHelper::shared(), dialogs, nullptr, &queue};
    QueueFixture() { window.show(); }
};

QFileDialog* openFileDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace

class TestTranscribeView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installAccessibleScrollAreas(); } // as main() does

    // A screen reader that asks for a child of a scroll area that has just gone, such as
    // a scroll bar hidden since it counted them, is told there is none.
    void scrollAreasForScreenReaders() {
        Fixture f;
        auto* area = f.tab()->findChild<QScrollArea*>();
        QVERIFY(area);
        f.window->resize(f.window->minimumSize());
        QTRY_VERIFY(area->verticalScrollBar()->isVisible());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(area);
        QCOMPARE(iface->childCount(), 2); // the viewport and the scroll bar
        QCOMPARE(iface->indexOfChild(iface->child(1)), 1);
        f.window->resize(1000, 1400);
        QTRY_VERIFY(!area->verticalScrollBar()->isVisible());
        QCOMPARE(iface->childCount(), 1);
        for (int gone : {1, 2, 50, -1})
            QCOMPARE(iface->child(gone), nullptr);
        QCOMPARE(iface->child(0)->object(), area->viewport());
    }

    // Every state as a screen reader and a keyboard user meet it.
    void followsTheControllerStates() {
        Fixture f;
        QVERIFY(f.shown(u"Select MP3 File..."_qs));
        QVERIFY(!f.shown(u"Start Transcription"_qs));
        QVERIFY(!f.shown(u"Progress"_qs));

        f.vm->loadFile(f.makeFile(u"Interview.mp3"_qs, 1234));
        QVERIFY(!f.shown(u"Select MP3 File..."_qs));
        QCOMPARE(f.spoken(u"File name"_qs), u"Interview.mp3"_qs);
        QCOMPARE(f.spoken(u"File size"_qs),
                 QLocale().formattedDataSize(1234, 1, QLocale::DataSizeSIFormat));

        // Transcribing: everything that would change the job is disabled.
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        QVERIFY(!f.find<QAbstractButton>(u"Transcribing..."_qs)->isEnabled());
        for (const QString& name : {u"Engine"_qs, u"Language"_qs, u"Remove file"_qs})
            QVERIFY(!f.find<QWidget>(name)->isEnabled());
        QVERIFY(f.find<QAbstractButton>(u"Manage"_qs)->isEnabled());
        f.onDevice->jobs.last().emitFromWorkerThread(
            {TranscriptionEvent::progress(0.35, u"Transcribing chunk 1 of 3..."_qs, 100.0)});
        QTRY_COMPARE(f.spoken(u"Percent complete"_qs), u"35%"_qs);
        QCOMPARE(f.spoken(u"Status"_qs), u"Transcribing chunk 1 of 3..."_qs);
        QCOMPARE(f.spoken(u"Time left"_qs), u"about 2 min left"_qs);

        // Done: banner, result, the save dialog opened by itself, Copy.
        f.finishWith({TranscriptionEvent::success({{u"Hello"_qs, 0, 1}, {u"there"_qs, 1, 2}})});
        QCOMPARE(f.spoken(u"Success message"_qs), u"Transcription complete!"_qs);
        QCOMPARE(f.spoken(u"Percent complete"_qs), u"100%"_qs);
        QVERIFY(!f.shown(u"Time left"_qs));
        QCOMPARE(f.dialogs.saveDialogs.size(), 1);
        f.find<QAbstractButton>(u"Copy"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Hello there"_qs);
        for (const QString& picker : {u"Engine"_qs, u"Language"_qs}) {
            const auto labels = QAccessible::queryAccessibleInterface(f.find<QComboBox>(picker))
                                    ->relations(QAccessible::Label);
            QVERIFY(!labels.isEmpty());
            QCOMPARE(labels.first().first->text(QAccessible::Name), picker + u':');
        }
        f.activate();
        f.find<QComboBox>(u"Engine"_qs)->setFocus();
        QStringList order;
        for (int i = 0; i < 12; ++i) {
            order.append(QApplication::focusWidget()->accessibleName());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{u"Engine"_qs, u"Manage"_qs, u"Language"_qs, u"Remove file"_qs,
                                     u"Start Transcription"_qs, u"Microphone"_qs, u"Record"_qs,
                                     u"Close banner"_qs, u"Review..."_qs, u"Save..."_qs, u"Copy"_qs,
                                     u"Transcription text"_qs}));

        // Failed: the error box alone, its text as plain text; close hides both boxes.
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.finishWith({TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"<b>It</b> broke."_qs})});
        QVERIFY(f.shown(u"Error message"_qs));
        QVERIFY(!f.shown(u"Success message"_qs) && !f.shown(u"Progress"_qs));
        QCOMPARE(f.spoken(u"Error message"_qs), u"<b>It</b> broke."_qs);
        QCOMPARE(f.find<QLabel>(u"Error message"_qs)->textFormat(), Qt::PlainText);
        f.find<QAbstractButton>(u"Copy Error"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"<b>It</b> broke."_qs);
        f.vm->setShowSuccessBanner(true);
        f.find<QAbstractButton>(u"Close error"_qs)->click();
        QVERIFY(!f.shown(u"Error message"_qs) && !f.shown(u"Success message"_qs));

        // Escape cancels a running job: a neutral notice, the controls unlocked.
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        QVERIFY(f.shown(u"Cancel"_qs));
        f.activate();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_COMPARE(f.spoken(u"Notice"_qs),
                     u"Transcription was cancelled."_qs); // an animated click
        QVERIFY(f.shown(u"Notice"_qs) && !f.shown(u"Error message"_qs) && !f.shown(u"Cancel"_qs));
        QVERIFY(f.find<QAbstractButton>(u"Start Transcription"_qs)->isEnabled());
        QCOMPARE(f.onDevice->cancels, 1);

        f.find<QAbstractButton>(u"Remove file"_qs)->click();
        QVERIFY(f.vm->audioFileURL().isEmpty());
        QVERIFY(f.shown(u"Select MP3 File..."_qs));
        QCOMPARE(unnamedControls(f.window.get()), QStringList{});
    }

    // Every state of both tabs fits the smallest window: no control below its own
    // minimum height, none drawn over another; a long name is shortened in the middle.
    void usableAtTheSmallestSize() {
        Fixture f;
        f.window->resize(f.window->minimumSize());
        const QString name = QString(u'x').repeated(150) + u" end.mp3"_qs;
        f.vm->loadFile(f.makeFile(name));
        auto* label = f.find<QLabel>(u"File name"_qs);
        QVERIFY(label->text().contains(u'…') && label->text().endsWith(u" end.mp3"_qs));
        QCOMPARE(label->toolTip(), name);
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
            const auto rect = [&](QWidget* w) {
                return QRect(w->mapTo(f.window.get(), QPoint()), w->size());
            };
            for (QWidget* w : controls) {
                QVERIFY2(w->height() >= w->minimumSizeHint().height(),
                         qPrintable(w->accessibleName()));
                for (QWidget* other : controls) {
                    QVERIFY2(other == w || w->isAncestorOf(other) || other->isAncestorOf(w) ||
                                 !rect(w).intersects(rect(other)),
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

    void dropsAndMenu() {
        Fixture f;
        const QUrl text = f.makeFile(u"notes.txt"_qs);
        QDir(f.dir.path()).mkdir(u"folder.mp3"_qs);
        dropFiles(f.tab(), {text});
        dropFiles(f.tab(), {QUrl::fromLocalFile(f.dir.filePath(u"folder.mp3"_qs))});
        QVERIFY(f.vm->audioFileURL().isEmpty());
        for (const QString& name : {u"Talk.MP3"_qs, u"clip.mkv"_qs, u"memo.WAV"_qs}) {
            const QUrl media = f.makeFile(name);
            dropFiles(f.tab(), {text, media}); // one media file among them: the tab's
            QTRY_COMPARE(f.vm->audioFileURL(), media);
        }

        // Ctrl+O opens from either tab.
        f.window->tabs()->setCurrentIndex(1);
        f.dialogs.openAnswers = {f.makeFile(u"From menu.mp3"_qs)};
        f.activate();
        QTest::keyClick(f.window->tabs()->currentWidget(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(f.dialogs.openMessages, QStringList{u"Select an MP3 file to transcribe"_qs});
        QCOMPARE(f.vm->audioFileURL().fileName(), u"From menu.mp3"_qs);

        // The tab keys work whatever control of either tab holds the focus.
        const QList<QKeyCombination> keys = {
            Qt::CTRL | Qt::Key_Tab, Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab,
            Qt::CTRL | Qt::Key_PageDown, Qt::CTRL | Qt::Key_PageUp};
        for (int tab : {0, 1}) {
            f.window->tabs()->setCurrentIndex(tab);
            QList<QWidget*> controls = f.window->tabs()->widget(tab)->findChildren<QWidget*>();
            controls.append(f.window->tabs()->tabBar());
            int tried = 0;
            for (QWidget* control : controls) {
                if (!control->isVisible() || !control->isEnabled() ||
                    !(control->focusPolicy() & Qt::TabFocus))
                    continue;
                ++tried;
                for (const QKeyCombination key : keys) {
                    control->setFocus();
                    QTest::keyClick(control, key.key(), key.keyboardModifiers());
                    QVERIFY2(f.window->tabs()->currentIndex() == 1 - tab,
                             qPrintable(control->accessibleName() + u' ' +
                                        QKeySequence(key).toString()));
                    f.window->tabs()->setCurrentIndex(tab);
                }
            }
            QVERIFY(tried > 5);
        }
    }

    void providerManager() {
        Fixture f;
        ProviderStore& store = f.vm->providerStore();
        f.find<QAbstractButton>(u"Manage"_qs)->click();
        auto* manager = f.window->findChild<ProviderManagerDialog*>();
        QVERIFY(manager && manager->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(manager));

        // The empty state shows its whole caption and its 40 px icon.
        QLabel* caption = nullptr;
        QLabel* icon = nullptr;
        for (QLabel* label : manager->findChildren<QLabel*>()) {
            if (label->text().startsWith(u"Add an OpenAI-compatible provider"_qs))
                caption = label;
            if (!label->pixmap().isNull() && label->isVisible())
                icon = label;
        }
        QVERIFY(caption && icon);
        QVERIFY(caption->height() >= caption->heightForWidth(caption->width()));
        QCOMPARE(icon->pixmap().deviceIndependentSize().toSize(), QSize(40, 40));

        // Adding needs a key; a single blank is a name; presets keep the typed key.
        manager->openEditor(std::nullopt);
        auto* editor = manager->findChild<ProviderEditorDialog*>();
        QCOMPARE(editor->apiKeyField()->placeholderText(), u"sk-..."_qs);
        editor->nameField()->setText(u" "_qs);
        editor->baseURLField()->setText(u"https://example.com/v1"_qs);
        editor->modelField()->setText(u"m"_qs);
        QVERIFY(!editor->confirmButton()->isEnabled());
        editor->apiKeyField()->setText(u"sk-typed"_qs);
        byName<QAbstractButton>(editor, u"OpenAI Whisper"_qs)->click();
        QCOMPARE(editor->modelField()->text(), u"whisper-1"_qs);
        QCOMPARE(editor->apiKeyField()->text(), u"sk-typed"_qs);
        editor->confirmButton()->click();
        const CustomProvider added = store.providers().first();
        QCOMPARE(added.name, u"OpenAI Whisper"_qs);
        QVERIFY(!added.identifySpeakers); // off unless ticked
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), u"sk-typed"_qs);

        // Editing with the key left blank keeps the stored key and the id.
        manager->openEditor(added);
        editor = manager->findChildren<ProviderEditorDialog*>().last();
        QVERIFY(editor->apiKeyField()->text().isEmpty());
        QCOMPARE(editor->apiKeyField()->placeholderText(), u"Leave blank to keep existing key"_qs);
        editor->nameField()->setText(u"Renamed"_qs);
        byName<QCheckBox>(editor, u"Identify speakers"_qs)->setChecked(true);
        editor->confirmButton()->click();
        QVERIFY(store.providers().first().identifySpeakers);
        QCOMPARE(store.providers().first().id, added.id);
        QCOMPARE(store.providers().first().name, u"Renamed"_qs);
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), u"sk-typed"_qs);

        // The picker follows.
        QCOMPARE(f.find<QComboBox>(u"Engine"_qs)->itemText(1), u"Renamed"_qs);

        byName<QAbstractButton>(manager, u"Delete Renamed"_qs)->click();
        QTRY_VERIFY(store.providers().isEmpty());
        QCOMPARE(f.vm->selectedEngine(), TranscriptionEngine::onDevice());
        QCOMPARE(KeychainHelper::shared().loadKey(added.idText()), std::nullopt);
        byName<QAbstractButton>(manager, u"Done"_qs)->click();
        QTRY_VERIFY(!f.vm->showProviderManager());
    }

    // The real Qt dialogs: a name with double quotes is proposed, written and opened as
    // it stands; saves open beside the source, opens where the user last opened a file;
    // the format choice renames the proposed file.
    void realQtDialogs() {
        QtFileDialogs dialogs;
        Fixture f(&dialogs);
        QDir(f.dir.path()).mkdir(u"in"_qs);
        const QString folder = f.dir.filePath(u"in"_qs);
        const QString quoted = u"Entrevista \"Ñandú\" 3"_qs;
        const QString media = writeFile(QDir(folder).filePath(quoted + u".mp3"_qs));
        f.vm->loadFile(QUrl::fromLocalFile(media));
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.finishWith({TranscriptionEvent::success({{u"Hi"_qs, 0, 0.5, 1, -1, {}, u"Ann"_qs}})});

        QFileDialog* save = openFileDialog();
        QVERIFY(save);
        QCOMPARE(save->directory().absolutePath(), folder);
        auto* name = save->findChild<QLineEdit*>(u"fileNameEdit"_qs);
        auto* formats = save->findChild<QComboBox*>(u"fileTypeCombo"_qs);
        QCOMPARE(name->text(), quoted + u".txt"_qs);
        auto* names = byName<QCheckBox>(save, u"Speaker names"_qs); // for SRT only
        QVERIFY(!names->isEnabled());
        formats->setCurrentIndex(1);
        Q_EMIT formats->activated(1);
        Q_EMIT formats->textActivated(formats->currentText()); // as a click does
        QCOMPARE(name->text(), quoted + u".srt"_qs);
        names->setChecked(true);
        QMetaObject::invokeMethod(save, "accept");
        QVERIFY(readFile(QDir(folder).filePath(quoted + u".srt"_qs))
                    .startsWith("1\n00:00:00,000 --> 00:00:00,500\nAnn: Hi\n"));

        QString seenFolder;
        QTimer::singleShot(0, [&] {
            auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            open->setDirectory(folder);
            open->findChild<QLineEdit*>(u"fileNameEdit"_qs)->setText(quoted + u".mp3"_qs);
            QMetaObject::invokeMethod(open, "accept");
        });
        QCOMPARE(dialogs.chooseFileToOpen(u"Open"_qs, {u"MP3 Audio (*.mp3)"_qs}),
                 QUrl::fromLocalFile(media));
        QTimer::singleShot(0, [&] {
            auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            seenFolder = open->directory().absolutePath();
            open->reject();
        });
        QCOMPARE(dialogs.chooseFileToOpen(u"Open"_qs, {u"MP3 Audio (*.mp3)"_qs}), std::nullopt);
        QCOMPARE(seenFolder, folder);
    }

    // The review window: opened from the result, a table a screen reader reads as one,
    // edits by keyboard that the tab's text and Save follow, playback, and the question
    // on closing with unsaved edits.
    // Words appear while the microphone hears a reader; Stop (Escape) turns them into
    // the tab's result, with the recording as its file.
    void recordsFromTheMicrophone() {
        Fixture f;
        f.activate();
        QCOMPARE(f.find<QComboBox>(u"Microphone"_qs)->currentText(), u"TestMic"_qs);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_R,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(f.shown(u"Stop"_qs) && !f.shown(u"Record"_qs)); // an animated click
        QVERIFY(!f.find<QAbstractButton>(u"Select MP3 File..."_qs)->isEnabled());
        QProcess reader;
        reader.start(u"paplay"_qs, {u"-d"_qs, u"speech"_qs,
                                    AudioFixtures::librivoxDirectory() +
                                        u"/sense_and_sensibility_01_austen_64kb-0870.wav"_qs});
        int loudest = 0;
        auto* text = f.find<QPlainTextEdit>(u"Transcription text"_qs);
        QVERIFY(QTest::qWaitFor(
            [&] {
                loudest = std::max(loudest, f.find<QProgressBar>(u"Level"_qs)->value());
                return text->isVisible() && text->toPlainText().split(u' ').size() > 3;
            },
            120'000));
        QVERIFY(loudest > 30);
        // A file dropped meanwhile would be lost to the recording's result: it waits, and
        // that is what the tab says, not that a file beside it was left out.
        dropFiles(f.tab(), {f.makeFile(u"Interview.mp3"_qs), f.makeFile(u"notes.txt"_qs)});
        QTRY_COMPARE(f.vm->noticeMessage(), u"Files can be opened once the recording stops."_qs);
        QVERIFY(f.vm->audioFileURL().isEmpty());
        QVERIFY(f.spoken(u"Recording time"_qs) != u"0:00"_qs);
        QVERIFY(reader.waitForFinished(120'000));
        QTest::qWait(1000);
        f.activate();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return f.vm->hasRecording(); }, 120'000));
        QVERIFY(f.shown(u"Record"_qs) && f.shown(u"Save Recording..."_qs));
        QVERIFY(f.vm->segments().size() > 5);
        QCOMPARE(f.vm->jobSourcePath(), f.vm->audioFileURL().toLocalFile());
        QVERIFY(f.vm->jobSourcePath().endsWith(u".flac"_qs));
        QCOMPARE(text->toPlainText(), f.vm->transcribedText());
        QCOMPARE(f.dialogs.saveDialogs.size(), 1);

        // Save Recording... copies it where the user says, whole. Neither dialog opens
        // in the cache, where the recording lives.
        f.find<QAbstractButton>(u"Save Recording..."_qs)->click();
        QCOMPARE(f.dialogs.saveDialogs.size(), 2);
        for (const auto& shown : f.dialogs.saveDialogs) {
            const QString folder = shown.request.directory;
            QVERIFY2(QFileInfo(folder).isDir() &&
                         !folder.startsWith(TranscriptionService::defaultWorkDirectory()),
                     qPrintable(folder));
        }
        const auto& dialog = f.dialogs.saveDialogs.last();
        QCOMPARE(dialog.request.proposedName, QFileInfo(f.vm->jobSourcePath()).fileName());
        QTemporaryDir target;
        const QString copy = target.filePath(u"lecture.flac"_qs);
        dialog.finished(SaveDialogChoice{copy, 0, 0});
        QCOMPARE(readFile(copy), readFile(f.vm->jobSourcePath()));

        // The saved copy is an ordinary file; a recording opened again from the cache
        // (one a crash interrupted is offered so) can still be saved.
        const QString recording = f.vm->jobSourcePath();
        f.vm->keepRecording(); // else it goes with its transcript
        f.vm->loadFile(QUrl::fromLocalFile(copy));
        QVERIFY(!f.vm->hasRecording());
        f.vm->loadFile(QUrl::fromLocalFile(recording));
        QVERIFY(f.vm->hasRecording());
    }

    void reviewWindow() {
        Fixture f;
        const QString media = f.dir.filePath(u"talk.mp3"_qs);
        QVERIFY(AudioFixtures::encodeMp3(AudioFixtures::librivoxDirectory() + u'/' +
                                             AudioFixtures::librivoxIds().first() + u".wav"_qs,
                                         media));
        f.vm->loadFile(QUrl::fromLocalFile(media));
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        f.finishWith({TranscriptionEvent::success(
            {{u"along the road"_qs, 0, 2}, {u"to london"_qs, 2, 4}, {u"at last"_qs, 4.5, 6}})});
        f.dialogs.saveDialogs.last().finished(std::nullopt);
        f.find<QAbstractButton>(u"Review..."_qs)->click();
        auto* review = f.window->findChild<ReviewWindow*>();
        QVERIFY(review && review->isVisible());
        QCOMPARE(review->windowTitle(), u"Review — talk.mp3"_qs);
        auto* table = byName<QTableView>(review, u"Segments"_qs);
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(table);
        QCOMPARE(face->role(), QAccessible::Table);
        QCOMPARE(face->tableInterface()->columnCount(), 3);
        QCOMPARE(face->tableInterface()->columnDescription(2), u"Text"_qs);

        // The third row's start dragged on the waveform far to the left stops at the
        // second row's end.
        auto* waveform = byName<WaveformView>(review, u"Waveform"_qs);
        const auto xAt = [&](double seconds) {
            return QPoint(int((seconds - waveform->visibleStart()) / WaveformView::visibleSeconds *
                              waveform->width()),
                          waveform->height() / 2);
        };
        QTest::mousePress(waveform, Qt::LeftButton, {}, xAt(4.5));
        QTest::mouseMove(waveform, xAt(3.0));
        QTest::mouseRelease(waveform, Qt::LeftButton, {}, xAt(3.0));
        QCOMPARE(review->model().segments().at(2).startTime, 4.0);
        review->model().undoStack()->undo();

        QApplication::setActiveWindow(review);
        table->setFocus();
        table->setCurrentIndex(table->model()->index(1, 2));
        QTest::keyClick(table, Qt::Key_Return);
        auto* editor = table->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(u"to London town"_qs);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(f.vm->transcribedText(), u"along the road to London town at last"_qs);
        QTest::keyClick(table, Qt::Key_Down, Qt::AltModifier);                   // start later
        QTest::keyClick(table, Qt::Key_Up, Qt::ShiftModifier | Qt::AltModifier); // end sooner
        QTest::keyClick(table, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(review->model().segments(),
                 (QList<TranscriptSegment>{{u"along the road"_qs, 0, 2},
                                           {u"to London town at last"_qs, 2.1, 6}}));
        QTest::keyClick(table, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(review->model().segments().size(), 3);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(review->model().segments().at(1).endTime, 3.9);
        table->setCurrentIndex(table->model()->index(1, 2));
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(review->model().segments().size(), 2);

        QTest::keyClick(table, Qt::Key_S, Qt::ControlModifier);
        const QString saved = f.dir.filePath(u"talk.srt"_qs);
        f.dialogs.saveDialogs.last().finished(SaveDialogChoice{saved, 1});
        QCOMPARE(readFile(saved), QByteArray("1\n00:00:00,000 --> 00:00:02,000\nalong the road\n\n"
                                             "2\n00:00:04,500 --> 00:00:06,000\nat last\n\n"));

        QTest::keyClick(table, Qt::Key_Space);
        QTRY_COMPARE(byName<QAbstractButton>(review, u"Pause"_qs) != nullptr, true);
        QTest::keyClick(table, Qt::Key_Space);
        QVERIFY(!review->player().isPlaying());

        // Unsaved edits: the window asks, and Discard goes back to what was saved.
        review->model().setText(0, u"along the river"_qs);
        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->text(), u"Save changes to the transcript?"_qs);
            box->button(QMessageBox::Discard)->click();
        });
        review->close();
        QTRY_VERIFY(!f.window->findChild<ReviewWindow*>());
        QCOMPARE(f.vm->transcribedText(), u"along the road at last"_qs);

        // Quitting while a review plays: the sound output goes without taking the
        // window down twice.
        f.find<QAbstractButton>(u"Review..."_qs)->click();
        review = f.window->findChild<ReviewWindow*>();
        review->player().playFrom(0.0);
        QTRY_VERIFY(review->player().isPlaying());
        f.window.reset();
        QTest::qWait(100);
    }

    // Whatever replaces the transcript asks about unsaved review edits first and takes
    // the review with it; text typed in an open cell counts as an edit.
    void reviewBelongsToOneTranscript() {
        Fixture f;
        const auto answerNext = [](QMessageBox::StandardButton button) {
            QTimer::singleShot(0, [button] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                box->button(button)->click();
            });
        };
        const auto transcribe = [&](const QString& name) {
            f.vm->loadFile(f.makeFile(name));
            f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
            f.finishWith({TranscriptionEvent::success({{u"first words"_qs, 0, 2}})});
            f.dialogs.saveDialogs.last().finished(std::nullopt);
            f.find<QAbstractButton>(u"Review..."_qs)->click();
            return f.window->findChild<ReviewWindow*>();
        };
        QPointer<ReviewWindow> review = transcribe(u"one.mp3"_qs);
        QVERIFY(review);
        review->model().setText(0, u"edited words"_qs);

        // Cancel keeps the file, the edits and the review; Discard lets the new file in.
        answerNext(QMessageBox::Cancel);
        f.vm->loadFile(f.makeFile(u"two.mp3"_qs));
        QCOMPARE(f.vm->audioFileURL().fileName(), u"one.mp3"_qs);
        QVERIFY(review && review->isVisible());
        QCOMPARE(f.vm->transcribedText(), u"edited words"_qs);
        answerNext(QMessageBox::Discard);
        f.vm->loadFile(f.makeFile(u"two.mp3"_qs));
        QCOMPARE(f.vm->audioFileURL().fileName(), u"two.mp3"_qs);
        QTRY_VERIFY(!review);
        QCOMPARE(f.vm->transcribedText(), QString());

        // A new job on the same file, and Remove file with nothing unsaved, close it too.
        review = transcribe(u"three.mp3"_qs);
        review->model().setText(0, u"more edits"_qs);
        answerNext(QMessageBox::Discard);
        f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
        QTRY_VERIFY(!review);
        f.finishWith({TranscriptionEvent::failure({u"Vocalith"_qs, -1, u"It broke."_qs})});
        QVERIFY(f.vm->segments().isEmpty());
        review = transcribe(u"four.mp3"_qs);
        f.find<QAbstractButton>(u"Remove file"_qs)->click();
        QTRY_VERIFY(!review);
        QVERIFY(f.vm->audioFileURL().isEmpty());

        // Closing with a cell still being edited asks, and the typed text is kept.
        review = transcribe(u"five.mp3"_qs);
        auto* table = byName<QTableView>(review, u"Segments"_qs);
        QApplication::setActiveWindow(review);
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, ReviewModel::TextColumn));
        QTest::keyClick(table, Qt::Key_Return);
        auto* editor = table->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(u"typed but not entered"_qs);
        answerNext(QMessageBox::Cancel);
        QVERIFY(!review->close());
        QCOMPARE(f.vm->transcribedText(), u"typed but not entered"_qs);
    }

    // File → Review Subtitles: the recording found beside the subtitles by name, or asked
    // for; subtitles that cannot be read say why.
    void reviewSubtitles() {
        Fixture f;
        QAction* review = nullptr;
        for (QAction* action : f.window->findChildren<QAction*>())
            review = action->text() == u"Review Subtitles..."_qs ? action : review;
        QVERIFY(review);
        QCOMPARE(review->shortcut(), QKeySequence(u"Ctrl+R"_qs));
        const QString srt = writeFile(f.dir.filePath(u"talk.en.srt"_qs),
                                      "1\n00:00:01,000 --> 00:00:02,500\nHello\nthere\n\n"
                                      "2\n00:00:03,000 --> 00:00:04,000\nagain\n");
        const QString media = writeFile(f.dir.filePath(u"talk.mp3"_qs), "id3");
        f.dialogs.openAnswers = {QUrl::fromLocalFile(srt)};
        review->trigger();
        auto* window = f.window->findChild<ReviewWindow*>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), u"Review — talk.mp3"_qs);
        QList<TranscriptSegment> rows{{u"Hello there"_qs, 1.0, 2.5}, {u"again"_qs, 3.0, 4.0}};
        rows[0].subtitleBlock = 0;
        rows[1].subtitleBlock = 1;
        QCOMPARE(f.vm->segments(), rows);
        QCOMPARE(f.vm->transcribedText(), u"Hello there again"_qs);
        // Saved from the window under its own name, the file is what it was.
        for (QPushButton* button : window->findChildren<QPushButton*>())
            if (button->text() == u"Save..."_qs)
                button->click();
        QCOMPARE(f.dialogs.saveDialogs.last().request.proposedName, u"talk.en.srt"_qs);
        f.dialogs.saveDialogs.last().finished(SaveDialogChoice{srt, 1});
        QCOMPARE(readFile(srt), QByteArray("1\n00:00:01,000 --> 00:00:02,500\nHello\nthere\n\n"
                                           "2\n00:00:03,000 --> 00:00:04,000\nagain\n"));
        QCOMPARE(f.dialogs.openMessages.size(), 1);
        window->close();
        QTRY_VERIFY(!f.window->findChild<ReviewWindow*>());

        QFile::remove(media);
        const QString elsewhere = writeFile(f.dir.filePath(u"recording.wav"_qs), "RIFF");
        f.dialogs.openAnswers = {QUrl::fromLocalFile(srt), QUrl::fromLocalFile(elsewhere)};
        review->trigger();
        QCOMPARE(f.dialogs.openMessages.last(), u"Select the recording of these subtitles"_qs);
        QTRY_VERIFY(f.window->findChild<ReviewWindow*>());
        QCOMPARE(f.window->findChild<ReviewWindow*>()->windowTitle(), u"Review — recording.wav"_qs);

        const QString broken = writeFile(f.dir.filePath(u"broken.srt"_qs), "no cues here");
        f.dialogs.openAnswers = {QUrl::fromLocalFile(broken)};
        review->trigger();
        QVERIFY(
            f.vm->errorMessage().value_or(QString()).startsWith(u"Cannot review broken.srt: "_qs));
    }

    // An on-device transcript is reviewed in phrases, the stretches its subtitles show,
    // each holding its words; provider segments stay a row each. Saved after review, with
    // no edit left, every format is what it was before. No edge or split makes a row
    // shorter than the minimum.
    void reviewPhrases() {
        Fixture f;
        const QString reading = f.dir.filePath(u"reading.wav"_qs);
        QStringList arguments;
        for (const QString& id : AudioFixtures::librivoxIds())
            arguments << u"-i"_qs << AudioFixtures::librivoxDirectory() + u'/' + id + u".wav"_qs;
        QVERIFY(AudioFixtures::ffmpeg(arguments << u"-filter_complex"_qs << u"concat=n=5:v=0:a=1"_qs
                                                << reading));
        TranscriptionService engine(nullptr, nullptr, f.dir.filePath(u"work"_qs));
        EventLog<TranscriptionEvent> job;
        engine.transcribe(reading, TranscriptionLanguage::english, job.queuedHandler());
        QVERIFY(QTest::qWaitFor([&] { return job.finished(); }, 300'000));
        QVERIFY(job.success());
        // Ten minutes: the 25 s reading's words again and again, 25 s apart.
        QList<TranscriptSegment> words;
        for (int round = 0; round < 24; ++round) {
            for (TranscriptSegment word : job.success()->segments) {
                word.words.first().startTime = word.startTime += 25.0 * round;
                word.words.first().endTime = word.endTime += 25.0 * round;
                words.append(word);
            }
        }
        const auto saveAll = [&](const QString& name) {
            QList<QByteArray> files;
            for (int format = 0; format < 5; ++format) { // the subtitles as broadcast too
                const QString path = f.dir.filePath(name + QString::number(format));
                f.vm->saveTranscription();
                f.dialogs.saveDialogs.last().finished(
                    SaveDialogChoice{path, format < 3 ? format : format - 2, format < 3 ? 0 : 1});
                files.append(readFile(path));
            }
            return files;
        };
        const auto review = [&](const QList<TranscriptSegment>& segments) {
            f.vm->loadFile(QUrl::fromLocalFile(reading));
            f.find<QAbstractButton>(u"Start Transcription"_qs)->click();
            f.finishWith({TranscriptionEvent::success(segments)});
            f.dialogs.saveDialogs.last().finished(std::nullopt);
            const QList<QByteArray> before = saveAll(u"before"_qs);
            f.find<QAbstractButton>(u"Review..."_qs)->click();
            auto* window = f.window->findChild<ReviewWindow*>();
            // An edit taken back leaves the rows as the tab's transcript.
            window->model().setText(0, u"changed"_qs);
            window->model().undoStack()->undo();
            if (saveAll(u"after"_qs) != before)
                QTest::qFail("saved differently after review", __FILE__, __LINE__);
            return window;
        };
        ReviewWindow* window = review(words);
        const QList<TranscriptSegment>& rows = window->model().segments();
        qsizetype inRows = 0;
        for (const TranscriptSegment& row : rows)
            inRows += row.words.size();
        qInfo("%lld words in %lld rows", qlonglong(words.size()), qlonglong(rows.size()));
        QCOMPARE(inRows, words.size());
        QCOMPARE(rows.size(), srtRendering(words).count(u" --> "_qs));
        QVERIFY(rows.size() * 4 < words.size());

        // A click on a word plays from it, and Split cuts there.
        auto* table = byName<QTableView>(window, u"Segments"_qs);
        QApplication::setActiveWindow(window);
        auto* cells = qobject_cast<ReviewTextDelegate*>(
            table->itemDelegateForColumn(ReviewModel::TextColumn));
        const QModelIndex first = table->model()->index(0, ReviewModel::TextColumn);
        const QRect cell = table->visualRect(first);
        QPoint onThird;
        for (int x = cell.left(); x < cell.right() && onThird.isNull(); ++x) {
            if (window->model().wordAt(
                    0, cells->characterAt(*table, first, {x, cell.center().y()})) == 2)
                onThird = {x, cell.center().y()};
        }
        QVERIFY(!onThird.isNull());
        const TranscriptWord third = rows.first().words.at(2);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, onThird);
        QVERIFY(std::abs(window->player().position() - third.startTime) < 0.25);
        QTest::keyClick(table, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(window->model().segments().at(1).words.first(), third);
        QCOMPARE(window->model().segments().at(1).startTime, third.startTime);
        window->model().undoStack()->undo();
        window->close();
        QTRY_VERIFY(!f.window->findChild<ReviewWindow*>());

        window = review(
            {{u"along the road"_qs, 0, 2}, {u"to"_qs, 2, 2.04}, {u"hello world"_qs, 2.04, 4}});
        QCOMPARE(window->model().rowCount(), 3);

        // The edge of a row shorter than the minimum beside a touching one dragged, and a
        // drag whose row goes while the button is held: the rows stay as they may be.
        const QList<TranscriptSegment> before = window->model().segments();
        auto* waveform = byName<WaveformView>(window, u"Waveform"_qs);
        const auto xAt = [&](double seconds) {
            return QPoint(int(seconds / WaveformView::visibleSeconds * waveform->width()),
                          waveform->height() / 2);
        };
        QTest::mousePress(waveform, Qt::LeftButton, {}, xAt(2.05)); // nearest: the short row's end
        QTest::mouseMove(waveform, xAt(3.0));
        QTest::mouseRelease(waveform, Qt::LeftButton, {}, xAt(3.0));
        QCOMPARE(window->model().segments(), before);
        QTest::mousePress(waveform, Qt::LeftButton, {}, xAt(4.0));
        window->model().remove(2);
        QTest::mouseMove(waveform, xAt(5.0));
        QTest::mouseRelease(waveform, Qt::LeftButton, {}, xAt(5.0));
        QCOMPARE(window->model().undoStack()->count(), 1);
        window->model().undoStack()->undo();

        // A click in a row is forgotten once the keyboard leaves it: Split cuts by the
        // middle again, never inside a word.
        table = byName<QTableView>(window, u"Segments"_qs);
        QApplication::setActiveWindow(window);
        cells = qobject_cast<ReviewTextDelegate*>(
            table->itemDelegateForColumn(ReviewModel::TextColumn));
        const QModelIndex along = table->model()->index(0, ReviewModel::TextColumn);
        QPoint onRoad(table->visualRect(along).left(), table->visualRect(along).center().y());
        while (cells->characterAt(*table, along, onRoad) < 11 && onRoad.x() < table->width())
            onRoad.rx()++;
        QCOMPARE(cells->characterAt(*table, along, onRoad), 11); // the "o" of "road"
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, onRoad);
        window->player().pause(); // playing on would make the next row current
        QTest::keyClick(table, Qt::Key_Down);
        QTest::keyClick(table, Qt::Key_Up);
        QTest::keyClick(table, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(window->model().segments().at(1).text, u"the road"_qs);
        window->model().undoStack()->undo();

        // Split while editing cuts where the cursor is in the text as typed.
        table->setFocus();
        table->setCurrentIndex(table->model()->index(2, ReviewModel::TextColumn));
        QTest::keyClick(table, Qt::Key_Return);
        auto* editor = table->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(u"hello  world"_qs);
        editor->setCursorPosition(7);
        QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(window->model().segments().at(2).text, u"hello"_qs);
        QCOMPARE(window->model().segments().at(3).text, u"world"_qs);
    }

    // Several files make a queue on the tab: a folder dropped and a file dropped twice
    // are taken once each; rows are cancelled, retried, removed and opened through their
    // buttons; Save All refuses names that clash and writes one file per recording.
    void queueOnTheTab() {
        QueueFixture c;
        RecordingOnDeviceEngine& engine = *c.engine;
        TranscriptionQueue& queue = c.queue;
        QWidget* tab = c.window.tabs()->widget(0);
        const QString wav = AudioFixtures::librivoxDirectory() +
                            u"/sense_and_sensibility_01_austen_64kb-0930.wav"_qs;
        QDir(c.dir.path()).mkpath(u"one"_qs);
        QDir(c.dir.path()).mkpath(u"two/deeper"_qs);
        const QStringList paths{c.dir.filePath(u"one/talk.wav"_qs), c.dir.filePath(u"b.wav"_qs),
                                c.dir.filePath(u"two/deeper/talk.wav"_qs)};
        for (const QString& path : paths)
            QVERIFY(QFile::copy(wav, path));
        writeFile(c.dir.filePath(u"two/notes.txt"_qs), "not media");

        c.window.openFiles(paths.mid(0, 2));
        QTRY_VERIFY(byName<QPushButton>(tab, u"Transcribe 2 Files"_qs)); // looked at away
        auto* start = byName<QPushButton>(tab, u"Transcribe 2 Files"_qs);
        QVERIFY(start && start->isVisible());
        QVERIFY(!tab->findChild<QWidget*>(u"fileCard"_qs)->isVisible());
        dropFiles(tab,
                  {QUrl::fromLocalFile(c.dir.filePath(u"two"_qs)), QUrl::fromLocalFile(paths[1]),
                   QUrl::fromLocalFile(c.dir.filePath(u"two/notes.txt"_qs))});
        QTRY_COMPARE(queue.items().size(), 3);
        QCOMPARE(c.vm->noticeMessage(), u"1 file was left out: it is not audio or video."_qs);
        QTRY_COMPARE(start->text(), u"Transcribe 3 Files"_qs);
        auto* table = byName<QTableWidget>(tab, u"Queue"_qs);
        QTRY_COMPARE(table->item(0, 1)->text(), u"0:03"_qs); // read in the background
        const auto button = [&](int row, const QString& name) {
            table->selectRow(row);
            return byName<QPushButton>(tab, name);
        };
        const auto finish = [&](const QString& text) {
            const qsizetype jobs = engine.jobs.size();
            engine.jobs.last().emitFromWorkerThread({TranscriptionEvent::success({{text, 0, 1}})});
            QTRY_VERIFY(engine.jobs.size() > jobs || !queue.isRunning());
        };

        start->click();
        QCOMPARE(engine.jobs.size(), 1);
        finish(u"first"_qs);
        QCOMPARE(table->item(0, 2)->text(), u"Done"_qs);
        button(1, u"Cancel file"_qs)->click();
        QCOMPARE(table->item(1, 2)->text(), u"Cancelled"_qs);
        QCOMPARE(engine.jobs.last().audioFilePath, paths[2]);
        byName<QPushButton>(tab, u"Cancel All"_qs)->click();
        QTRY_VERIFY(!queue.isRunning());
        QCOMPARE(table->item(2, 2)->text(), u"Cancelled"_qs);
        button(1, u"Retry file"_qs)->click();
        QCOMPARE(engine.jobs.last().audioFilePath, paths[1]);
        finish(u"second"_qs);
        button(2, u"Retry file"_qs)->click();
        finish(u"third"_qs);
        QCOMPARE(engine.jobs.size(), 5);

        const QString out = c.dir.filePath(u"out"_qs);
        QDir().mkpath(out);
        const QString full = c.dir.filePath(u"full"_qs);
        QDir().mkpath(full + u"/talk.txt"_qs); // a folder where a transcript goes
        c.dialogs.folderAnswers = {SaveDialogChoice{out, 0, 0}, SaveDialogChoice{out, 0, 0},
                                   SaveDialogChoice{full, 0, 0}};
        byName<QPushButton>(tab, u"Save All..."_qs)->click();
        QCOMPARE(c.vm->errorMessage().value_or(QString()), paths[0] + u" and "_qs + paths[2] +
                                                               u" would both be written to "_qs +
                                                               out + u"/talk.txt."_qs);
        QVERIFY(QDir(out).isEmpty());
        button(0, u"Remove from queue"_qs)->click();
        QCOMPARE(table->rowCount(), 2);
        byName<QPushButton>(tab, u"Save All..."_qs)->click();
        QCOMPARE(readFile(out + u"/b.txt"_qs), "second");
        QCOMPARE(readFile(out + u"/talk.txt"_qs), "third");
        QCOMPARE(c.vm->noticeMessage(), u"Saved 2 transcripts in "_qs + out + u"."_qs);
        QVERIFY(!c.vm->errorMessage()); // the clash is no longer the news
        c.dialogs.replaceAnswers = {true};
        byName<QPushButton>(tab, u"Save All..."_qs)->click();
        QVERIFY(!c.vm->noticeMessage());
        QVERIFY2(c.vm->errorMessage().value_or(QString()).endsWith(
                     u"talk.txt). 1 of 2 transcripts were written before it."_qs),
                 qPrintable(c.vm->errorMessage().value_or(QString())));

        button(0, u"Open result"_qs)->click();
        QCOMPARE(c.vm->transcribedText(), u"second"_qs);
        QVERIFY(byName<QPlainTextEdit>(tab, u"Transcription text"_qs)->isVisible());
    }

    // File → Watch Folder...: a file copied in joins the queue and runs; Stop Watching
    // ends it, and so does the folder going away, with its message.
    void watchFolder() {
        QueueFixture c;
        QWidget* tab = c.window.tabs()->widget(0);
        const QString folder = c.dir.filePath(u"inbox"_qs);
        QDir().mkpath(folder);
        c.dialogs.folderToWatch = {folder, folder};
        const auto watchAction = [&] {
            for (QAction* action : c.window.findChildren<QAction*>()) {
                if (action->text() == u"Watch Folder..."_qs)
                    return action->trigger();
            }
            QFAIL("no Watch Folder...");
        };
        watchAction();
        QVERIFY(byName<QWidget>(tab, u"Watched folder"_qs)->isVisible());
        byName<QPushButton>(tab, u"Stop Watching"_qs)->click();
        QVERIFY(!byName<QWidget>(tab, u"Watched folder"_qs)->isVisible());
        watchAction();
        QVERIFY(QFile::copy(AudioFixtures::librivoxDirectory() +
                                u"/sense_and_sensibility_01_austen_64kb-0930.wav"_qs,
                            folder + u"/new.wav"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(c.engine->jobs.size(), 1, 20000);
        QCOMPARE(c.engine->jobs.first().audioFilePath, folder + u"/new.wav"_qs);
        QCOMPARE(c.queue.items().size(), 1);
        QVERIFY(QDir(folder).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(c.vm->errorMessage().has_value(), 20000);
        QVERIFY(c.vm->errorMessage()->contains(u"is gone; watching stopped."_qs));
        QVERIFY(!byName<QWidget>(tab, u"Watched folder"_qs)->isVisible());
    }

    void textHelpers() {
        QCOMPARE(QtFileDialogs::withUpperCasePatterns(u"Text and subtitles (*.txt *.srt)"_qs),
                 u"Text and subtitles (*.txt *.TXT *.srt *.SRT)"_qs);
        QCOMPARE(QtFileDialogs::nameFilter(u"Subtitles (.srt)"_qs), u"Subtitles (*.srt)"_qs);
        for (auto [fraction, text] : {std::pair{0.35, "35%"}, {0.999, "99%"}, {1.0, "100%"}})
            QCOMPARE(ProgressLine::percentText(fraction), QString::fromLatin1(text));
        for (auto [seconds, text] : {std::pair{49.0, "less than a minute left"},
                                     {89.0, "about 1 min left"},
                                     {3725.0, "about 1 h 2 min left"}})
            QCOMPARE(timeLeftText(seconds), QString::fromLatin1(text));
    }
};

QTEST_MAIN(TestTranscribeView)
#include "tst_transcribeview.moc"
