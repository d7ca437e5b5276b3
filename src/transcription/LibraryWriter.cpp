#include "LibraryWriter.h"

#include "core/SerialQueue.h"
#include "library/TranscriptLibrary.h"
#include "transcription/MediaInput.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QPointer>
#include <QSemaphore>

namespace vocalith {

namespace {

void readRecording(StoredTranscript& transcript) {
    QFile file(transcript.recordingPath);
    const QFileInfo info(file);
    transcript.recordingSize = info.size();
    transcript.recordingModified = info.lastModified();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
        transcript.contentHash = QString::fromLatin1(hash.result().toHex());
    if (transcript.duration <= 0.0)
        transcript.duration = MediaInput::durationOf(transcript.recordingPath);
    // A file that does not say lasts at least as long as what was said in it.
    if (transcript.duration <= 0.0 && !transcript.segments.isEmpty())
        transcript.duration = transcript.segments.constLast().endTime;
}

QString failure(const QString& reason) {
    return QStringLiteral("The transcript could not be kept in the library: ") + reason;
}

} // namespace

LibraryWriter::LibraryWriter(std::shared_ptr<TranscriptLibrary> library, QObject* parent)
    : QObject(parent)
    , m_library(std::move(library))
    , m_queue(SerialQueue::create(QStringLiteral("com.vocalith.library"))) {
}

LibraryWriter::~LibraryWriter() {
    // Whatever was handed over is written before the program ends.
    QSemaphore drained;
    if (m_queue->post([&drained] { drained.release(); }))
        drained.acquire();
    m_queue->close();
}

void LibraryWriter::post(std::function<std::optional<QString>()> work) {
    ++m_pending;
    QPointer<LibraryWriter> self(this);
    m_queue->post([self, work = std::move(work)] {
        const std::optional<QString> error = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, error] {
                if (!self)
                    return;
                if (error)
                    Q_EMIT self->failed(*error);
                if (--self->m_pending == 0)
                    Q_EMIT self->idle();
            },
            Qt::QueuedConnection);
    });
}

void LibraryWriter::store(const StoredTranscript& transcript) {
    m_entry = std::make_shared<Entry>();
    // A newer version's library is only read: its notice was shown once, not at every job.
    if (m_library->isReadOnly())
        return;
    QPointer<LibraryWriter> self(this);
    post([self, library = m_library, entry = m_entry,
          transcript = StoredTranscript(transcript)]() mutable -> std::optional<QString> {
        readRecording(transcript);
        const std::optional<qint64> id = library->store(transcript);
        if (!id)
            return failure(library->lastError());
        entry->id = *id;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, id = *id] {
                if (self)
                    Q_EMIT self->stored(id);
            },
            Qt::QueuedConnection);
        return std::nullopt;
    });
}

void LibraryWriter::follow(qint64 id) {
    m_entry = std::make_shared<Entry>(Entry{id});
}

void LibraryWriter::replaceSegments(const QList<TranscriptSegment>& segments) {
    if (!m_entry || m_library->isReadOnly())
        return;
    post([library = m_library, entry = m_entry, segments]() -> std::optional<QString> {
        // A store that failed leaves nothing to edit; it was reported then.
        if (entry->id == 0 || library->replaceSegments(entry->id, segments))
            return std::nullopt;
        return failure(library->lastError());
    });
}

void LibraryWriter::forget() {
    m_entry.reset();
}

} // namespace vocalith
