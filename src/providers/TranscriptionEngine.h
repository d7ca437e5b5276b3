#pragma once

#include "providers/CustomProvider.h"

#include <optional>

namespace vocalith {

// The engine of the next transcription: the on-device recogniser or one provider.
// A custom engine holds its provider by value, so an edited provider is a
// different engine until the user picks it again.
class TranscriptionEngine {
public:
    static TranscriptionEngine onDevice();
    static TranscriptionEngine custom(const CustomProvider& provider);

    static QString onDeviceLabel();

    bool isOnDevice() const { return !m_provider.has_value(); }
    const std::optional<CustomProvider>& provider() const { return m_provider; }

    // "on-device", or the provider's id text.
    QString id() const;
    // The text the engine picker shows.
    QString label() const;

    bool operator==(const TranscriptionEngine&) const = default;

private:
    std::optional<CustomProvider> m_provider;
};

size_t qHash(const TranscriptionEngine& engine, size_t seed = 0);

} // namespace vocalith
