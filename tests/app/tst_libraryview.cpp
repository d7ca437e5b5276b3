#include "app/LibraryTableModel.h"
#include "app/LibraryViewModel.h"
#include "app/LibraryWindow.h"
#include "app/MainWindow.h"
#include "app/MessageBanner.h"
#include "app/ReviewWindow.h"
#include "library/TranscriptLibrary.h"
#include "playback/Player.h"
#include "providers/KeychainHelper.h"
#include "support/AudioFixtures.h"
#include "support/TestDoubles.h"
#include "support/WidgetLookup.h"
#include "transcription/TranscriptFormats.h"

#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

using namespace vocalith;
using namespace vocalith::test;
namespace fixtures = vocalith::test::AudioFixtures;

namespace {

// The real window on a real library file in the session's data folder, holding
// transcripts of real recordings: the reference words, 0.3 s each, six to a segment.
struct Fixture {
    std::shared_ptr<TranscriptLibrary> library;
    std::unique_ptr<TestController> controller;
    std::unique_ptr<MainWindow> window;
    QStringList questions; // asked before deleting; all answered yes

    explicit Fixture(const QByteArray& unreadableFile = {}) {
        const QString path = TranscriptLibrary::defaultPath();
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        if (!unreadableFile.isEmpty())
            writeFile(path, unreadableFile);
        library = std::make_shared<TranscriptLibrary>();
        controller = std::make_unique<TestController>(nullptr, library);
        window = std::make_unique<MainWindow>(*controller->vm, KeychainHelper::shared(),
                                              controller->dialogs);
        window->show();
    }

    qint64 keep(const QString& id, const QString& name) {
        const QString recording = controller->dir.filePath(name);
        QFile::copy(fixtures::librivoxDirectory() + u'/' + id + u".wav"_qs, recording);
        const QStringList words = fixtures::referenceWords(id);
        QList<TranscriptSegment> segments;
        for (qsizetype i = 0; i < words.size(); ++i) {
            if (i % 6 == 0)
                segments.append({{}, i * 0.3, i * 0.3});
            TranscriptSegment& segment = segments.last();
            segment.words.append({words[i], i * 0.3, i * 0.3 + 0.3, 0.9});
            segment.text = QString(segment.text + u' ' + words[i]).trimmed();
            segment.endTime = i * 0.3 + 0.3;
        }
        return *library->store({.recordingPath = recording,
                                .engine = u"On-device (PocketSphinx)"_qs,
                                .language = u"en-US"_qs,
                                .duration = words.size() * 0.3,
                                .segments = segments});
    }

    LibraryWindow* open() {
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            return nullptr;
        QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
        LibraryWindow* shown = window->libraryWindow();
        if (shown)
            shown->viewModel().setConfirm([this](const QString&, const QString& question) {
                questions.append(question);
                return true;
            });
        return shown;
    }
    ReviewWindow* review() const { return window->findChild<ReviewWindow*>(); }
};

QTableView* table(LibraryWindow* window, const QString& name) {
    return byName<QTableView>(window, name);
}

QString cell(QTableView* table, int row, int column) {
    return table->model()->index(row, column).data().toString();
}

QString status(LibraryWindow* window) {
    return byName<QLabel>(window, u"Status"_qs)->text();
}

void click(LibraryWindow* window, const QString& button) {
    byName<QAbstractButton>(window, button)->click();
}

} // namespace

class TestLibraryView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Typing searches as it goes; each hit names its recording, when it was said and
    // the words around it with the match marked, and Enter opens the review there,
    // playing from two seconds before.
    void searchAndOpenAtTime_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("recordings");
        QTest::addColumn<QString>("opened"); // the hit opened, its time and marked words
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("marked");
        const QStringList interview{u"Interview.wav"_qs};
        QTest::newRow("word") << u"prudently"_qs << interview << interview[0] << u"0:00:04"_qs
                              << u"prudently"_qs;
        QTest::newRow("prefix") << u"prud*"_qs << interview << interview[0] << u"0:00:04"_qs
                                << u"prudently"_qs;
        QTest::newRow("phrase") << u"\"ill disposed\""_qs
                                << QStringList{u"Not ill.wav"_qs, u"Rather.wav"_qs}
                                << u"Rather.wav"_qs << u"0:00:03"_qs << u"ill disposed"_qs;
    }
    void searchAndOpenAtTime() {
        QFETCH(QString, typed);
        QFETCH(QStringList, recordings);
        QFETCH(QString, opened);
        QFETCH(QString, time);
        QFETCH(QString, marked);
        Fixture f;
        f.keep(u"sense_and_sensibility_01_austen_64kb-0870"_qs, u"Interview.wav"_qs);
        f.keep(u"sense_and_sensibility_01_austen_64kb-0890"_qs, u"Rather.wav"_qs);
        f.keep(u"sense_and_sensibility_01_austen_64kb-0880"_qs, u"Not ill.wav"_qs);
        LibraryWindow* library = f.open();
        QVERIFY(library && library->isVisible());
        QCOMPARE(unnamedControls(library), QStringList{});

        // Newest first, with their duration, engine and language.
        QTableView* list = table(library, u"Transcripts"_qs);
        QTRY_COMPARE(list->model()->rowCount(), 3);
        QCOMPARE(status(library), u"3 transcripts"_qs);
        QCOMPARE(cell(list, 0, 0), u"Not ill.wav"_qs);
        QCOMPARE(cell(list, 2, 0), u"Interview.wav"_qs);
        QCOMPARE(cell(list, 2, 2), u"0:00:06"_qs);
        QCOMPARE(cell(list, 2, 3), u"On-device (PocketSphinx)"_qs);
        QCOMPARE(cell(list, 2, 4), u"English (US)"_qs);

        QTest::keyClicks(byName<QLineEdit>(library, u"Search"_qs), typed);
        QTableView* hits = table(library, u"Search results"_qs);
        QTRY_VERIFY(hits->isVisible() && !library->viewModel().isSearching());
        QStringList found;
        for (int row = 0; row < hits->model()->rowCount(); ++row)
            found.append(cell(hits, row, 0));
        found.sort();
        QCOMPARE(found, recordings);
        int row = 0;
        while (cell(hits, row, 0) != opened)
            ++row;
        QCOMPARE(cell(hits, row, 1), time);
        const QModelIndex words = hits->model()->index(row, 2);
        QStringList marks;
        for (const auto& [start, length] :
             words.data(LibraryTableModel::MarksRole).value<QList<std::pair<int, int>>>())
            marks.append(words.data().toString().mid(start, length).toLower());
        QCOMPARE(marks.join(u' '), marked);

        // Enter on the hit: the review of that transcript, heard from 2 s before.
        const SearchHit hit = library->viewModel().hits().at(row);
        double heardFrom = -1.0;
        connect(&library->viewModel(), &LibraryViewModel::reviewRequested, this,
                [&] { heardFrom = f.review()->player().position(); });
        hits->setFocus();
        hits->setCurrentIndex(words);
        QTest::keyClick(hits, Qt::Key_Return);
        QTRY_VERIFY(f.review() && f.review()->isVisible());
        QCOMPARE(heardFrom, std::max(0.0, hit.time - 2.0));
        QVERIFY(f.review()->player().isPlaying());
        QCOMPARE(f.controller->vm->jobSourcePath(), hit.recordingPath);
        QCOMPARE(f.controller->vm->segments(), f.library->transcript(hit.transcriptId)->segments);
    }

    // A recording that moved is asked for once by its name, and found there from then on;
    // the library's notice about its file is shown here too.
    void movedRecording() {
        Fixture f("not a database");
        const qint64 id = f.keep(u"sense_and_sensibility_01_austen_64kb-0880"_qs, u"Talk.wav"_qs);
        const QString moved = f.controller->dir.filePath(u"Talk (final).wav"_qs);
        QVERIFY(QFile::rename(f.controller->dir.filePath(u"Talk.wav"_qs), moved));
        LibraryWindow* library = f.open();
        QVERIFY(byName<QLabel>(library, u"Notice"_qs)->isVisible());
        QCOMPARE(byName<QLabel>(library, u"Notice"_qs)->text(), f.library->notice());

        QTableView* list = table(library, u"Transcripts"_qs);
        QTRY_COMPARE(list->model()->rowCount(), 1);
        for (int round = 0; round < 2; ++round) {
            f.controller->dialogs.openAnswers = {QUrl::fromLocalFile(moved)};
            list->setCurrentIndex(list->model()->index(0, 0));
            click(library, u"Review..."_qs);
            QTRY_VERIFY(f.review() && f.review()->isVisible());
            QCOMPARE(f.controller->dialogs.openMessages, QStringList{u"Where is Talk.wav?"_qs});
            QCOMPARE(f.controller->vm->jobSourcePath(), moved);
            QVERIFY(f.review()->close());
            QTRY_VERIFY(!f.review());
        }
        QCOMPARE(f.library->transcript(id)->recordingPath, moved);
    }

    // Save... writes any format through the app's save dialog; Delete and Delete All ask
    // first, and what they delete leaves the list and the search.
    void saveAndDelete() {
        Fixture f;
        const qint64 first = f.keep(u"sense_and_sensibility_01_austen_64kb-0870"_qs, u"A.wav"_qs);
        f.keep(u"sense_and_sensibility_01_austen_64kb-0920"_qs, u"B.wav"_qs);
        LibraryWindow* library = f.open();
        QTableView* list = table(library, u"Transcripts"_qs);
        QTRY_COMPARE(list->model()->rowCount(), 2);
        list->setCurrentIndex(list->model()->index(1, 0));
        const StoredTranscript kept = *f.library->transcript(first);
        auto& dialogs = f.controller->dialogs;
        for (int format = TranscriptFormats::txt; format <= TranscriptFormats::json; ++format) {
            click(library, u"Save..."_qs);
            QTRY_COMPARE(dialogs.saveDialogs.size(), format + 1);
            QCOMPARE(dialogs.saveDialogs.last().request.formats, TranscriptFormats::titles());
            QCOMPARE(dialogs.saveDialogs.last().request.layouts, subtitleLayouts());
            QCOMPARE(dialogs.saveDialogs.last().request.proposedName, u"A.txt"_qs);
            const QString target = f.controller->dir.filePath(u"saved"_qs);
            dialogs.saveDialogs.last().finished(SaveDialogChoice{target, format, 1});
            const QString written = target + u'.' + TranscriptFormats::extension(format);
            QCOMPARE(
                QString::fromUtf8(readFile(written)),
                TranscriptFormats::render(kept, format, TranscriptFormats::isSubtitles(format)));
        }

        click(library, u"Delete"_qs);
        QCOMPARE(f.questions.size(), 1);
        QVERIFY(f.questions.first().contains(u"A.wav"_qs));
        QCOMPARE(list->model()->rowCount(), 1);
        QCOMPARE(cell(list, 0, 0), u"B.wav"_qs);
        QTest::keyClicks(byName<QLineEdit>(library, u"Search"_qs), u"dashwood"_qs);
        QTRY_COMPARE(status(library), u"No matches"_qs);
        QVERIFY(!f.library->transcript(first));

        click(library, u"Delete All"_qs);
        QCOMPARE(f.questions.size(), 2);
        byName<QLineEdit>(library, u"Search"_qs)->clear();
        QTRY_COMPARE(status(library), u"No transcripts kept yet"_qs);
        QVERIFY(f.library->transcripts().isEmpty());
        QVERIFY(!byName<QAbstractButton>(library, u"Delete All"_qs)->isEnabled());
    }
};

QTEST_MAIN(TestLibraryView)
#include "tst_libraryview.moc"
