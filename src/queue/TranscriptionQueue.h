#pragma once

#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"
#include "library/StoredTranscript.h"
#include "providers/TranscriptionEngine.h"
#include "queue/QueueItem.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace vocalith {

class KeyStore;
class LibraryWriter;
class OnDeviceEngine;
class ProviderEngine;
class SerialQueue;
class TranscriptionJob;
class TranscriptLibrary;

// Many files transcribed in turn: on the device one at a time (the recogniser already
// uses every core), through a provider as many at once as the setting allows. Each
// finished transcript is kept in the library.
class TranscriptionQueue final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptionQueue)

public:
    struct Services {
        std::unique_ptr<OnDeviceEngine> onDevice;
        // A provider engine runs one job at a time: one is made for each job run at once.
        std::function<std::unique_ptr<ProviderEngine>()> makeProviderEngine;
        KeyStore* keyStore = nullptr;
        std::shared_ptr<TranscriptLibrary> library = {};
    };

    // com.vocalith.parallelProviderJobs: 1 unless set, at most 8.
    static int parallelProviderJobs();

    explicit TranscriptionQueue(Services services, QObject* parent = nullptr);
    ~TranscriptionQueue() override;

    // A file as the queue takes it. Resolving its links touches the disk, so a window
    // makes many away from its own thread.
    struct Source {
        QString path; // absolute
        QString key;  // canonical, to find the same file under another name
    };
    static Source sourceOf(const QString& path);

    // Queues the files not queued already, in order; their durations are read in the
    // background. Returns how many were added.
    int add(const QList<Source>& sources);
    int add(const QStringList& paths);
    const QList<QueueItem>& items() const { return m_items; }
    int indexOf(quint64 id) const;
    // The item's transcript as the library keeps it.
    StoredTranscript transcript(int index) const;

    // Runs the waiting files on the engine, in the language, until none is left.
    void start(const TranscriptionEngine& engine, TranscriptionLanguage language);
    bool isRunning() const { return m_running; }
    void cancel(quint64 id);
    // A failed or cancelled file waits again, and runs when its turn comes.
    void retry(quint64 id);
    void remove(quint64 id);
    void cancelAll();

Q_SIGNALS:
    void itemChanged(int index);
    void itemsAdded(int first, int last);
    void itemRemoved(int index);
    // Nothing is waiting or running any more.
    void finished();
    // A transcript was made but could not be kept in the library.
    void libraryFailed(const QString& message);

private:
    // A place a job runs in: on the device, or one provider engine of several.
    struct Slot {
        std::unique_ptr<ProviderEngine> provider; // none on the device
        std::unique_ptr<TranscriptionJob> job;
        quint64 item = 0; // 0 when free
    };
    void fill();
    // Leaves the slot free, and the item failed, when the provider's key went meanwhile.
    void run(Slot& slot, QueueItem& item);
    void apply(quint64 item, const TranscriptionEvent& event);
    void release(quint64 item);
    void changed(int index);
    // Reads the files' durations in the background, in order.
    void readDurations(const QList<std::pair<quint64, QString>>& files);
    void setDurations(const QList<std::pair<quint64, double>>& read);
    void finishIfIdle();

    std::unique_ptr<OnDeviceEngine> m_onDevice;
    std::function<std::unique_ptr<ProviderEngine>()> m_makeProviderEngine;
    KeyStore& m_keyStore;
    std::unique_ptr<LibraryWriter> m_library;
    std::shared_ptr<SerialQueue> m_durations;
    // Set when going: a long read of durations stops at the next file.
    std::shared_ptr<std::atomic<bool>> m_closing = std::make_shared<std::atomic<bool>>(false);

    QList<QueueItem> m_items;
    QSet<QString> m_keys; // of m_items
    std::vector<Slot> m_slots;
    QList<quint64> m_storing; // items handed to the library, in order
    quint64 m_nextId = 0;
    bool m_running = false;
    TranscriptionEngine m_engine = TranscriptionEngine::onDevice();
    TranscriptionLanguage m_language = TranscriptionLanguage::autoDetect;
};

} // namespace vocalith
