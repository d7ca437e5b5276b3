#pragma once

#include "library/SearchHit.h"
#include "library/StoredTranscript.h"

#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

namespace vocalith {

class SqliteConnection;

// Every transcript made here, kept in one SQLite file with a full-text index. Safe to
// use from any thread; the window and command lines may use one file at once.
class TranscriptLibrary final {
public:
    // ~/.local/share/Vocalith/library.sqlite3
    static QString defaultPath();
    // com.vocalith.keepLibrary, true unless the user turned it off.
    static bool isEnabled();

    // Opens the file, making it and its folder when missing. A file that cannot be read
    // is moved aside and a new one made; one from a newer version is opened read-only.
    explicit TranscriptLibrary(const QString& path = defaultPath());
    ~TranscriptLibrary();
    TranscriptLibrary(const TranscriptLibrary&) = delete;
    TranscriptLibrary& operator=(const TranscriptLibrary&) = delete;

    const QString& path() const { return m_path; }
    // What the user should hear about how the file was opened; empty when all is well.
    const QString& notice() const { return m_notice; }
    bool isReadOnly() const { return m_readOnly; }
    // Why the last call failed.
    QString lastError() const;

    // Stores a transcript and returns its id; absent when it could not be written.
    std::optional<qint64> store(const StoredTranscript& transcript);
    // The review's edits replace the transcript's segments.
    bool replaceSegments(qint64 id, const QList<TranscriptSegment>& segments);
    // The recording was found elsewhere.
    bool setRecordingPath(qint64 id, const QString& path);
    // Removes it so that its text is left nowhere in the file.
    bool remove(qint64 id);
    bool removeAll();

    // Newest first, without segments.
    QList<StoredTranscript> transcripts();
    std::optional<StoredTranscript> transcript(qint64 id);
    // Best matches first; typed as people type (see SearchQuery).
    QList<SearchHit> search(const QString& typed, int limit = 50);

private:
    bool openFile();
    bool fail(const QString& message);
    bool writePassages(qint64 id, const QList<TranscriptSegment>& segments);
    // Rewrites the full-text index without deleted entries and zeroes what they held.
    bool scrub();

    QString m_path;
    QString m_notice;
    bool m_readOnly = false;
    QString m_error;
    mutable QMutex m_mutex;
    std::unique_ptr<SqliteConnection> m_db;
};

} // namespace vocalith
