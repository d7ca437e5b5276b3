#include "LibrarySchema.h"

#include "SqliteConnection.h"

#include <QByteArray>

#include <array>

namespace vocalith {

namespace {

// Step N takes a file from version N - 1 to N. Never change a step once released.
constexpr std::array<const char*, LibrarySchema::currentVersion> steps{
    // A transcript is stored as passages of a few seconds: the unit search finds and
    // shows, each holding its segments (with word times) packed.
    R"(CREATE TABLE transcripts(
           id INTEGER PRIMARY KEY,
           recording_path TEXT NOT NULL,
           recording_size INTEGER NOT NULL DEFAULT 0,
           recording_modified INTEGER,
           content_hash TEXT NOT NULL DEFAULT '',
           engine TEXT NOT NULL DEFAULT '',
           model TEXT NOT NULL DEFAULT '',
           language TEXT NOT NULL DEFAULT '',
           duration REAL NOT NULL DEFAULT 0,
           created_at INTEGER NOT NULL,
           edited_at INTEGER);
       CREATE INDEX transcripts_by_date ON transcripts(created_at);
       CREATE TABLE passages(
           id INTEGER PRIMARY KEY,
           transcript_id INTEGER NOT NULL REFERENCES transcripts(id) ON DELETE CASCADE,
           start_time REAL NOT NULL,
           text TEXT NOT NULL,
           segments BLOB NOT NULL);
       CREATE INDEX passages_by_transcript ON passages(transcript_id, id);
       CREATE VIRTUAL TABLE passage_text USING fts5(text, content='passages',
           content_rowid='id', tokenize='unicode61 remove_diacritics 2');
       CREATE TRIGGER passages_added AFTER INSERT ON passages BEGIN
           INSERT INTO passage_text(rowid, text) VALUES (new.id, new.text);
       END;
       CREATE TRIGGER passages_removed AFTER DELETE ON passages BEGIN
           INSERT INTO passage_text(passage_text, rowid, text) VALUES ('delete', old.id, old.text);
       END;)",
    // Who spoke: a passage never spans a change of speaker.
    R"(ALTER TABLE passages ADD COLUMN speaker TEXT NOT NULL DEFAULT '';)",
};

} // namespace

int LibrarySchema::version(SqliteConnection& connection) {
    // Reading the schema is what fails on a file that is not a database.
    if (!connection.value("SELECT count(*) FROM sqlite_master").isValid())
        return -1;
    const QVariant version = connection.value("PRAGMA user_version");
    return version.isValid() ? version.toInt() : -1;
}

bool LibrarySchema::migrate(SqliteConnection& connection, int target) {
    if (!connection.exec("BEGIN IMMEDIATE"))
        return false;
    // Read again inside the transaction: another process may have just migrated it.
    const int from = version(connection);
    bool ok = from >= 0;
    for (int step = from; ok && step < target; ++step)
        ok = connection.exec(steps[size_t(step)]);
    if (ok && from < target)
        ok = connection.exec(
            QByteArray("PRAGMA user_version = " + QByteArray::number(target)).constData());
    if (ok)
        return connection.exec("COMMIT");
    connection.exec("ROLLBACK");
    return false;
}

} // namespace vocalith
