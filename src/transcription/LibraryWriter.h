#pragma once

#include "core/TranscriptSegment.h"
#include "library/StoredTranscript.h"

#include <QObject>

#include <memory>

namespace vocalith {

class SerialQueue;
class TranscriptLibrary;

// Keeps the tab's transcripts in the library, one after another on a thread of its
// own, so a slow disk or another process writing never stalls the window. The
// transcript stored last is the current one: review edits go to it.
class LibraryWriter final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LibraryWriter)

public:
    explicit LibraryWriter(std::shared_ptr<TranscriptLibrary> library, QObject* parent = nullptr);
    ~LibraryWriter() override;

    const std::shared_ptr<TranscriptLibrary>& library() const { return m_library; }
    // Stores a new transcript, reading the recording's size, time, hash and duration.
    void store(const StoredTranscript& transcript);
    // The tab shows a transcript opened from the library: edits go back to it.
    void follow(qint64 id);
    void replaceSegments(const QList<TranscriptSegment>& segments);
    // The tab's transcript is gone: later edits belong to no stored one.
    void forget();
    bool isBusy() const { return m_pending > 0; }

Q_SIGNALS:
    void failed(const QString& message);
    void stored(qint64 id);
    void idle();

private:
    struct Entry {
        qint64 id = 0; // read and written on the queue only
    };
    void post(std::function<std::optional<QString>()> work);

    std::shared_ptr<TranscriptLibrary> m_library;
    std::shared_ptr<SerialQueue> m_queue;
    std::shared_ptr<Entry> m_entry;
    int m_pending = 0;
};

} // namespace vocalith
