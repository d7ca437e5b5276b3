#pragma once

#include "core/FileDialogs.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QSettings>

#include <memory>

namespace vocalith::bench {

// The window's controller with the real engines, its providers in a settings file of its own.
inline std::unique_ptr<TranscriptionViewModel> makeViewModel(FileDialogs& dialogs,
                                                             const QString& settings) {
    return std::make_unique<TranscriptionViewModel>(TranscriptionViewModel::Services{
        std::make_unique<ProviderStore>(
            KeychainHelper::shared(), std::make_unique<QSettings>(settings, QSettings::IniFormat)),
        std::make_unique<TranscriptionService>(), std::make_unique<ExternalTranscriptionService>(),
        &KeychainHelper::shared(), &dialogs});
}

} // namespace vocalith::bench
