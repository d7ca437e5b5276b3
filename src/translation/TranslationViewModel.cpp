#include "TranslationViewModel.h"

#include "core/FileDialogs.h"
#include "core/QueuedEventHandler.h"
#include "core/TextFiles.h"
#include "core/TextTrimming.h"
#include "providers/KeyStore.h"
#include "providers/ProviderHttp.h"
#include "providers/ProviderStore.h"
#include "subtitles/BroadcastLayout.h"
#include "subtitles/LineBreaking.h"
#include "subtitles/SubtitleChecker.h"

#include <QFile>
#include <QFileInfo>

namespace vocalith {

const QStringList& TranslationViewModel::targetLanguages() {
    static const QStringList languages{QStringLiteral("Indonesian"),
                                       QStringLiteral("English"),
                                       QStringLiteral("Japanese"),
                                       QStringLiteral("Korean"),
                                       QStringLiteral("Chinese (Simplified)"),
                                       QStringLiteral("French"),
                                       QStringLiteral("German"),
                                       QStringLiteral("Spanish"),
                                       QStringLiteral("Portuguese"),
                                       QStringLiteral("Arabic"),
                                       QStringLiteral("Russian"),
                                       QStringLiteral("Thai"),
                                       QStringLiteral("Vietnamese")};
    return languages;
}

TranslationViewModel::TranslationViewModel(KeyStore& keyStore, FileDialogs& dialogs,
                                           std::unique_ptr<TranslationService> service,
                                           QObject* parent)
    : QObject(parent)
    , m_keyStore(keyStore)
    , m_dialogs(dialogs)
    , m_service(service ? std::move(service) : std::make_unique<TranslationService>()) {
}

TranslationViewModel::~TranslationViewModel() = default;

template <typename T>
void TranslationViewModel::assign(T& field, const T& value,
                                  void (TranslationViewModel::*changed)()) {
    if (field == value)
        return;
    field = value;
    Q_EMIT(this->*changed)();
}

void TranslationViewModel::setInputText(const QString& text) {
    if (text != m_inputText)
        discardKeptJob();
    assign(m_inputText, text, &TranslationViewModel::inputTextChanged);
}

void TranslationViewModel::setTargetLanguage(const QString& language) {
    if (language != m_targetLanguage)
        discardKeptJob();
    assign(m_targetLanguage, language, &TranslationViewModel::targetLanguageChanged);
}

void TranslationViewModel::setSelectedProvider(const std::optional<CustomProvider>& provider) {
    if (provider != m_selectedProvider)
        discardKeptJob();
    assign(m_selectedProvider, provider, &TranslationViewModel::selectedProviderChanged);
}

void TranslationViewModel::setInstructions(const QString& instructions) {
    if (instructions != m_instructions)
        discardKeptJob(); // the batches still to send would be asked for otherwise
    assign(m_instructions, instructions, &TranslationViewModel::instructionsChanged);
}

void TranslationViewModel::setCanRetry(bool value) {
    assign(m_canRetry, value, &TranslationViewModel::canRetryChanged);
}

void TranslationViewModel::discardKeptJob() {
    m_service->discardKeptJob();
    setCanRetry(false);
}

void TranslationViewModel::setErrorMessage(const std::optional<QString>& message) {
    assign(m_errorMessage, message, &TranslationViewModel::errorMessageChanged);
}

void TranslationViewModel::setShowSuccessBanner(bool show) {
    assign(m_showSuccessBanner, show, &TranslationViewModel::showSuccessBannerChanged);
}

void TranslationViewModel::setNoticeMessage(const std::optional<QString>& message) {
    assign(m_noticeMessage, message, &TranslationViewModel::noticeMessageChanged);
}

void TranslationViewModel::setInputFileURL(const QUrl& url) {
    assign(m_inputFileURL, url, &TranslationViewModel::inputFileURLChanged);
}

void TranslationViewModel::setDetectedFormat(InputFormat format) {
    assign(m_detectedFormat, format, &TranslationViewModel::detectedFormatChanged);
}

void TranslationViewModel::setOutputText(const QString& text) {
    assign(m_outputText, text, &TranslationViewModel::outputTextChanged);
}

void TranslationViewModel::setIsTranslating(bool value) {
    assign(m_isTranslating, value, &TranslationViewModel::isTranslatingChanged);
}

void TranslationViewModel::setProgress(double value) {
    assign(m_progress, value, &TranslationViewModel::progressChanged);
}

void TranslationViewModel::setStatusMessage(const QString& message) {
    assign(m_statusMessage, message, &TranslationViewModel::statusMessageChanged);
}

bool TranslationViewModel::selectedProviderTranscribesSpeech() const {
    if (!m_selectedProvider)
        return false;
    const QString& model = m_selectedProvider->model;
    return model.contains(QLatin1String("whisper"), Qt::CaseInsensitive) ||
           model.contains(QLatin1String("transcribe"), Qt::CaseInsensitive);
}

ProviderStore* TranslationViewModel::providerStore() const {
    return m_providerStore;
}

void TranslationViewModel::setProviderStore(ProviderStore* store) {
    m_providerStore = store;
}

void TranslationViewModel::openFilePanel() {
    const std::optional<QUrl> url =
        m_dialogs.chooseFileToOpen(QStringLiteral("Select a .txt or .srt file to translate"),
                                   {QStringLiteral("Text and subtitles (*.txt *.srt)")});
    if (url && !url->isEmpty())
        loadFile(*url);
}

void TranslationViewModel::loadFile(const QUrl& url) {
    QFile file(url.toLocalFile());
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    // A whole-buffer check: a streaming decoder would hold back a cut-off last character.
    if (file.error() != QFileDevice::NoError || !QUtf8StringView(bytes).isValidUtf8()) {
        setErrorMessage(QStringLiteral("Could not read the file."));
        return;
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF))) // a byte-order mark is not part of the text
        text.remove(0, 1);
    setInputFileURL(url);
    setInputText(text);
    setDetectedFormat(TranslationService::detectFormat(url.toLocalFile()));
    setErrorMessage(std::nullopt);
    resetOutput();
}

void TranslationViewModel::resetOutput() {
    discardKeptJob();
    setOutputText({});
    setProgress(0.0);
    setStatusMessage({});
    setErrorMessage(std::nullopt);
    setShowSuccessBanner(false);
    setNoticeMessage(std::nullopt);
}

void TranslationViewModel::clearInput() {
    setInputText({});
    setInputFileURL({});
    setDetectedFormat(InputFormat::plainText);
    resetOutput();
}

void TranslationViewModel::startTranslation() {
    // One outcome at a time: a new attempt hides the last one's banner.
    setShowSuccessBanner(false);
    if (trimmedWhiteSpaceAndLineBreaks(m_inputText).isEmpty()) {
        setErrorMessage(QStringLiteral("Input text is empty."));
        return;
    }
    if (!m_selectedProvider) {
        setErrorMessage(QStringLiteral("Please select a provider for translation."));
        return;
    }
    const CustomProvider provider = *m_selectedProvider;
    const std::optional<QString> key =
        m_providerStore ? m_keyStore.loadKey(provider.idText()) : std::nullopt;
    if ((!m_providerStore || !key || key->isEmpty()) &&
        !ProviderHttp::isLocalServer(provider.baseURL)) {
        setErrorMessage(QStringLiteral("No API key found for ") + provider.name + QLatin1Char('.'));
        return;
    }

    setIsTranslating(true);
    resetOutput();
    setStatusMessage(QStringLiteral("Starting translation..."));
    // Saved under this input's name and format even if another file is loaded meanwhile.
    m_jobSourceURL = m_inputFileURL;
    m_jobFormat = m_detectedFormat;
    m_jobTargetLanguage = m_targetLanguage;
    const auto apply = queuedEventHandler(this, &TranslationViewModel::handleJobEvent);
    TranslationEventHandler onEvent = [apply, job = ++m_job](const TranslationEvent& event) {
        apply(JobEvent{job, event});
    };
    const QString apiKey = key.value_or(QString());
    if (m_detectedFormat == InputFormat::srt)
        m_service->translateSRT(m_inputText, m_targetLanguage, provider, apiKey, std::move(onEvent),
                                m_instructions);
    else
        m_service->translatePlainText(m_inputText, m_targetLanguage, provider, apiKey,
                                      std::move(onEvent), m_instructions);
}

void TranslationViewModel::retryTranslation() {
    if (!m_canRetry || m_isTranslating)
        return;
    setCanRetry(false);
    const auto apply = queuedEventHandler(this, &TranslationViewModel::handleJobEvent);
    TranslationEventHandler onEvent = [apply, job = ++m_job](const TranslationEvent& event) {
        apply(JobEvent{job, event});
    };
    setErrorMessage(std::nullopt);
    setIsTranslating(true);
    if (!m_service->resume(std::move(onEvent))) { // gone meanwhile: start afresh
        setIsTranslating(false);
        startTranslation();
    }
}

void TranslationViewModel::cancelTranslation() {
    if (!m_isTranslating)
        return;
    ++m_job; // whatever the job still reports is not shown
    m_service->cancel();
    setIsTranslating(false);
    resetOutput();
    setNoticeMessage(QStringLiteral("Translation was cancelled."));
}

void TranslationViewModel::handleJobEvent(const JobEvent& event) {
    if (event.job == m_job)
        handleEvent(event.event);
}

void TranslationViewModel::handleEvent(const TranslationEvent& event) {
    if (const auto* progress = std::get_if<TranslationEvent::Progress>(&event.value)) {
        setProgress(progress->fraction);
        setStatusMessage(progress->message);
    } else if (const auto* success = std::get_if<TranslationEvent::Success>(&event.value)) {
        setOutputText(success->text);
        setProgress(1.0);
        setStatusMessage(QStringLiteral("Translation complete"));
        setIsTranslating(false);
        setShowSuccessBanner(true);
    } else if (const auto* failure = std::get_if<TranslationEvent::Failure>(&event.value)) {
        setErrorMessage(failure->error.description);
        setStatusMessage(QStringLiteral("Translation failed"));
        setIsTranslating(false);
        setProgress(0.0);
        setCanRetry(m_service->hasKeptJob());
    }
}

QString TranslationViewModel::proposedFileName(const QString& sourcePath, InputFormat format) {
    const QString baseName = sourcePath.isEmpty() ? QStringLiteral("translation")
                                                  : QFileInfo(sourcePath).completeBaseName();
    return baseName + QStringLiteral("_translated.") +
           (format == InputFormat::srt ? QLatin1String("srt") : QLatin1String("txt"));
}

void TranslationViewModel::saveTranslation() {
    if (m_outputText.isEmpty())
        return;
    const bool srt = m_jobFormat == InputFormat::srt;
    const QString source = m_jobSourceURL.toLocalFile();
    SaveDialogRequest request;
    request.message = QStringLiteral("Save translated file");
    if (!source.isEmpty())
        request.directory = QFileInfo(source).absolutePath();
    request.proposedName = proposedFileName(source, m_jobFormat);
    request.formats = {srt ? QStringLiteral("Subtitles (.srt)")
                           : QStringLiteral("Plain Text (.txt)")};
    if (srt)
        request.layouts = subtitleLayouts();

    const QPointer<TranslationViewModel> guard(this);
    m_dialogs.beginSave(
        request, [](int) {},
        [guard](const std::optional<SaveDialogChoice>& choice) {
            if (guard)
                guard->finishSave(choice);
        });
}

void TranslationViewModel::finishSave(const std::optional<SaveDialogChoice>& choice) {
    if (!choice || choice->path.isEmpty())
        return;
    QString path = choice->path;
    if (QFileInfo(path).suffix().isEmpty()) {
        path += m_jobFormat == InputFormat::srt ? QLatin1String(".srt") : QLatin1String(".txt");
        // The dialog asked about the name the user typed, not about this one.
        if (QFileInfo::exists(path) && !m_dialogs.confirmReplace(path))
            return;
    }
    // Broadcast lines: each block re-broken; numbers and times are the original's.
    const bool broadcast = choice->layoutIndex == 1 && m_jobFormat == InputFormat::srt;
    const QString content =
        broadcast ? BroadcastLayout::rewrapSrt(
                        m_outputText, LineBreaking::codeForLanguageName(m_jobTargetLanguage))
                  : m_outputText;
    if (const std::optional<QString> failure = TextFiles::save(path, content))
        return setErrorMessage(*failure);
    if (broadcast)
        setNoticeMessage(SubtitleChecker::savedNotice(content));
}

} // namespace vocalith
