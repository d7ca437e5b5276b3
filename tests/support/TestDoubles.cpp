#include "TestDoubles.h"

#include "providers/KeychainHelper.h"
#include "providers/ProviderStore.h"

#include <QFile>

#include <thread>

namespace vocalith::test {

std::optional<QUrl> ScriptedFileDialogs::chooseFileToOpen(const QString& message,
                                                          const QStringList& nameFilters) {
    openMessages.append(message);
    openFilters.append(nameFilters);
    return openAnswers.isEmpty() ? std::nullopt : openAnswers.takeFirst();
}

std::shared_ptr<SaveDialog> ScriptedFileDialogs::beginSave(
    const SaveDialogRequest& request, std::function<void(int)> formatChanged,
    std::function<void(const std::optional<SaveDialogChoice>&)> finished) {
    auto dialog = std::make_shared<RecordingSaveDialog>();
    saveDialogs.append({request, dialog, std::move(formatChanged), std::move(finished)});
    return dialog;
}

bool ScriptedFileDialogs::confirmReplace(const QString& path) {
    replaceQuestions.append(path);
    return !replaceAnswers.isEmpty() && replaceAnswers.takeFirst();
}

void RecordedJob::emitFromWorkerThread(const QList<TranscriptionEvent>& events) const {
    std::thread worker([this, events] {
        for (const TranscriptionEvent& event : events)
            onEvent(event);
    });
    worker.join();
}

void RecordingOnDeviceEngine::transcribe(const QString& audioFilePath,
                                         TranscriptionLanguage language,
                                         TranscriptionEventHandler onEvent) {
    jobs.append({audioFilePath, language, std::nullopt, {}, std::move(onEvent)});
}

void RecordingProviderEngine::transcribe(const QString& audioFilePath,
                                         const CustomProvider& provider, const QString& apiKey,
                                         TranscriptionLanguage language,
                                         TranscriptionEventHandler onEvent) {
    onEvent(TranscriptionEvent::progress(0.05, QStringLiteral("Preparing upload to ") +
                                                   provider.name + QStringLiteral("...")));
    jobs.append({audioFilePath, language, provider, apiKey, std::move(onEvent)});
}

std::unique_ptr<QSettings> settingsIn(const QTemporaryDir& dir) {
    return std::make_unique<QSettings>(dir.filePath(QStringLiteral("Vocalith.conf")),
                                       QSettings::IniFormat);
}

TestController::TestController(FileDialogs* otherDialogs,
                               std::shared_ptr<TranscriptLibrary> library) {
    auto onDeviceEngine = std::make_unique<RecordingOnDeviceEngine>();
    auto externalEngine = std::make_unique<RecordingProviderEngine>();
    onDevice = onDeviceEngine.get();
    external = externalEngine.get();
    vm = std::make_unique<TranscriptionViewModel>(TranscriptionViewModel::Services{
        std::make_unique<ProviderStore>(KeychainHelper::shared(), settingsIn(dir)),
        std::move(onDeviceEngine), std::move(externalEngine), &KeychainHelper::shared(),
        otherDialogs ? otherDialogs : &dialogs, std::move(library)});
}

TestController::~TestController() {
    if (!vm) // a test may let the controller go first
        return;
    while (!store().providers().isEmpty())
        store().deleteProvider(store().providers().first());
}

ProviderStore& TestController::store() const {
    return vm->providerStore();
}

QUrl TestController::makeFile(const QString& name, qsizetype bytes) const {
    return makeFile(name, QByteArray(bytes, 'x'));
}

QUrl TestController::makeFile(const QString& name, const QByteArray& contents) const {
    return QUrl::fromLocalFile(writeFile(dir.filePath(name), contents));
}

QString writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace vocalith::test
