#include "app/MainWindow.h"
#include "app/QtFileDialogs.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QApplication>
#include <QSettings>

using namespace vocalith;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vocalith"));
    QApplication::setApplicationName(QStringLiteral("Vocalith"));
    QApplication::setDesktopFileName(QStringLiteral("vocalith"));

    KeychainHelper& keys = KeychainHelper::shared();
    QtFileDialogs dialogs;
    TranscriptionViewModel viewModel(
        {std::make_unique<ProviderStore>(keys), std::make_unique<TranscriptionService>(),
         std::make_unique<ExternalTranscriptionService>(), &keys, &dialogs});
    MainWindow window(viewModel, keys, dialogs);
    dialogs.setParent(&window);
    window.resize(720, 760);
    window.show();
    return QApplication::exec();
}
