#include "library/LibrarySchema.h"
#include "library/SearchQuery.h"
#include "library/SqliteConnection.h"
#include "library/TranscriptJson.h"
#include "library/TranscriptLibrary.h"
#include "support/TestDoubles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using namespace vocalith;
using vocalith::test::readFile;

namespace {

// An on-device transcript: a segment per word, each holding its word.
QList<TranscriptSegment> spoken(const QString& text, double start, double confidence = 0.9) {
    QList<TranscriptSegment> segments;
    for (const QString& word : text.split(QLatin1Char(' '))) {
        const TranscriptWord w{word, start, start + 0.4, confidence};
        segments.append({.text = word,
                         .startTime = w.startTime,
                         .endTime = w.endTime,
                         .confidence = confidence,
                         .words = {w}});
        start += 0.5;
    }
    return segments;
}

StoredTranscript transcriptOf(const QString& name, const QList<TranscriptSegment>& segments) {
    return {.recordingPath = QStringLiteral("/recordings/") + name,
            .engine = QStringLiteral("On-device (PocketSphinx)"),
            .language = QStringLiteral("en-US"),
            .duration = segments.isEmpty() ? 0.0 : segments.constLast().endTime,
            .segments = segments};
}

} // namespace

class TestLibrary : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;
    QString newPath() { return m_dir.filePath(QStringLiteral("library%1.sqlite3").arg(++m_files)); }

private Q_SLOTS:
    // Words, doubts, speakers and edits come back exactly; the file is the user's alone.
    void roundTrip() {
        const QString path = newPath();
        TranscriptLibrary library(path);
        QList<TranscriptSegment> segments = spoken(u"so we began"_qs, 1.0);
        segments[1].words[0].confidence = segments[1].confidence = 0.2; // in doubt
        segments.append({.text = u"A provider's sentence."_qs,
                         .startTime = 3.25,
                         .endTime = 7.125,
                         .confidence = 0.0,
                         .speaker = u"Speaker 2"_qs});
        segments.append({.text = u"two words"_qs,
                         .startTime = 8.0,
                         .endTime = 9.0,
                         .words = {{u"two"_qs, 8.0, 8.4, 0.7}, {u"words"_qs, 8.5, 9.0, 0.3}},
                         .speaker = u"Speaker 2"_qs});
        StoredTranscript stored = transcriptOf(u"talk.mp3"_qs, segments);
        stored.createdAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000);
        const std::optional<qint64> id = library.store(stored);
        QVERIFY2(id, qPrintable(library.lastError()));
        const QFileDevice::Permissions others =
            QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(path) & others, QFileDevice::Permissions());

        std::optional<StoredTranscript> back = library.transcript(*id);
        QVERIFY(back);
        QCOMPARE(back->segments, segments);
        QVERIFY(back->segments[1].isDoubtful() && !back->segments[0].isDoubtful());
        QCOMPARE(back->createdAt, stored.createdAt);
        QCOMPARE(back->recordingName(), u"talk.mp3"_qs);
        QVERIFY(!back->editedAt.isValid());

        segments[4].text = u"two birds"_qs;
        segments[4].words[1].text = u"birds"_qs;
        segments.removeAt(0);
        QVERIFY(library.replaceSegments(*id, segments));
        back = TranscriptLibrary(path).transcript(*id); // as another process reads it
        QCOMPARE(back->segments, segments);
        QVERIFY(back->editedAt.isValid());
        QCOMPARE(library.search(u"birds"_qs).size(), 1);
        QVERIFY(library.search(u"began words"_qs).isEmpty());
        // Edits of a transcript deleted meanwhile bring back nothing.
        QVERIFY(library.remove(*id));
        QVERIFY(library.replaceSegments(*id, segments));
        QVERIFY(library.search(u"birds"_qs).isEmpty());
    }

    void search_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("found"); // "recording@seconds", best first

        QTest::newRow("words anywhere in a passage")
            << u"lazy dog"_qs << QStringList{u"fox@13.5"_qs};
        QTest::newRow("phrase") << u"\"brown fox\""_qs << QStringList{u"fox@11"_qs};
        QTest::newRow("phrase whose first word came earlier")
            << u"\"the lazy\""_qs << QStringList{u"fox@13"_qs};
        QTest::newRow("phrase out of order") << u"\"fox brown\""_qs << QStringList{};
        QTest::newRow("prefix") << u"jum*"_qs << QStringList{u"fox@12"_qs};
        QTest::newRow("accents folded both ways") << u"cafe SÃO"_qs << QStringList{u"news@20"_qs};
        QTest::newRow("phrase against words")
            << u"\"interest rates\""_qs << QStringList{u"news@30"_qs};
        QTest::newRow("a word into a provider's segment")
            << u"rates"_qs << QStringList{u"news@31"_qs, u"panel@40"_qs};
        QTest::newRow("more of the word ranks first")
            << u"budget"_qs << QStringList{u"panel@50"_qs, u"news@60.5455"_qs};
        QTest::newRow("operators are words") << u"AND OR"_qs << QStringList{u"panel@41.7143"_qs};
        QTest::newRow("unbalanced quote") << u"\"lazy"_qs << QStringList{u"fox@13.5"_qs};
        QTest::newRow("a lone star") << u"*"_qs << QStringList{};
        QTest::newRow("column filter and brackets") << u"text:fox NEAR(dog)"_qs << QStringList{};
        QTest::newRow("apostrophe") << u"don't"_qs << QStringList{u"panel@60.3333"_qs};
    }
    void search() {
        QFETCH(QString, typed);
        QFETCH(QStringList, found);
        static TranscriptLibrary library(newPath());
        if (library.transcripts().isEmpty()) {
            library.store(transcriptOf(
                u"fox"_qs, spoken(u"the quick brown fox jumps over the lazy dog"_qs, 10.0)));
            library.store(transcriptOf(
                u"news"_qs,
                {{.text = u"Café society met in São Paulo"_qs, .startTime = 20, .endTime = 25},
                 {.text = u"Interest rates rose again"_qs, .startTime = 30, .endTime = 34},
                 {.text = u"The budget was set out at length by the minister today"_qs,
                  .startTime = 60,
                  .endTime = 66}}));
            library.store(transcriptOf(
                u"panel"_qs,
                {{.text = u"Rates of interest, and more or less"_qs,
                  .startTime = 40,
                  .endTime = 44},
                 {.text = u"Budget, budget, budget"_qs, .startTime = 50, .endTime = 52},
                 {.text = u"I don't know"_qs, .startTime = 60, .endTime = 61}}));
        }
        QStringList hits;
        for (const SearchHit& hit : library.search(typed)) {
            hits.append(QFileInfo(hit.recordingPath).fileName() + QLatin1Char('@') +
                        QString::number(hit.time));
            // The marked words are the words searched for.
            QVERIFY(!hit.marks.isEmpty());
            const auto [start, length] = hit.marks.constFirst();
            QVERIFY2(SearchQuery::foldedWords(typed).contains(
                         SearchQuery::foldedWords(hit.context.mid(start, length)).value(0)) ||
                         typed.endsWith(QLatin1Char('*')),
                     qPrintable(hit.context));
        }
        QCOMPARE(hits, found);
        QCOMPARE(library.lastError(), QString());
    }

    // Delete and Delete All leave none of the words anywhere in the files.
    void deletedTextIsGone() {
        const QString path = newPath();
        TranscriptLibrary library(path);
        for (int i = 0; i < 30; ++i)
            library.store(transcriptOf(u"keep.mp3"_qs, spoken(u"ordinary words kept here"_qs, i)));
        const std::optional<qint64> secret = library.store(transcriptOf(
            u"secret-name.mp3"_qs, spoken(u"zanzibarquartz confidential plans"_qs, 0)));
        const auto fileHolds = [&](const QByteArray& text) {
            for (const char* suffix : {"", "-wal"}) {
                if (readFile(path + QLatin1String(suffix)).contains(text))
                    return true;
            }
            return false;
        };
        QVERIFY(fileHolds("zanzibarquartz") && fileHolds("secret-name"));
        QVERIFY(library.remove(*secret));
        QVERIFY(!fileHolds("zanzibarquartz"));
        QVERIFY(!fileHolds("confidential"));
        QVERIFY(!fileHolds("secret-name"));
        QVERIFY(library.search(u"zanzibarquartz"_qs).isEmpty());
        QCOMPARE(library.transcripts().size(), 30);

        QVERIFY(library.removeAll());
        QVERIFY(!fileHolds("ordinary"));
        QVERIFY(library.transcripts().isEmpty());
        QVERIFY(library.store(transcriptOf(u"after.mp3"_qs, spoken(u"new start"_qs, 0))));
        QCOMPARE(library.search(u"start"_qs).size(), 1);

        // Damaged pages in the middle of the file do not keep its words there.
        const QString damaged = newPath();
        {
            TranscriptLibrary full(damaged);
            for (int i = 0; i < 200; ++i)
                full.store(
                    transcriptOf(u"keep.mp3"_qs, spoken(u"ordinary words"_qs.repeated(9), i)));
        }
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2));
        file.write(QByteArray(16384, '\xa5'));
        file.close();
        TranscriptLibrary again(damaged);
        QVERIFY2(again.removeAll(), qPrintable(again.lastError()));
        QVERIFY(!readFile(damaged).contains("ordinary"));
        QVERIFY(again.store(transcriptOf(u"after.mp3"_qs, spoken(u"new start"_qs, 0))));
    }

    // Files from before, from after, and not a library at all.
    void filesOfOtherVersions() {
        const QString old = newPath();
        {
            SqliteConnection db;
            QVERIFY(db.open(old, SqliteConnection::Mode::readWrite));
            QVERIFY(LibrarySchema::migrate(db, 1));
            QVERIFY(
                db.run("INSERT INTO transcripts(recording_path, created_at) VALUES ('/a.mp3', 1)"));
            QVERIFY(db.run("INSERT INTO passages(transcript_id, start_time, text, segments) "
                           "VALUES (1, 0, 'older words', x'')"));
        }
        TranscriptLibrary migrated(old);
        QVERIFY(migrated.notice().isEmpty());
        QCOMPARE(migrated.search(u"older"_qs).value(0).recordingPath, u"/a.mp3"_qs);
        QVERIFY(migrated.store(transcriptOf(u"b.mp3"_qs, spoken(u"newer"_qs, 0, 0.5))));
        SqliteConnection db;
        QVERIFY(db.open(old, SqliteConnection::Mode::readOnly));
        QCOMPARE(LibrarySchema::version(db), LibrarySchema::currentVersion);

        const QString newer = newPath();
        QVERIFY(TranscriptLibrary(newer).store(transcriptOf(u"c.mp3"_qs, spoken(u"kept"_qs, 0))));
        {
            SqliteConnection db;
            QVERIFY(db.open(newer, SqliteConnection::Mode::readWrite) &&
                    db.exec("PRAGMA user_version = 99"));
        }
        TranscriptLibrary readOnly(newer);
        QVERIFY(readOnly.isReadOnly() && readOnly.notice().contains(u"newer version"_qs));
        QCOMPARE(readOnly.search(u"kept"_qs).size(), 1);
        QVERIFY(!readOnly.store(transcriptOf(u"d.mp3"_qs, spoken(u"lost"_qs, 0))));
        QVERIFY(!readOnly.remove(1));

        const QString corrupt = newPath();
        QFile file(corrupt);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(QByteArray(8192, 'x').prepend("SQLite format 3")) > 0);
        file.close();
        TranscriptLibrary fresh(corrupt);
        QVERIFY2(fresh.notice().contains(u"moved aside as library"_qs), qPrintable(fresh.notice()));
        const QStringList aside =
            QDir(m_dir.path()).entryList({QFileInfo(corrupt).fileName() + u".unreadable-*"_qs});
        QCOMPARE(aside.size(), 1);
        QVERIFY(readFile(m_dir.filePath(aside[0])).startsWith("SQLite format 3xxx"));
        QVERIFY(fresh.store(transcriptOf(u"e.mp3"_qs, spoken(u"again"_qs, 0))));

        // One that cannot be moved aside (here: the names are taken) is an error, not a
        // retry for as long as the move fails.
        const QString stuckPath = newPath();
        QVERIFY(QFile::copy(m_dir.filePath(aside[0]), stuckPath));
        for (int s = -1; s < 20; ++s)
            QDir().mkpath(stuckPath + u".unreadable-"_qs +
                          QDateTime::currentDateTime().addSecs(s).toString(u"yyyyMMdd-HHmmss"_qs));
        TranscriptLibrary stuck(stuckPath);
        QVERIFY2(stuck.notice().contains(u"nor moved aside"_qs), qPrintable(stuck.notice()));
        QVERIFY(!stuck.store(transcriptOf(u"f.mp3"_qs, spoken(u"lost"_qs, 0))));
    }

    // Two processes' worth of connections storing and searching at once wait for each other.
    void writersAtOnce() {
        const QString path = newPath();
        const auto writer = [path](int n) {
            TranscriptLibrary library(path);
            for (int i = 0; i < 40; ++i) {
                if (!library.store(
                        transcriptOf(QString::number(n), spoken(u"one two three four"_qs, i))) ||
                    library.search(u"three"_qs, 5).isEmpty())
                    return library.lastError();
            }
            return QString();
        };
        std::future<QString> first = std::async(std::launch::async, writer, 1);
        std::future<QString> second = std::async(std::launch::async, writer, 2);
        QCOMPARE(first.get(), QString());
        QCOMPARE(second.get(), QString());
        QCOMPARE(TranscriptLibrary(path).transcripts().size(), 80);
    }

    // A process killed at any moment while storing leaves a sound file holding every
    // transcript whose store had returned.
    void killedWhileStoring() {
        const QString path = newPath();
        QRandomGenerator random(20261207);
        int stored = 0;
        for (int round = 0; round < 50; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(LIBRARY_WRITER), {path});
            QVERIFY(writer.waitForStarted());
            QTest::qWait(int(random.bounded(20, 400)));
            writer.kill();
            writer.waitForFinished();
            const QList<QByteArray> ids = writer.readAllStandardOutput().split('\n');
            SqliteConnection db;
            QVERIFY(db.open(path, SqliteConnection::Mode::readWrite));
            QCOMPARE(db.value("PRAGMA integrity_check").toString(), u"ok"_qs);
            db.close();
            TranscriptLibrary library(path);
            QVERIFY(library.notice().isEmpty());
            for (const QByteArray& id : ids) {
                if (id.isEmpty())
                    continue;
                QVERIFY2(library.transcript(id.toLongLong()), id.constData());
                ++stored;
            }
        }
        qInfo("%d transcripts stored by 50 writers killed at random", stored);
        QVERIFY(stored > 0);
    }

    // The documented shape: phrases with words, speakers where known.
    void jsonExport() {
        StoredTranscript transcript =
            transcriptOf(u"talk.mp3"_qs, spoken(u"hello there"_qs, 1.0, 0.25));
        transcript.segments.append(
            {.text = u"A reply."_qs, .startTime = 3, .endTime = 4, .speaker = u"Speaker 2"_qs});
        const QJsonObject root =
            QJsonDocument::fromJson(TranscriptJson::document(transcript)).object();
        QCOMPARE(root.value(u"recording"_qs).toString(), u"/recordings/talk.mp3"_qs);
        QCOMPARE(root.value(u"language"_qs).toString(), u"en-US"_qs);
        QCOMPARE(root.value(u"duration"_qs).toDouble(), 1.9);
        const QJsonArray segments = root.value(u"segments"_qs).toArray();
        QCOMPARE(segments.size(), 2);
        QCOMPARE(segments[0].toObject().value(u"text"_qs).toString(), u"hello there"_qs);
        const QJsonObject word = segments[0].toObject().value(u"words"_qs).toArray()[1].toObject();
        QCOMPARE(word, (QJsonObject{{u"word"_qs, u"there"_qs},
                                    {u"start"_qs, 1.5},
                                    {u"end"_qs, 1.9},
                                    {u"probability"_qs, 0.25}}));
        QCOMPARE(segments[1].toObject(), (QJsonObject{{u"start"_qs, 3.0},
                                                      {u"end"_qs, 4.0},
                                                      {u"text"_qs, u"A reply."_qs},
                                                      {u"speaker"_qs, u"Speaker 2"_qs}}));
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
