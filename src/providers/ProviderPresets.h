#pragma once

#include <QString>

namespace vocalith {

// The well-known services the provider editor offers as quick presets.
struct ProviderPreset {
    QString name;
    QString baseURL;
    QString model;

    static ProviderPreset groqWhisper();
    static ProviderPreset openAIWhisper();
};

} // namespace vocalith
