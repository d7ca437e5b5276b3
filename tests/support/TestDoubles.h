#pragma once

#include "core/FileDialogs.h"
#include "transcription/OnDeviceEngine.h"
#include "transcription/ProviderEngine.h"
#include "transcription/TranscriptionViewModel.h"

#include <QList>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace vocalith::test {

// A save dialog that only remembers the names it was given.
class RecordingSaveDialog final : public SaveDialog {
public:
    void setProposedName(const QString& fileName) override { proposedNames.append(fileName); }
    QStringList proposedNames;
};

// Answers dialogs from a script and remembers what was asked. Save dialogs stay
// "open" until the test calls their finished callback.
class ScriptedFileDialogs final : public FileDialogs {
public:
    struct OpenSaveDialog {
        SaveDialogRequest request;
        std::shared_ptr<RecordingSaveDialog> dialog;
        std::function<void(int)> formatChanged;
        std::function<void(const std::optional<SaveDialogChoice>&)> finished;
    };

    std::optional<QUrl> chooseFileToOpen(const QString& message,
                                         const QStringList& nameFilters) override;
    std::shared_ptr<SaveDialog>
    beginSave(const SaveDialogRequest& request, std::function<void(int)> formatChanged,
              std::function<void(const std::optional<SaveDialogChoice>&)> finished) override;
    bool confirmReplace(const QString& path) override;
    QList<QUrl> chooseFilesToOpen(const QString& message, const QStringList& nameFilters) override {
        if (!manyOpenAnswers.isEmpty())
            return manyOpenAnswers.takeFirst();
        return FileDialogs::chooseFilesToOpen(message, nameFilters);
    }
    std::optional<SaveDialogChoice> chooseSaveFolder(const SaveDialogRequest& request) override {
        folderRequests.append(request);
        return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
    }

    std::optional<QString> chooseFolder(const QString&) override {
        return folderToWatch.isEmpty() ? std::nullopt : std::optional(folderToWatch.takeFirst());
    }

    QStringList folderToWatch;
    QList<QList<QUrl>> manyOpenAnswers;
    QList<SaveDialogRequest> folderRequests;
    QList<std::optional<SaveDialogChoice>> folderAnswers;
    QList<std::optional<QUrl>> openAnswers;
    QStringList openMessages;
    QList<QStringList> openFilters;
    QList<OpenSaveDialog> saveDialogs;
    QList<bool> replaceAnswers; // false once exhausted
    QStringList replaceQuestions;
};

// Records each job; the test then plays the engine's events from a worker thread.
struct RecordedJob {
    QString audioFilePath;
    TranscriptionLanguage language = TranscriptionLanguage::autoDetect;
    std::optional<CustomProvider> provider;
    QString apiKey;
    TranscriptionEventHandler onEvent;

    // Calls the handler with each event, in order, from a thread of its own.
    void emitFromWorkerThread(const QList<TranscriptionEvent>& events) const;
};

class RecordingOnDeviceEngine final : public OnDeviceEngine {
public:
    void transcribe(const QString& audioFilePath, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;
    void cancel() override { ++cancels; }
    QList<RecordedJob> jobs;
    int cancels = 0;
};

// Like the real provider engine, it reports its first progress event on the
// calling thread before returning.
class RecordingProviderEngine final : public ProviderEngine {
public:
    void transcribe(const QString& audioFilePath, const CustomProvider& provider,
                    const QString& apiKey, TranscriptionLanguage language,
                    TranscriptionEventHandler onEvent) override;
    void cancel() override { ++cancels; }
    void keepParts(const QList<UploadPreparation::Part>&, const QList<TranscriptSegment>&,
                   const CustomProvider&, const QString&, TranscriptionLanguage) override {}
    QList<RecordedJob> jobs;
    int cancels = 0;
};

// A transcription controller on a real provider store (settings in a temporary
// directory) and the real keyring, with recording engines and scripted dialogs.
struct TestController {
    QTemporaryDir dir;
    ScriptedFileDialogs dialogs;
    RecordingOnDeviceEngine* onDevice = nullptr;
    RecordingProviderEngine* external = nullptr;
    std::unique_ptr<TranscriptionViewModel> vm;

    // otherDialogs replaces the scripted ones, e.g. with the real Qt dialogs; library
    // keeps what the controller transcribes.
    explicit TestController(FileDialogs* otherDialogs = nullptr,
                            std::shared_ptr<TranscriptLibrary> library = {});
    // Deletes the providers it still holds, and with them their keys.
    ~TestController();

    ProviderStore& store() const;
    // A file of that many bytes in the temporary directory.
    QUrl makeFile(const QString& name, qsizetype bytes = 10) const;
    QUrl makeFile(const QString& name, const QByteArray& contents) const;
};

// JSON written with single quotes, for readable literals in tests.
inline QByteArray json(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

// Writes a whole file, failing the test run if it cannot; gives back the path.
QString writeFile(const QString& path, const QByteArray& contents = {});
// A whole file, or "<missing>".
QByteArray readFile(const QString& path);

// A settings file of its own in a temporary directory.
std::unique_ptr<QSettings> settingsIn(const QTemporaryDir& dir);

} // namespace vocalith::test
