#include "core/TranscriptRendering.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "support/TestDoubles.h"
#include "transcription/TranscriptionViewModel.h"

#include <QTest>

using namespace vocalith;
using namespace vocalith::test;

namespace {

const QList<TranscriptSegment> words{
    {u"Grüße"_qs, 0.0, 0.5}, {u"aus"_qs, 0.6, 1.0}, {u"Köln"_qs, 2.0, 2.4}};

// A controller holding a finished transcription of "<dir>/Interview 3.mp3".
struct Fixture : TestController {
    Fixture() {
        vm->loadFile(QUrl::fromLocalFile(dir.filePath(u"Interview 3.mp3"_qs)));
        vm->startTranscription();
        onDevice->jobs.last().emitFromWorkerThread({TranscriptionEvent::success(words)});
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

class TestSaveTranscription : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dialogProposesNameAndFormats() {
        Fixture f;
        auto& dialog = f.openDialog();
        QCOMPARE(dialog.request.message, u"Save transcription — choose .txt or .srt format"_qs);
        QCOMPARE(dialog.request.proposedName, u"Interview 3.txt"_qs);
        QCOMPARE(dialog.request.formats,
                 (QStringList{u"Plain Text (.txt)"_qs, u"Subtitles (.srt)"_qs,
                              u"WebVTT Subtitles (.vtt)"_qs}));

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
                               "2\n00:00:02,000 --> 00:00:02,399\nKöln\n\n";
        const QByteArray vtt = "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nGrüße aus\n\n"
                               "00:00:02.000 --> 00:00:02.399\nKöln\n\n";
        QTest::newRow("typed srt wins over text choice") << u"x.srt"_qs << 0 << u"x.srt"_qs << srt;
        QTest::newRow("txt typed, srt chosen") << u"x.txt"_qs << 1 << u"x.srt"_qs << srt;
        QTest::newRow("no extension, text") << u"x"_qs << 0 << u"x.txt"_qs << text;
        QTest::newRow("several dots") << u"a.b.c"_qs << 1 << u"a.b.srt"_qs << srt;
        QTest::newRow("upper-case kept") << u"Notes.TXT"_qs << 0 << u"Notes.TXT"_qs << text;
        QTest::newRow("upper-case srt") << u"Film.SRT"_qs << 0 << u"Film.SRT"_qs << srt;
        QTest::newRow("vtt chosen") << u"x.txt"_qs << 2 << u"x.vtt"_qs << vtt;
        QTest::newRow("typed vtt wins") << u"Film.vtt"_qs << 1 << u"Film.vtt"_qs << vtt;
    }
    void formatAndName() {
        QFETCH(QString, typed);
        QFETCH(int, formatIndex);
        QFETCH(QString, written);
        QFETCH(QByteArray, content);
        Fixture f;
        f.openDialog().finished(SaveDialogChoice{f.path(typed), formatIndex});
        QCOMPARE(readFile(f.path(written)), content);
        if (written != typed)
            QVERIFY(!QFile::exists(f.path(typed)));
        QVERIFY(f.dialogs.replaceQuestions.isEmpty());
        QCOMPARE(f.vm->errorMessage(), std::nullopt);
    }

    void repairedNameAsksBeforeReplacing() {
        Fixture f;
        writeFile(f.path(u"notes.srt"_qs), "keep me");

        f.dialogs.replaceAnswers = {false};
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.txt"_qs), 1});
        QCOMPARE(f.dialogs.replaceQuestions, QStringList{f.path(u"notes.srt"_qs)});
        QCOMPARE(readFile(f.path(u"notes.srt"_qs)), QByteArray("keep me"));
        QVERIFY(!QFile::exists(f.path(u"notes.txt"_qs)));

        f.dialogs.replaceAnswers = {true};
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.txt"_qs), 1});
        QCOMPARE(readFile(f.path(u"notes.srt"_qs)), srtRendering(words).toUtf8());

        // A name the user picked as it is was already confirmed by the dialog itself.
        f.openDialog().finished(SaveDialogChoice{f.path(u"notes.srt"_qs), 1});
        QCOMPARE(f.dialogs.replaceQuestions.size(), 2);

        f.openDialog().finished(SaveDialogChoice{f.path(u"missing-folder/x.txt"_qs), 0});
        const QString error = f.vm->errorMessage().value_or(QString());
        QVERIFY2(error.startsWith(u"Failed to save: "_qs) && error.size() > 16, qPrintable(error));
        QCOMPARE(f.vm->transcribedText(), u"Grüße aus Köln"_qs);
    }

    void secondDialogTakesOver() {
        Fixture f;
        auto first = f.openDialog();
        f.vm->setAudioFileURL(QUrl::fromLocalFile(f.path(u"Other.mp3"_qs)));
        auto second = f.openDialog();
        QCOMPARE(second.request.proposedName, u"Interview 3.txt"_qs);

        // The format choice renames the dialog opened last, until either closes.
        first.formatChanged(1);
        QCOMPARE(second.dialog->proposedNames, QStringList{u"Interview 3.srt"_qs});
        first.finished(std::nullopt);
        second.formatChanged(0);
        QCOMPARE(second.dialog->proposedNames.size(), 1);
        second.finished(SaveDialogChoice{f.path(u"late.txt"_qs), 0});
        QVERIFY(QFile::exists(f.path(u"late.txt"_qs)));
    }

    void closingAfterControllerIsGone() {
        auto f = std::make_unique<Fixture>();
        const auto finished = f->openDialog().finished;
        const QString target = f->path(u"after.txt"_qs);
        f->vm.reset();
        finished(SaveDialogChoice{target, 0});
        QVERIFY(!QFile::exists(target));

        Fixture empty;
        empty.vm->resetResults();
        empty.vm->saveTranscription(); // nothing to save
        QVERIFY(empty.dialogs.saveDialogs.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSaveTranscription)
#include "tst_savetranscription.moc"
