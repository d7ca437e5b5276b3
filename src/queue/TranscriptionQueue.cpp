#include "TranscriptionQueue.h"

#include "core/SerialQueue.h"
#include "library/StoredTranscript.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeyStore.h"
#include "transcription/LibraryWriter.h"
#include "transcription/MediaInput.h"
#include "transcription/OnDeviceEngine.h"
#include "transcription/ProviderEngine.h"
#include "transcription/TranscriptionJob.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

#include <algorithm>

namespace vocalith {

namespace {

// Both engines report up to a tenth while they prepare the audio.
constexpr double preparedAt = 0.1;

} // namespace

int TranscriptionQueue::parallelProviderJobs() {
    const int jobs =
        QSettings().value(QStringLiteral("com.vocalith.parallelProviderJobs"), 1).toInt();
    return std::clamp(jobs, 1, 8);
}

TranscriptionQueue::TranscriptionQueue(Services services, QObject* parent)
    : QObject(parent)
    , m_onDevice(std::move(services.onDevice))
    , m_makeProviderEngine(std::move(services.makeProviderEngine))
    , m_keyStore(*services.keyStore)
    , m_durations(SerialQueue::create(QStringLiteral("com.vocalith.durations"))) {
    if (services.library) {
        m_library = std::make_unique<LibraryWriter>(std::move(services.library));
        connect(m_library.get(), &LibraryWriter::failed, this, [this](const QString& message) {
            m_storing.removeFirst();
            Q_EMIT libraryFailed(message);
        });
        // Stores finish in turn: the id tells a review opened from the queue where edits go.
        connect(m_library.get(), &LibraryWriter::stored, this, [this](qint64 libraryId) {
            if (const int index = indexOf(m_storing.takeFirst()); index >= 0)
                m_items[index].libraryId = libraryId;
        });
    }
}

TranscriptionQueue::~TranscriptionQueue() {
    *m_closing = true;
    m_durations->close();
    for (Slot& slot : m_slots)
        slot.job->cancel();
}

int TranscriptionQueue::indexOf(quint64 id) const {
    // Items are only ever appended or removed, so their ids ascend.
    const auto found =
        std::lower_bound(m_items.cbegin(), m_items.cend(), id,
                         [](const QueueItem& item, quint64 wanted) { return item.id < wanted; });
    return found == m_items.cend() || found->id != id ? -1 : int(found - m_items.cbegin());
}

StoredTranscript TranscriptionQueue::transcript(int index) const {
    const QueueItem& item = m_items.at(index);
    const std::optional<CustomProvider>& provider = m_engine.provider();
    return {.id = item.libraryId,
            .recordingPath = item.path,
            .engine = m_engine.label(),
            .model = provider ? provider->model : QStringLiteral("en-us"),
            .language = m_language == TranscriptionLanguage::autoDetect ? QStringLiteral("auto")
                                                                        : rawValue(m_language),
            .duration = item.duration,
            .createdAt = QDateTime::currentDateTime(),
            .segments = item.segments};
}

TranscriptionQueue::Source TranscriptionQueue::sourceOf(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return {info.absoluteFilePath(), canonical.isEmpty() ? info.absoluteFilePath() : canonical};
}

int TranscriptionQueue::add(const QStringList& paths) {
    QList<Source> sources;
    for (const QString& path : paths)
        sources.append(sourceOf(path));
    return add(sources);
}

int TranscriptionQueue::add(const QList<Source>& sources) {
    const int first = int(m_items.size());
    QList<std::pair<quint64, QString>> unread;
    for (const Source& source : sources) {
        if (m_keys.contains(source.key))
            continue;
        m_keys.insert(source.key);
        m_items.append(QueueItem{.id = ++m_nextId, .path = source.path, .key = source.key});
        unread.append({m_nextId, source.path});
    }
    if (!unread.isEmpty())
        readDurations(unread);
    const int added = int(m_items.size()) - first;
    if (added > 0)
        Q_EMIT itemsAdded(first, int(m_items.size()) - 1);
    if (m_running)
        fill();
    return added;
}

void TranscriptionQueue::readDurations(const QList<std::pair<quint64, QString>>& files) {
    // Reading a duration opens the file: thousands of them must not stall the window,
    // nor their answers flood it, so they come back fifty at a time.
    constexpr qsizetype filesAtOnce = 50;
    constexpr qint64 msAtOnce = 50;
    QPointer<TranscriptionQueue> self(this);
    m_durations->post([self, closing = m_closing, files] {
        QList<std::pair<quint64, double>> read;
        QElapsedTimer batch;
        batch.start();
        for (qsizetype i = 0; i < files.size() && !*closing; ++i) {
            read.append({files[i].first, MediaInput::durationOf(files[i].second)});
            if (i + 1 < files.size() && read.size() < filesAtOnce && batch.elapsed() < msAtOnce)
                continue;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, read] {
                    if (self)
                        self->setDurations(read);
                },
                Qt::QueuedConnection);
            read.clear();
            batch.restart();
        }
    });
}

void TranscriptionQueue::setDurations(const QList<std::pair<quint64, double>>& read) {
    for (const auto& [id, duration] : read) {
        const int index = indexOf(id);
        if (index < 0 || duration <= 0.0)
            continue;
        m_items[index].duration = duration;
        Q_EMIT itemChanged(index);
    }
}

void TranscriptionQueue::start(const TranscriptionEngine& engine, TranscriptionLanguage language) {
    if (m_running)
        return;
    m_engine = engine;
    m_language = language;
    m_slots.clear();
    const int slots = engine.isOnDevice() ? 1 : parallelProviderJobs();
    for (int i = 0; i < slots; ++i) {
        Slot slot;
        if (!engine.isOnDevice())
            slot.provider = m_makeProviderEngine();
        slot.job =
            std::make_unique<TranscriptionJob>(m_onDevice.get(), slot.provider.get(), m_keyStore,
                                               [this, job = i](const TranscriptionEvent& event) {
                                                   if (const quint64 item = m_slots[job].item)
                                                       apply(item, event);
                                               });
        m_slots.push_back(std::move(slot));
    }
    m_running = true;
    fill();
    finishIfIdle();
}

void TranscriptionQueue::fill() {
    for (Slot& slot : m_slots) {
        while (slot.item == 0) {
            const auto waiting =
                std::find_if(m_items.begin(), m_items.end(), [](const QueueItem& item) {
                    return item.state == QueueItem::State::waiting;
                });
            if (waiting == m_items.end())
                return;
            run(slot, *waiting);
        }
    }
}

void TranscriptionQueue::run(Slot& slot, QueueItem& item) {
    item.progress = 0.0;
    item.secondsLeft.reset();
    item.error.clear();
    item.segments.clear();
    if (slot.job->start(item.path, m_engine, m_language)) {
        item.state = QueueItem::State::preparing;
        slot.item = item.id;
    } else { // the key went since the queue started: the slot stays free for nothing
        item.state = QueueItem::State::failed;
        item.error = TranscriptionJob::missingKeyMessage(*m_engine.provider());
    }
    changed(indexOf(item.id));
}

void TranscriptionQueue::apply(quint64 id, const TranscriptionEvent& event) {
    const int index = indexOf(id);
    if (index < 0)
        return;
    QueueItem& item = m_items[index];
    if (const auto* progress = std::get_if<TranscriptionEvent::Progress>(&event.value)) {
        item.progress = progress->fraction;
        item.secondsLeft = progress->secondsLeft;
        item.state = progress->fraction > preparedAt ? QueueItem::State::transcribing
                                                     : QueueItem::State::preparing;
        return changed(index);
    }
    if (const auto* success = std::get_if<TranscriptionEvent::Success>(&event.value)) {
        item.state = QueueItem::State::done;
        item.progress = 1.0;
        item.segments = success->segments;
        if (m_library) {
            // A read-only library takes nothing and so answers nothing.
            if (!m_library->library()->isReadOnly())
                m_storing.append(id);
            m_library->store(transcript(index));
        }
    } else if (const auto* failure = std::get_if<TranscriptionEvent::Failure>(&event.value)) {
        item.state = QueueItem::State::failed;
        item.error = failure->error.description;
    }
    item.secondsLeft.reset();
    release(id);
    changed(index);
    fill();
    finishIfIdle();
}

void TranscriptionQueue::release(quint64 id) {
    for (Slot& slot : m_slots) {
        if (slot.item == id)
            slot.item = 0;
    }
}

void TranscriptionQueue::cancel(quint64 id) {
    const int index = indexOf(id);
    if (index < 0 || m_items[index].isFinished())
        return;
    for (Slot& slot : m_slots) {
        if (slot.item == id)
            slot.job->cancel();
    }
    release(id);
    m_items[index].state = QueueItem::State::cancelled;
    m_items[index].secondsLeft.reset();
    changed(index);
    fill();
    finishIfIdle();
}

void TranscriptionQueue::retry(quint64 id) {
    const int index = indexOf(id);
    if (index < 0 || (m_items[index].state != QueueItem::State::failed &&
                      m_items[index].state != QueueItem::State::cancelled))
        return;
    m_items[index].state = QueueItem::State::waiting;
    m_items[index].error.clear();
    m_items[index].progress = 0.0;
    changed(index);
    if (m_running)
        fill();
    else
        start(m_engine, m_language);
}

void TranscriptionQueue::remove(quint64 id) {
    cancel(id);
    const int index = indexOf(id);
    if (index < 0)
        return;
    m_keys.remove(m_items[index].key);
    m_items.removeAt(index);
    Q_EMIT itemRemoved(index);
}

void TranscriptionQueue::cancelAll() {
    // Waiting files first, so no cancelled job hands its place to one of them.
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].state == QueueItem::State::waiting) {
            m_items[i].state = QueueItem::State::cancelled;
            changed(i);
        }
    }
    for (const QueueItem& item : QList<QueueItem>(m_items)) {
        if (item.isRunning())
            cancel(item.id);
    }
    finishIfIdle();
}

void TranscriptionQueue::changed(int index) {
    if (index >= 0)
        Q_EMIT itemChanged(index);
}

void TranscriptionQueue::finishIfIdle() {
    if (!m_running)
        return;
    const bool busy = std::any_of(m_slots.cbegin(), m_slots.cend(),
                                  [](const Slot& slot) { return slot.item != 0; });
    const bool waiting = std::any_of(m_items.cbegin(), m_items.cend(), [](const QueueItem& item) {
        return item.state == QueueItem::State::waiting;
    });
    if (busy || waiting)
        return;
    m_running = false;
    Q_EMIT finished();
}

} // namespace vocalith
