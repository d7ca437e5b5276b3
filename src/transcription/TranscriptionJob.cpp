#include "TranscriptionJob.h"

#include "providers/KeyStore.h"
#include "providers/ProviderHttp.h"
#include "transcription/OnDeviceEngine.h"
#include "transcription/ProviderEngine.h"

#include <QCoreApplication>
#include <QPointer>

namespace vocalith {

TranscriptionJob::TranscriptionJob(OnDeviceEngine* onDevice, ProviderEngine* provider,
                                   KeyStore& keys, TranscriptionEventHandler onEvent,
                                   QObject* parent)
    : QObject(parent)
    , m_onDevice(onDevice)
    , m_provider(provider)
    , m_keys(keys)
    , m_onEvent(std::move(onEvent)) {
}

std::optional<QString> TranscriptionJob::keyFor(const CustomProvider& provider, KeyStore& keys) {
    const std::optional<QString> key = keys.loadKey(provider.idText());
    if ((!key || key->isEmpty()) && !ProviderHttp::isLocalServer(provider.baseURL))
        return std::nullopt;
    return key.value_or(QString());
}

QString TranscriptionJob::missingKeyMessage(const CustomProvider& provider) {
    return QStringLiteral("No API key found for ") + provider.name +
           QStringLiteral(". Edit the provider and add your API key.");
}

bool TranscriptionJob::start(const QString& path, const TranscriptionEngine& engine,
                             TranscriptionLanguage language) {
    cancel();
    const std::optional<CustomProvider>& provider = engine.provider();
    if (!provider) {
        Q_ASSERT(m_onDevice);
        m_onDeviceRun = true;
        m_running = true;
        m_onDevice->transcribe(path, language, nextRun());
        return true;
    }
    const std::optional<QString> key = keyFor(*provider, m_keys);
    if (!key)
        return false;
    Q_ASSERT(m_provider);
    m_onDeviceRun = false;
    m_running = true;
    m_provider->transcribe(path, *provider, *key, language, nextRun());
    return true;
}

bool TranscriptionJob::resume() {
    cancel();
    if (!m_provider)
        return false;
    m_onDeviceRun = false;
    m_running = m_provider->resume(nextRun());
    return m_running;
}

void TranscriptionJob::cancel() {
    if (!m_running)
        return;
    ++m_run;
    m_running = false;
    if (m_onDeviceRun)
        m_onDevice->cancel();
    else
        m_provider->cancel();
}

TranscriptionEventHandler TranscriptionJob::nextRun() {
    QPointer<TranscriptionJob> self(this);
    return [self, run = ++m_run](const TranscriptionEvent& event) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, run, event] {
                if (self)
                    self->apply(run, event);
            },
            Qt::QueuedConnection);
    };
}

void TranscriptionJob::apply(quint64 run, const TranscriptionEvent& event) {
    if (run != m_run)
        return;
    if (event.isFinal())
        m_running = false;
    m_onEvent(event);
}

} // namespace vocalith
