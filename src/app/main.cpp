#include "app/AccessibleScrollArea.h"
#include "app/InstanceChannel.h"
#include "app/MainWindow.h"
#include "app/QtFileDialogs.h"
#include "cli/CommandLine.h"
#include "cli/CommandRunner.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QSettings>

using namespace vocalith;

namespace {

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Vocalith"));
    QCoreApplication::setApplicationName(QStringLiteral("Vocalith"));
}

QStringList arguments(int argc, char* argv[]) {
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

} // namespace

int main(int argc, char* argv[]) {
    // Commands need no display, so they never start the GUI.
    if (CommandLine::isCommand(arguments(argc, argv))) {
        QCoreApplication app(argc, argv);
        nameApplication();
        return CommandRunner::main(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    installAccessibleScrollAreas(); // before any widget has an interface
    nameApplication();
    QApplication::setDesktopFileName(QStringLiteral("vocalith"));
    QStringList files;
    for (const QString& argument : QApplication::arguments().mid(1))
        files.append(QFileInfo(argument).absoluteFilePath());
    if (InstanceChannel::handOver(files))
        return 0;
    InstanceChannel channel;
    if (!channel.listen() && InstanceChannel::handOver(files))
        return 0;

    KeychainHelper& keys = KeychainHelper::shared();
    QtFileDialogs dialogs;
    // One library for the tab that fills it and the Library window that searches it.
    std::shared_ptr<TranscriptLibrary> library;
    if (TranscriptLibrary::isEnabled())
        library = std::make_shared<TranscriptLibrary>();
    TranscriptionViewModel viewModel(
        {std::make_unique<ProviderStore>(keys), std::make_unique<TranscriptionService>(),
         std::make_unique<ExternalTranscriptionService>(), &keys, &dialogs, std::move(library)});
    MainWindow window(viewModel, keys, dialogs);
    dialogs.setParent(&window);
    QObject::connect(&channel, &InstanceChannel::filesReceived, &window, &MainWindow::openFiles);
    // A small screen gets a window that fits it, down to the window's own minimum.
    QSize size(720, 760);
    if (const QScreen* screen = window.screen())
        size = size.boundedTo(screen->availableGeometry().size());
    window.resize(size);
    window.show();
    window.openFiles(files);
    return QApplication::exec();
}
