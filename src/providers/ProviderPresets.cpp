#include "ProviderPresets.h"

namespace vocalith {

ProviderPreset ProviderPreset::groqWhisper() {
    return {QStringLiteral("Groq Whisper"), QStringLiteral("https://api.groq.com/openai/v1"),
            QStringLiteral("whisper-large-v3")};
}

ProviderPreset ProviderPreset::openAIWhisper() {
    return {QStringLiteral("OpenAI Whisper"), QStringLiteral("https://api.openai.com/v1"),
            QStringLiteral("whisper-1")};
}

} // namespace vocalith
