#include "TranscriptionLanguage.h"

#include <algorithm>

namespace vocalith {

namespace {

struct LanguageInfo {
    const char* rawValue;
    const char* displayName; // UTF-8
};

constexpr std::array<LanguageInfo, 19> languageTable = {{
    {"auto", "Auto Detect"},
    {"en-US", "English (US)"},
    {"id-ID", "Bahasa Indonesia"},
    {"ja-JP", "日本語"},
    {"ko-KR", "한국어"},
    {"zh-CN", "中文 (Mandarin)"},
    {"zh-HK", "中文 (Cantonese)"},
    {"fr-FR", "Français"},
    {"de-DE", "Deutsch"},
    {"es-ES", "Español"},
    {"pt-BR", "Português (BR)"},
    {"ar-SA", "العربية"},
    {"ru-RU", "Русский"},
    {"tr-TR", "Türkçe"},
    {"hi-IN", "हिन्दी"},
    {"th-TH", "ไทย"},
    {"vi-VN", "Tiếng Việt"},
    {"nl-NL", "Nederlands"},
    {"it-IT", "Italiano"},
}};

const LanguageInfo& info(TranscriptionLanguage language) {
    return languageTable.at(static_cast<size_t>(language));
}

} // namespace

const std::array<TranscriptionLanguage, 19>& allTranscriptionLanguages() {
    static const std::array<TranscriptionLanguage, 19> all = [] {
        std::array<TranscriptionLanguage, 19> languages{};
        for (size_t i = 0; i < languages.size(); ++i)
            languages[i] = static_cast<TranscriptionLanguage>(i);
        return languages;
    }();
    return all;
}

QString rawValue(TranscriptionLanguage language) {
    return QString::fromLatin1(info(language).rawValue);
}

QString displayName(TranscriptionLanguage language) {
    return QString::fromUtf8(info(language).displayName);
}

std::optional<QString> languageCode(TranscriptionLanguage language) {
    if (language == TranscriptionLanguage::autoDetect)
        return std::nullopt;
    const QString raw = rawValue(language);
    return raw.left(raw.indexOf(QLatin1Char('-')));
}

std::optional<TranscriptionLanguage> transcriptionLanguageFromRawValue(const QString& raw) {
    const auto& all = allTranscriptionLanguages();
    const auto it = std::find_if(all.begin(), all.end(), [&](TranscriptionLanguage language) {
        return raw == QLatin1String(info(language).rawValue);
    });
    if (it == all.end())
        return std::nullopt;
    return *it;
}

} // namespace vocalith
