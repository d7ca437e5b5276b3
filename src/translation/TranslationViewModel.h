#pragma once

#include "providers/CustomProvider.h"
#include "translation/TranslationEvent.h"
#include "translation/TranslationService.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

namespace vocalith {

class FileDialogs;
class KeyStore;
class ProviderStore;
struct SaveDialogChoice;

// The state of the Translate tab: input, target language, provider, result. It
// reads input files, starts jobs and applies their events on the main thread.
class TranslationViewModel final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranslationViewModel)

    Q_PROPERTY(QString inputText READ inputText WRITE setInputText NOTIFY inputTextChanged)
    Q_PROPERTY(QUrl inputFileURL READ inputFileURL NOTIFY inputFileURLChanged)
    Q_PROPERTY(vocalith::TranslationService::InputFormat detectedFormat READ detectedFormat NOTIFY
                   detectedFormatChanged)
    Q_PROPERTY(QString targetLanguage READ targetLanguage WRITE setTargetLanguage NOTIFY
                   targetLanguageChanged)
    Q_PROPERTY(std::optional<vocalith::CustomProvider> selectedProvider READ selectedProvider WRITE
                   setSelectedProvider NOTIFY selectedProviderChanged)
    Q_PROPERTY(QString outputText READ outputText NOTIFY outputTextChanged)
    Q_PROPERTY(bool isTranslating READ isTranslating NOTIFY isTranslatingChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(bool showSuccessBanner READ showSuccessBanner WRITE setShowSuccessBanner NOTIFY
                   showSuccessBannerChanged)
    Q_PROPERTY(std::optional<QString> noticeMessage READ noticeMessage WRITE setNoticeMessage NOTIFY
                   noticeMessageChanged)
    Q_PROPERTY(bool canRetry READ canRetry NOTIFY canRetryChanged)
    Q_PROPERTY(
        QString instructions READ instructions WRITE setInstructions NOTIFY instructionsChanged)

public:
    using InputFormat = TranslationService::InputFormat;

    // The languages offered as targets, in picker order.
    static const QStringList& targetLanguages();
    // "NAME_translated.srt" (or .txt) for a job on sourcePath; "translation_..." without one.
    static QString proposedFileName(const QString& sourcePath, InputFormat format);

    TranslationViewModel(KeyStore& keyStore, FileDialogs& dialogs,
                         std::unique_ptr<TranslationService> service = {},
                         QObject* parent = nullptr);
    ~TranslationViewModel() override;

    QString inputText() const { return m_inputText; }
    QUrl inputFileURL() const { return m_inputFileURL; }
    InputFormat detectedFormat() const { return m_detectedFormat; }
    QString targetLanguage() const { return m_targetLanguage; }
    std::optional<CustomProvider> selectedProvider() const { return m_selectedProvider; }
    QString outputText() const { return m_outputText; }
    bool isTranslating() const { return m_isTranslating; }
    double progress() const { return m_progress; }
    QString statusMessage() const { return m_statusMessage; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    bool showSuccessBanner() const { return m_showSuccessBanner; }
    // A neutral word about the last job, such as that it was cancelled.
    std::optional<QString> noticeMessage() const { return m_noticeMessage; }
    // The last subtitle job failed in a batch and was kept: Retry goes on from there.
    bool canRetry() const { return m_canRetry; }
    // Names, terms and tone for the model, sent with every request; never stored.
    QString instructions() const { return m_instructions; }
    // The selected provider's model transcribes speech ("whisper", "transcribe") and
    // is unlikely to answer chat completions.
    bool selectedProviderTranscribesSpeech() const;

    // Set by the tab: the editor, the pickers, the error box and the banner.
    void setInputText(const QString& text);
    void setTargetLanguage(const QString& language);
    void setSelectedProvider(const std::optional<CustomProvider>& provider);
    void setErrorMessage(const std::optional<QString>& message);
    void setShowSuccessBanner(bool show);
    void setNoticeMessage(const std::optional<QString>& message);
    void setInstructions(const QString& instructions);

    // The process's providers, attached by the tab; needed to read an API key.
    ProviderStore* providerStore() const;
    void setProviderStore(ProviderStore* store);

    void openFilePanel();
    void loadFile(const QUrl& url);
    void resetOutput();
    void clearInput();
    void startTranslation();
    // Stops the running job at once; what was translated so far is discarded, since a
    // half-translated subtitle file saved by mistake is worse than none.
    void cancelTranslation();
    // Continues the failed subtitle job from the batch that failed.
    void retryTranslation();
    void saveTranslation();

Q_SIGNALS:
    void inputTextChanged();
    void inputFileURLChanged();
    void detectedFormatChanged();
    void targetLanguageChanged();
    void selectedProviderChanged();
    void outputTextChanged();
    void isTranslatingChanged();
    void progressChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void showSuccessBannerChanged();
    void noticeMessageChanged();
    void canRetryChanged();
    void instructionsChanged();

private:
    template <typename T>
    void assign(T& field, const T& value, void (TranslationViewModel::*changed)());

    // An event tagged with the job it belongs to; events of a cancelled job are dropped.
    struct JobEvent {
        quint64 job = 0;
        TranslationEvent event;
    };
    void handleJobEvent(const JobEvent& event);
    void handleEvent(const TranslationEvent& event);
    void finishSave(const std::optional<SaveDialogChoice>& choice);
    void setInputFileURL(const QUrl& url);
    void setDetectedFormat(InputFormat format);
    void setOutputText(const QString& text);
    void setIsTranslating(bool value);
    void setProgress(double value);
    void setStatusMessage(const QString& message);
    void setCanRetry(bool value);
    // The input, the provider, the language or the result changed: the kept job is of no
    // use any more.
    void discardKeptJob();

    KeyStore& m_keyStore;
    FileDialogs& m_dialogs;
    std::unique_ptr<TranslationService> m_service;
    QPointer<ProviderStore> m_providerStore;

    QString m_inputText;
    QUrl m_inputFileURL;
    InputFormat m_detectedFormat = InputFormat::plainText;
    QString m_targetLanguage = QStringLiteral("Indonesian");
    std::optional<CustomProvider> m_selectedProvider;
    QString m_outputText;
    QUrl m_jobSourceURL;
    InputFormat m_jobFormat = InputFormat::plainText;
    QString m_jobTargetLanguage;
    bool m_isTranslating = false;
    double m_progress = 0.0;
    QString m_statusMessage;
    std::optional<QString> m_errorMessage;
    bool m_showSuccessBanner = false;
    std::optional<QString> m_noticeMessage;
    bool m_canRetry = false;
    QString m_instructions;
    quint64 m_job = 0;
};

} // namespace vocalith
