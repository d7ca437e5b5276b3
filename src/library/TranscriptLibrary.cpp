#include "TranscriptLibrary.h"

#include "LibrarySchema.h"
#include "SearchQuery.h"
#include "SegmentPacking.h"
#include "SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>

#include <sqlite3.h>

namespace vocalith {

namespace {

// A passage is what one search hit shows: a few seconds of one speaker.
constexpr double passagePause = 0.4;
constexpr qsizetype passageCharacters = 80;
constexpr double passageSeconds = 6.0;

QList<QList<TranscriptSegment>> passagesOf(const QList<TranscriptSegment>& segments) {
    QList<QList<TranscriptSegment>> passages;
    qsizetype characters = 0;
    for (const TranscriptSegment& segment : segments) {
        if (!passages.isEmpty()) {
            const QList<TranscriptSegment>& last = passages.constLast();
            const bool sameRun = segment.speaker == last.constLast().speaker &&
                                 segment.startTime - last.constLast().endTime <= passagePause &&
                                 characters + 1 + segment.text.size() <= passageCharacters &&
                                 segment.endTime - last.constFirst().startTime <= passageSeconds;
            if (sameRun) {
                passages.last().append(segment);
                characters += 1 + segment.text.size();
                continue;
            }
        }
        passages.append({segment});
        characters = segment.text.size();
    }
    return passages;
}

QString joinedText(const QList<TranscriptSegment>& segments) {
    QStringList texts;
    for (const TranscriptSegment& segment : segments)
        texts.append(segment.text);
    return texts.join(QLatin1Char(' '));
}

qint64 msecs(const QDateTime& time) {
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

QDateTime fromMsecs(qint64 msecs, bool isNull) {
    return isNull ? QDateTime() : QDateTime::fromMSecsSinceEpoch(msecs);
}

// When the first searched term was said: its first word's own time where the engine
// gave words, otherwise a share of its segment's span as far into the text as it comes.
double timeOfMatch(const QList<TranscriptSegment>& segments, const SearchQuery& query,
                   double passageStart) {
    // The passage's words as the index sees them, each with its time: a phrase may
    // span segments, and its first word may have been said before on its own.
    QStringList words;
    QList<double> times;
    const auto add = [&](const QString& text, double time) {
        for (const QString& word : SearchQuery::foldedWords(text)) {
            words.append(word);
            times.append(time);
        }
    };
    for (const TranscriptSegment& segment : segments) {
        for (const TranscriptWord& word : segment.words)
            add(word.text, word.startTime);
        if (!segment.words.isEmpty())
            continue;
        const QStringList pieces = segment.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            const double share = double(i) / double(pieces.size());
            add(pieces[i], segment.startTime + share * (segment.endTime - segment.startTime));
        }
    }
    const qsizetype at = query.firstOccurrence(words);
    return at < 0 ? passageStart : times[at];
}

// A word said in most recordings matches hundreds of thousands of passages, and
// ranking them all took seconds: past this many matches only the newest are ranked.
constexpr int rankedMatches = 150;

// bm25 (k1 = 1.2, b = 0.75) with the ranked passages as the collection: each term's
// count against the passage's length over their average. Every one of them holds
// every term, so the terms weigh alike; the index's own bm25 weighs each term by a
// pass over all its matches first, which for a common word is most of the index.
double relevance(const QList<int>& counts, qsizetype words, double averageWords) {
    constexpr double k1 = 1.2;
    constexpr double b = 0.75;
    const double length = k1 * (1.0 - b + b * double(words) / std::max(averageWords, 1.0));
    double score = 0.0;
    for (const int count : counts)
        score += count * (k1 + 1.0) / (count + length);
    return score;
}

constexpr QChar markOpen = QChar(0x02);
constexpr QChar markClose = QChar(0x03);

void readMarks(const QString& marked, SearchHit& hit) {
    hit.context.reserve(marked.size());
    qsizetype start = -1;
    for (const QChar c : marked) {
        if (c == markOpen) {
            start = hit.context.size();
        } else if (c == markClose && start >= 0) {
            hit.marks.append({int(start), int(hit.context.size() - start)});
            start = -1;
        } else {
            hit.context.append(c);
        }
    }
}

} // namespace

QString TranscriptLibrary::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vocalith/library.sqlite3");
}

bool TranscriptLibrary::isEnabled() {
    return QSettings().value(QStringLiteral("com.vocalith.keepLibrary"), true).toBool();
}

TranscriptLibrary::TranscriptLibrary(const QString& path)
    : m_path(path)
    , m_db(std::make_unique<SqliteConnection>()) {
    openFile();
}

TranscriptLibrary::~TranscriptLibrary() = default;

QString TranscriptLibrary::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_error;
}

bool TranscriptLibrary::fail(const QString& message) {
    m_error = message;
    return false;
}

bool TranscriptLibrary::openFile() {
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Made before SQLite opens it, so nobody else may ever read it; SQLite gives the
    // journal files the same mode.
    if (!QFile::exists(m_path)) {
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    if (!m_db->open(m_path, SqliteConnection::Mode::readWrite))
        return fail(m_db->errorMessage());
    const int version = LibrarySchema::version(*m_db);
    if (version < 0) {
        m_db->close();
        const QString aside =
            m_path + QStringLiteral(".unreadable-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        // Left in place it would be found unreadable again, for as long as the move fails;
        // gone, another process has just moved it.
        if (!QFile::rename(m_path, aside) && QFile::exists(m_path)) {
            m_notice = QStringLiteral("The library %1 could not be read, nor moved aside: new "
                                      "transcripts are not kept.")
                           .arg(QDir::toNativeSeparators(m_path));
            return fail(m_notice);
        }
        for (const char* journal : {"-wal", "-shm", "-journal"})
            QFile::rename(m_path + QLatin1String(journal), aside + QLatin1String(journal));
        m_notice = QStringLiteral("The library could not be read. It was moved aside as %1 "
                                  "and a new one was started.")
                       .arg(QFileInfo(aside).fileName());
        return openFile();
    }
    if (version > LibrarySchema::currentVersion) {
        m_readOnly = true;
        m_notice = QStringLiteral("The library was made by a newer version of Vocalith. It is "
                                  "open read-only: new transcripts are not kept.");
        return m_db->open(m_path, SqliteConnection::Mode::readOnly) || fail(m_db->errorMessage());
    }
    m_db->exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; "
               "PRAGMA foreign_keys = ON; PRAGMA secure_delete = ON; "
               // Searching reads the index in place rather than copying every page in.
               "PRAGMA mmap_size = 1073741824;");
    if (version < LibrarySchema::currentVersion && !LibrarySchema::migrate(*m_db))
        return fail(m_db->errorMessage());
    return true;
}

bool TranscriptLibrary::writePassages(qint64 id, const QList<TranscriptSegment>& segments) {
    // All passages in one statement, their packed segments in one blob cut at offsets:
    // preparing a statement for each passage took most of the time of a store.
    QJsonArray rows;
    QByteArray packed;
    for (const QList<TranscriptSegment>& passage : passagesOf(segments)) {
        const QByteArray bytes = SegmentPacking::pack(passage);
        rows.append(QJsonArray{passage.constFirst().startTime, passage.constFirst().speaker,
                               joinedText(passage), packed.size() + 1, bytes.size()});
        packed += bytes;
    }
    return m_db->run(
        "INSERT INTO passages(transcript_id, start_time, speaker, text, segments) "
        "SELECT ?, value ->> 0, value ->> 1, value ->> 2, "
        "substr(?, value ->> 3, value ->> 4) FROM json_each(?) ORDER BY key",
        {id, packed, QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact))});
}

std::optional<qint64> TranscriptLibrary::store(const StoredTranscript& transcript) {
    QMutexLocker lock(&m_mutex);
    if (m_readOnly)
        return fail(m_notice), std::nullopt;
    if (!m_db->isOpen() || !m_db->exec("BEGIN IMMEDIATE"))
        return fail(m_db->errorMessage()), std::nullopt;
    const QDateTime created =
        transcript.createdAt.isValid() ? transcript.createdAt : QDateTime::currentDateTime();
    bool ok = m_db->run(
        "INSERT INTO transcripts(recording_path, recording_size, recording_modified, "
        "content_hash, engine, model, language, duration, created_at, edited_at) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {transcript.recordingPath, transcript.recordingSize,
         transcript.recordingModified.isValid() ? QVariant(msecs(transcript.recordingModified))
                                                : QVariant(),
         transcript.contentHash, transcript.engine, transcript.model, transcript.language,
         transcript.duration, msecs(created),
         transcript.editedAt.isValid() ? QVariant(msecs(transcript.editedAt)) : QVariant()});
    const qint64 id = m_db->lastInsertId();
    ok = ok && writePassages(id, transcript.segments) && m_db->exec("COMMIT");
    if (ok)
        return id;
    fail(m_db->errorMessage());
    m_db->exec("ROLLBACK");
    return std::nullopt;
}

bool TranscriptLibrary::replaceSegments(qint64 id, const QList<TranscriptSegment>& segments) {
    QMutexLocker lock(&m_mutex);
    if (m_readOnly)
        return fail(m_notice);
    if (!m_db->isOpen() || !m_db->exec("BEGIN IMMEDIATE"))
        return fail(m_db->errorMessage());
    bool ok = m_db->run("UPDATE transcripts SET edited_at = ? WHERE id = ?",
                        {QDateTime::currentMSecsSinceEpoch(), id});
    // Deleted from the library meanwhile: the edits stay on the tab, the library stays empty
    // of it, as the user asked.
    if (ok && m_db->changes() == 0)
        return m_db->exec("ROLLBACK"), true;
    ok = ok && m_db->run("DELETE FROM passages WHERE transcript_id = ?", {id}) &&
         writePassages(id, segments) && m_db->exec("COMMIT");
    if (!ok) {
        fail(m_db->errorMessage());
        m_db->exec("ROLLBACK");
    }
    return ok;
}

bool TranscriptLibrary::setRecordingPath(qint64 id, const QString& path) {
    QMutexLocker lock(&m_mutex);
    if (m_readOnly)
        return fail(m_notice);
    return m_db->run("UPDATE transcripts SET recording_path = ? WHERE id = ?", {path, id}) ||
           fail(m_db->errorMessage());
}

bool TranscriptLibrary::scrub() {
    // Deleted rows leave their words in older index segments until they are merged;
    // secure_delete zeroes the pages that frees, and the checkpoint carries the zeroes
    // from the journal into the file.
    return m_db->run("INSERT INTO passage_text(passage_text) VALUES ('optimize')") &&
           m_db->exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool TranscriptLibrary::remove(qint64 id) {
    QMutexLocker lock(&m_mutex);
    if (m_readOnly)
        return fail(m_notice);
    if (!m_db->isOpen() || !m_db->exec("BEGIN IMMEDIATE"))
        return fail(m_db->errorMessage());
    const bool ok = m_db->run("DELETE FROM passages WHERE transcript_id = ?", {id}) &&
                    m_db->run("DELETE FROM transcripts WHERE id = ?", {id}) && m_db->exec("COMMIT");
    if (!ok) {
        fail(m_db->errorMessage());
        m_db->exec("ROLLBACK");
        return false;
    }
    return scrub() || fail(m_db->errorMessage());
}

bool TranscriptLibrary::removeAll() {
    QMutexLocker lock(&m_mutex);
    if (m_readOnly)
        return fail(m_notice);
    if (!m_db->isOpen() || !m_db->exec("BEGIN IMMEDIATE"))
        return fail(m_db->errorMessage());
    // The triggers would delete row by row; the index is emptied at once instead.
    const bool ok = m_db->exec("DROP TRIGGER passages_removed; DELETE FROM passages; "
                               "DELETE FROM transcripts; "
                               "INSERT INTO passage_text(passage_text) VALUES ('delete-all'); "
                               "CREATE TRIGGER passages_removed AFTER DELETE ON passages BEGIN "
                               "INSERT INTO passage_text(passage_text, rowid, text) VALUES "
                               "('delete', old.id, old.text); END; COMMIT;");
    if (!ok)
        m_db->exec("ROLLBACK");
    if (ok && scrub() && m_db->exec("VACUUM"))
        return true;
    if (m_db->errorCode() != SQLITE_CORRUPT)
        return fail(m_db->errorMessage());
    // A damaged file cannot be emptied in place, and all it holds is what is to go.
    m_db->close();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(m_path + QLatin1String(suffix));
    return openFile();
}

namespace {

constexpr const char* transcriptColumns =
    "SELECT id, recording_path, recording_size, recording_modified, content_hash, engine, "
    "model, language, duration, created_at, edited_at FROM transcripts ";

StoredTranscript readTranscript(const SqliteConnection::Statement& rows) {
    return {.id = rows.integer(0),
            .recordingPath = rows.text(1),
            .recordingSize = rows.integer(2),
            .recordingModified = fromMsecs(rows.integer(3), rows.isNull(3)),
            .contentHash = rows.text(4),
            .engine = rows.text(5),
            .model = rows.text(6),
            .language = rows.text(7),
            .duration = rows.real(8),
            .createdAt = fromMsecs(rows.integer(9), false),
            .editedAt = fromMsecs(rows.integer(10), rows.isNull(10)),
            .segments = {}};
}

} // namespace

QList<StoredTranscript> TranscriptLibrary::transcripts() {
    QMutexLocker lock(&m_mutex);
    QList<StoredTranscript> list;
    if (!m_db->isOpen())
        return list;
    auto rows = m_db->prepare(
        QByteArray(QByteArray(transcriptColumns) + "ORDER BY created_at DESC, id DESC")
            .constData());
    while (rows.next())
        list.append(readTranscript(rows));
    if (!rows.done())
        fail(m_db->errorMessage());
    return list;
}

std::optional<StoredTranscript> TranscriptLibrary::transcript(qint64 id) {
    QMutexLocker lock(&m_mutex);
    if (!m_db->isOpen())
        return std::nullopt;
    auto header =
        m_db->prepare(QByteArray(QByteArray(transcriptColumns) + "WHERE id = ?").constData(), {id});
    if (!header.next())
        return fail(header.done() ? QStringLiteral("No transcript has the id %1.").arg(id)
                                  : m_db->errorMessage()),
               std::nullopt;
    StoredTranscript found = readTranscript(header);
    auto rows = m_db->prepare(
        "SELECT speaker, segments FROM passages WHERE transcript_id = ? ORDER BY id", {id});
    while (rows.next()) {
        const QString speaker = rows.text(0);
        for (TranscriptSegment& segment : SegmentPacking::unpack(rows.blob(1))) {
            segment.speaker = speaker;
            found.segments.append(segment);
        }
    }
    if (!rows.done())
        return fail(m_db->errorMessage()), std::nullopt;
    return found;
}

QList<SearchHit> TranscriptLibrary::search(const QString& typed, int limit) {
    const SearchQuery query(typed);
    QList<SearchHit> hits;
    if (query.isEmpty())
        return hits;
    QMutexLocker lock(&m_mutex);
    if (!m_db->isOpen())
        return hits;
    // The newest matches, which the index streams by id without weighing them, each with
    // what its hit shows.
    struct Ranked {
        QList<int> counts;
        qsizetype words;
        double score;
        SearchHit hit;
        QByteArray segments;
        QString marked;
    };
    QList<Ranked> ranked;
    qsizetype allWords = 0;
    auto rows = m_db->prepare(
        "SELECT p.text, p.transcript_id, t.recording_path, p.speaker, p.start_time, p.segments, "
        "snippet(passage_text, 0, char(2), char(3), '…', 24) "
        "FROM passage_text JOIN passages p ON p.id = passage_text.rowid "
        "JOIN transcripts t ON t.id = p.transcript_id "
        "WHERE passage_text MATCH ? ORDER BY passage_text.rowid DESC LIMIT ?",
        {query.expression(), std::max(limit, rankedMatches)});
    while (rows.next()) {
        const QStringList words = SearchQuery::foldedWords(rows.text(0));
        allWords += words.size();
        ranked.append({.counts = query.occurrences(words),
                       .words = words.size(),
                       .score = 0.0,
                       .hit = {.transcriptId = rows.integer(1),
                               .recordingPath = rows.text(2),
                               .speaker = rows.text(3),
                               .time = rows.real(4),
                               .context = {},
                               .marks = {}},
                       .segments = rows.blob(5),
                       .marked = rows.text(6)});
    }
    if (!rows.done())
        return fail(m_db->errorMessage()), hits;
    for (Ranked& match : ranked)
        match.score = relevance(match.counts, match.words, double(allWords) / ranked.size());
    // Best first, and the newer of two alike.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Ranked& a, const Ranked& b) { return a.score > b.score; });
    for (qsizetype i = 0; i < std::min<qsizetype>(ranked.size(), limit); ++i) {
        SearchHit& hit = ranked[i].hit;
        hit.time = timeOfMatch(SegmentPacking::unpack(ranked[i].segments), query, hit.time);
        readMarks(ranked[i].marked, hit);
        hits.append(hit);
    }
    return hits;
}

} // namespace vocalith
