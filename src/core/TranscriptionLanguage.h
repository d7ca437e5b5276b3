#pragma once

#include <QString>

#include <array>
#include <optional>

namespace vocalith {

// Recognition languages in picker order; autoDetect leaves the choice to the engine.
enum class TranscriptionLanguage {
    autoDetect,
    english,
    indonesian,
    japanese,
    korean,
    chineseMandarin,
    chineseCantonese,
    french,
    german,
    spanish,
    portuguese,
    arabic,
    russian,
    turkish,
    hindi,
    thai,
    vietnamese,
    dutch,
    italian,
};

const std::array<TranscriptionLanguage, 19>& allTranscriptionLanguages();

// "auto" or a locale identifier such as "en-US".
QString rawValue(TranscriptionLanguage language);
// The language's name in that language, as the picker shows it.
QString displayName(TranscriptionLanguage language);
// "en" for "en-US"; absent for autoDetect.
std::optional<QString> languageCode(TranscriptionLanguage language);
// Exact, case-sensitive match on the raw value.
std::optional<TranscriptionLanguage> transcriptionLanguageFromRawValue(const QString& raw);

} // namespace vocalith
