#pragma once

#include "core/TranscriptSegment.h"
#include "core/TranscriptionEvent.h"
#include "core/TranscriptionLanguage.h"
#include "providers/TranscriptionEngine.h"
#include "transcription/UploadPreparation.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vocalith {

class FileDialogs;
class SaveDialog;
struct SaveDialogChoice;
class KeyStore;
class OnDeviceEngine;
class ProviderEngine;
class ProviderStore;
class SubtitleDocument;
class TranscriptionJob;
class LibraryWriter;
class TranscriptLibrary;
struct StoredTranscript;

// The state of the Transcribe tab: chosen file, choices, progress and result. It
// starts jobs on one of the two engines and applies their events on the main thread.
class TranscriptionViewModel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptionViewModel)

    Q_PROPERTY(QUrl audioFileURL READ audioFileURL WRITE setAudioFileURL NOTIFY audioFileURLChanged)
    Q_PROPERTY(qint64 fileSize READ fileSize WRITE setFileSize NOTIFY fileSizeChanged)
    Q_PROPERTY(bool isTranscribing READ isTranscribing NOTIFY isTranscribingChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QString timeLeft READ timeLeft NOTIFY timeLeftChanged)
    Q_PROPERTY(QString transcribedText READ transcribedText NOTIFY transcribedTextChanged)
    Q_PROPERTY(vocalith::TranscriptionLanguage selectedLanguage READ selectedLanguage WRITE
                   setSelectedLanguage NOTIFY selectedLanguageChanged)
    Q_PROPERTY(bool showSaveDialog READ showSaveDialog WRITE setShowSaveDialog NOTIFY
                   showSaveDialogChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(bool showSuccessBanner READ showSuccessBanner WRITE setShowSuccessBanner NOTIFY
                   showSuccessBannerChanged)
    Q_PROPERTY(std::optional<QString> noticeMessage READ noticeMessage WRITE setNoticeMessage NOTIFY
                   noticeMessageChanged)
    Q_PROPERTY(vocalith::TranscriptionEngine selectedEngine READ selectedEngine WRITE
                   setSelectedEngine NOTIFY selectedEngineChanged)
    Q_PROPERTY(bool showProviderManager READ showProviderManager WRITE setShowProviderManager NOTIFY
                   showProviderManagerChanged)
    Q_PROPERTY(bool canRetry READ canRetry NOTIFY canRetryChanged)

public:
    struct Services {
        std::unique_ptr<ProviderStore> providerStore;
        std::unique_ptr<OnDeviceEngine> onDeviceService;
        std::unique_ptr<ProviderEngine> externalService;
        KeyStore* keyStore = nullptr;
        FileDialogs* dialogs = nullptr;
        // Where finished transcripts are kept; none keeps nothing.
        std::shared_ptr<TranscriptLibrary> library = {};
    };

    explicit TranscriptionViewModel(Services services, QObject* parent = nullptr);

    // The media people transcribe that FFmpeg reads: what the open dialog lists and
    // drops take.
    static const QStringList& mediaExtensions();
    // "NAME.srt" for a job on sourcePath saved in the format at formatIndex (txt, srt,
    // vtt); "transcription.srt" without one.
    static QString proposedFileName(const QString& sourcePath, int formatIndex);
    ~TranscriptionViewModel() override;

    QUrl audioFileURL() const { return m_audioFileURL; }
    qint64 fileSize() const { return m_fileSize; }
    bool isTranscribing() const { return m_isTranscribing; }
    double progress() const { return m_progress; }
    QString statusMessage() const { return m_statusMessage; }
    // "about 2 min left" while the running job can tell, otherwise empty.
    QString timeLeft() const { return m_timeLeft; }
    QString transcribedText() const { return m_transcribedText; }
    TranscriptionLanguage selectedLanguage() const { return m_selectedLanguage; }
    bool showSaveDialog() const { return m_showSaveDialog; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    bool showSuccessBanner() const { return m_showSuccessBanner; }
    // A neutral word about the last job, such as that it was cancelled.
    std::optional<QString> noticeMessage() const { return m_noticeMessage; }
    TranscriptionEngine selectedEngine() const { return m_selectedEngine; }
    bool showProviderManager() const { return m_showProviderManager; }
    // The last provider job failed in a part and was kept: Retry goes on from there.
    bool canRetry() const { return m_canRetry; }

    // Set by the views: pickers, the file card's clear button, the error box, sheets.
    void setAudioFileURL(const QUrl& url);
    void setFileSize(qint64 size);
    void setSelectedLanguage(TranscriptionLanguage language);
    void setShowSaveDialog(bool show);
    void setErrorMessage(const std::optional<QString>& message);
    void setShowSuccessBanner(bool show);
    void setNoticeMessage(const std::optional<QString>& message);
    void setSelectedEngine(const TranscriptionEngine& engine);
    void setShowProviderManager(bool show);

    // The segments of the last successful job: what saving renders.
    const QList<TranscriptSegment>& segments() const { return m_segments; }
    // Segments corrected in review: what the text shows and saving renders from now on.
    void setEditedSegments(const QList<TranscriptSegment>& segments);
    // The recording the segments were made from.
    const QString& jobSourcePath() const { return m_jobSourcePath; }
    ProviderStore& providerStore() const { return *m_providerStore; }
    // The on-device engine first, then one engine per provider in store order.
    QList<TranscriptionEngine> availableEngines() const;

    // Deletes the provider and its key; an engine that used it falls back to on-device.
    void deleteProvider(const CustomProvider& provider);

    // Asked before anything replaces the transcript (another file, a new job, Remove
    // file); false keeps it. The window closes its review there, asking about edits.
    void setReplaceGuard(std::function<bool()> guard) { m_replaceGuard = std::move(guard); }

    // With a handler, the open dialog takes several files and hands them all to it.
    void setFilesHandler(std::function<void(const QStringList&)> handler) {
        m_filesHandler = std::move(handler);
    }
    void openFilePanel();
    // False when the file was not taken (a recording runs, or the user kept the transcript).
    bool loadFile(const QUrl& url);
    // The file card's clear button: no file, no result.
    void removeFile();
    // Asks for an .srt or .vtt file, finds its recording beside it by name or asks for
    // it, and makes the subtitles the tab's transcript, ready for review. False when the
    // user gave up or the file could not be read (the error says why).
    bool openSubtitlesForReview();
    void resetResults();
    // A live recording ended: the recording becomes the tab's file and its words the
    // result, as when a job on it succeeds; error says why it ended early, if it did.
    // Parts the provider failed on are kept for Retry, as a file job's are.
    void finishRecording(const QString& recordingPath, const QList<TranscriptSegment>& segments,
                         const QString& error,
                         const QList<UploadPreparation::Part>& failedParts = {});
    // A microphone is being recorded: files wait until it stops, so none is lost to the
    // recording's result.
    void setRecording(bool recording) { m_recording = recording; }
    // The file is a recording made here, which can be saved beside its transcript.
    bool hasRecording() const { return m_hasRecording; }
    // A recording finished here goes with its transcript (another file, Remove, quit)
    // unless this is called: someone needs it beyond.
    void keepRecording() { m_ownRecording.clear(); }
    // The key to send to a provider, empty for a server on this machine that needs none;
    // absent, with the error shown, when the provider has none.
    std::optional<QString> providerKey(const CustomProvider& provider);
    // Offers to save the recording as FLAC.
    void saveRecording();
    void startTranscription();
    // Stops the running job: the controls unlock at once, the engine stops within half
    // a second, and nothing the job still reports is shown.
    void cancelTranscription();
    // Continues the failed provider job from the part that failed; the parts before it
    // are neither sent nor paid for again.
    void retryTranscription();

    // A transcript from the library becomes the tab's, its recording the file, as if
    // its job had just finished; review edits go back to the library. False when the
    // user kept the tab's transcript or the recording cannot be loaded.
    bool openStoredTranscript(const StoredTranscript& transcript);
    // The tab's result with what the library keeps about it.
    StoredTranscript transcriptForLibrary() const;
    // A finished transcript is still being written to the library.
    bool isKeepingTranscript() const;
    LibraryWriter* libraryWriter() const { return m_libraryWriter.get(); }

    // Offers to save the last result as plain text, SRT, WebVTT or JSON; does nothing without one.
    void saveTranscription();
    // The save dialog's format choice changed: rename the proposed file to match.
    void formatChanged(int formatIndex);

Q_SIGNALS:
    void audioFileURLChanged();
    void fileSizeChanged();
    void isTranscribingChanged();
    void progressChanged();
    void statusMessageChanged();
    void timeLeftChanged();
    void transcribedTextChanged();
    void selectedLanguageChanged();
    void showSaveDialogChanged();
    void errorMessageChanged();
    void showSuccessBannerChanged();
    void noticeMessageChanged();
    void selectedEngineChanged();
    void showProviderManagerChanged();
    void canRetryChanged();
    // A transcript was written to a file.
    void transcriptSaved();
    // The provider list changed, and with it availableEngines().
    void availableEnginesChanged();

private:
    template <typename T>
    void assign(T& field, const T& value, void (TranscriptionViewModel::*changed)());

    void handleEvent(const TranscriptionEvent& event);
    // Where save dialogs open: beside the file, or Documents for a recording.
    QString saveDirectory() const;
    // The file whose name the saved transcript takes: the subtitles under review, or the job's.
    QString savedName() const;
    void finishSave(const std::optional<SaveDialogChoice>& choice);
    StoredTranscript transcriptToSave(int format) const;
    void setIsTranscribing(bool value);
    void setProgress(double value);
    void setStatusMessage(const QString& value);
    void setTimeLeft(const QString& value);
    void setTranscribedText(const QString& value);
    void setCanRetry(bool value);
    // The file, the engine, a provider or the result changed: the kept job is of no use.
    void discardKeptJob();

    std::unique_ptr<ProviderStore> m_providerStore;
    std::unique_ptr<OnDeviceEngine> m_onDeviceService;
    std::unique_ptr<ProviderEngine> m_externalService;
    KeyStore& m_keyStore;
    FileDialogs& m_dialogs;
    std::unique_ptr<TranscriptionJob> m_job; // after the engines it runs on

    QUrl m_audioFileURL;
    qint64 m_fileSize = 0;
    bool m_isTranscribing = false;
    double m_progress = 0.0;
    QString m_statusMessage;
    QString m_timeLeft;
    QString m_transcribedText;
    TranscriptionLanguage m_selectedLanguage = TranscriptionLanguage::autoDetect;
    bool m_showSaveDialog = false;
    std::optional<QString> m_errorMessage;
    bool m_showSuccessBanner = false;
    std::optional<QString> m_noticeMessage;
    bool m_jobOnDevice = true;
    TranscriptionEngine m_selectedEngine = TranscriptionEngine::onDevice();
    bool m_showProviderManager = false;
    bool m_canRetry = false;
    QList<TranscriptSegment> m_segments;
    // Subtitles opened for review, kept as read so saving them changes only what was edited.
    std::unique_ptr<SubtitleDocument> m_subtitles;
    QString m_subtitlePath;
    std::function<bool()> m_replaceGuard;
    std::function<void(const QStringList&)> m_filesHandler;
    std::shared_ptr<SaveDialog> m_activeSavePanel;
    quint64 m_result = 0; // counts the transcripts the tab has shown, so a late save knows its own
    QString m_jobSourcePath;
    bool m_hasRecording = false;
    QString m_ownRecording; // finished here, removed once its transcript is discarded
    bool m_recording = false;
    std::shared_ptr<SaveDialog> m_recordingSavePanel;
    std::unique_ptr<LibraryWriter> m_libraryWriter;
};

} // namespace vocalith
