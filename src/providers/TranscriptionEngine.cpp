#include "TranscriptionEngine.h"

#include <QHashFunctions>

namespace vocalith {

TranscriptionEngine TranscriptionEngine::onDevice() {
    return {};
}

TranscriptionEngine TranscriptionEngine::custom(const CustomProvider& provider) {
    TranscriptionEngine engine;
    engine.m_provider = provider;
    return engine;
}

QString TranscriptionEngine::onDeviceLabel() {
    return QStringLiteral("On-device (PocketSphinx)");
}

QString TranscriptionEngine::id() const {
    return m_provider ? m_provider->idText() : QStringLiteral("on-device");
}

QString TranscriptionEngine::label() const {
    return m_provider ? m_provider->name : onDeviceLabel();
}

size_t qHash(const TranscriptionEngine& engine, size_t seed) {
    if (!engine.provider())
        return qHashMulti(seed, 0);
    return qHashMulti(seed, 1, *engine.provider());
}

} // namespace vocalith
