#pragma once

#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"
#include "providers/TranscriptionEngine.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace vocalith {

class KeyStore;
class OnDeviceEngine;
class ProviderEngine;

// One file through the engine the user chose, in their language: the tab's single file
// and each file of the queue alike. Events come on the main thread in the order the
// engine sent them; none of a run that was cancelled or replaced by another.
class TranscriptionJob final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptionJob)

public:
    // The engines are the caller's and outlive the job; one may be null when the job is
    // never given its kind of engine.
    TranscriptionJob(OnDeviceEngine* onDevice, ProviderEngine* provider, KeyStore& keys,
                     TranscriptionEventHandler onEvent, QObject* parent = nullptr);

    // The key to send to the provider, empty for a server on the user's own network that
    // needs none; absent when the provider has none.
    static std::optional<QString> keyFor(const CustomProvider& provider, KeyStore& keys);
    static QString missingKeyMessage(const CustomProvider& provider);

    // Starts the file, cancelling the run before it. A provider without a key, see keyFor(),
    // starts nothing and returns false.
    bool start(const QString& path, const TranscriptionEngine& engine,
               TranscriptionLanguage language);
    // Continues the provider's kept job from the part that failed; false when there is none.
    bool resume();
    // Whatever the running job still reports is dropped.
    void cancel();
    bool isRunning() const { return m_running; }

private:
    // The handler for the next run; the runs before it fall silent.
    TranscriptionEventHandler nextRun();
    void apply(quint64 run, const TranscriptionEvent& event);

    OnDeviceEngine* m_onDevice;
    ProviderEngine* m_provider;
    KeyStore& m_keys;
    TranscriptionEventHandler m_onEvent;
    quint64 m_run = 0;
    bool m_running = false;
    bool m_onDeviceRun = true;
};

} // namespace vocalith
