#include "TranscriptionViewModel.h"

#include "core/FileDialogs.h"
#include "core/TextFiles.h"
#include "core/TimeLeft.h"
#include "core/TranscriptRendering.h"
#include "library/TranscriptLibrary.h"
#include "providers/KeyStore.h"
#include "providers/ProviderStore.h"
#include "subtitles/BroadcastLayout.h"
#include "subtitles/SubtitleChecker.h"
#include "subtitles/SubtitleDocument.h"
#include "transcription/LibraryWriter.h"
#include "transcription/MediaInput.h"
#include "transcription/OnDeviceEngine.h"
#include "transcription/ProviderEngine.h"
#include "transcription/TranscriptFormats.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionJob.h"
#include "transcription/TranscriptionService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QStringDecoder>

#include <array>
#include <filesystem>

namespace vocalith {

TranscriptionViewModel::TranscriptionViewModel(Services services, QObject* parent)
    : QObject(parent)
    , m_providerStore(std::move(services.providerStore))
    , m_onDeviceService(std::move(services.onDeviceService))
    , m_externalService(std::move(services.externalService))
    , m_keyStore(*services.keyStore)
    , m_dialogs(*services.dialogs) {
    Q_ASSERT(m_providerStore && m_onDeviceService && m_externalService);
    m_job = std::make_unique<TranscriptionJob>(
        m_onDeviceService.get(), m_externalService.get(), m_keyStore,
        [this](const TranscriptionEvent& event) { handleEvent(event); });
    if (services.library) {
        if (!services.library->notice().isEmpty())
            setNoticeMessage(services.library->notice());
        m_libraryWriter = std::make_unique<LibraryWriter>(std::move(services.library));
        connect(m_libraryWriter.get(), &LibraryWriter::failed, this,
                [this](const QString& message) { setErrorMessage(message); });
    }
    connect(m_providerStore.get(), &ProviderStore::providersChanged, this, [this] {
        discardKeptJob(); // its provider may have changed
        Q_EMIT availableEnginesChanged();
    });
}

TranscriptionViewModel::~TranscriptionViewModel() {
    if (!m_ownRecording.isEmpty())
        QFile::remove(m_ownRecording);
}

template <typename T>
void TranscriptionViewModel::assign(T& field, const T& value,
                                    void (TranscriptionViewModel::*changed)()) {
    if (field == value)
        return;
    field = value;
    Q_EMIT(this->*changed)();
}

void TranscriptionViewModel::setAudioFileURL(const QUrl& url) {
    // Someone's voice, about 2 MB a minute, in the cache: what nobody kept goes.
    if (!m_ownRecording.isEmpty() && url.toLocalFile() != m_ownRecording)
        QFile::remove(std::exchange(m_ownRecording, {}));
    assign(m_audioFileURL, url, &TranscriptionViewModel::audioFileURLChanged);
}

void TranscriptionViewModel::setFileSize(qint64 size) {
    assign(m_fileSize, size, &TranscriptionViewModel::fileSizeChanged);
}

void TranscriptionViewModel::setSelectedLanguage(TranscriptionLanguage language) {
    assign(m_selectedLanguage, language, &TranscriptionViewModel::selectedLanguageChanged);
}

void TranscriptionViewModel::setShowSaveDialog(bool show) {
    assign(m_showSaveDialog, show, &TranscriptionViewModel::showSaveDialogChanged);
}

void TranscriptionViewModel::setErrorMessage(const std::optional<QString>& message) {
    assign(m_errorMessage, message, &TranscriptionViewModel::errorMessageChanged);
}

void TranscriptionViewModel::setShowSuccessBanner(bool show) {
    assign(m_showSuccessBanner, show, &TranscriptionViewModel::showSuccessBannerChanged);
}

void TranscriptionViewModel::setNoticeMessage(const std::optional<QString>& message) {
    assign(m_noticeMessage, message, &TranscriptionViewModel::noticeMessageChanged);
}

void TranscriptionViewModel::setSelectedEngine(const TranscriptionEngine& engine) {
    if (engine == m_selectedEngine)
        return;
    discardKeptJob();
    assign(m_selectedEngine, engine, &TranscriptionViewModel::selectedEngineChanged);
}

void TranscriptionViewModel::setCanRetry(bool value) {
    assign(m_canRetry, value, &TranscriptionViewModel::canRetryChanged);
}

void TranscriptionViewModel::discardKeptJob() {
    m_externalService->discardKeptJob();
    setCanRetry(false);
}

void TranscriptionViewModel::setShowProviderManager(bool show) {
    assign(m_showProviderManager, show, &TranscriptionViewModel::showProviderManagerChanged);
}

void TranscriptionViewModel::setIsTranscribing(bool value) {
    assign(m_isTranscribing, value, &TranscriptionViewModel::isTranscribingChanged);
}

void TranscriptionViewModel::setProgress(double value) {
    assign(m_progress, value, &TranscriptionViewModel::progressChanged);
}

void TranscriptionViewModel::setStatusMessage(const QString& value) {
    assign(m_statusMessage, value, &TranscriptionViewModel::statusMessageChanged);
}

void TranscriptionViewModel::setTimeLeft(const QString& value) {
    assign(m_timeLeft, value, &TranscriptionViewModel::timeLeftChanged);
}

void TranscriptionViewModel::setTranscribedText(const QString& value) {
    assign(m_transcribedText, value, &TranscriptionViewModel::transcribedTextChanged);
}

QList<TranscriptionEngine> TranscriptionViewModel::availableEngines() const {
    QList<TranscriptionEngine> engines{TranscriptionEngine::onDevice()};
    for (const CustomProvider& provider : m_providerStore->providers())
        engines.append(TranscriptionEngine::custom(provider));
    return engines;
}

void TranscriptionViewModel::deleteProvider(const CustomProvider& provider) {
    const CustomProvider deleted = provider; // the argument may live in the store's list
    m_providerStore->deleteProvider(deleted);
    const std::optional<CustomProvider>& selected = m_selectedEngine.provider();
    if (selected && selected->id == deleted.id)
        setSelectedEngine(TranscriptionEngine::onDevice());
}

const QStringList& TranscriptionViewModel::mediaExtensions() {
    static const QStringList extensions =
        QStringLiteral("mp3 m4a aac wav flac ogg oga opus webm mp4 m4v mov mkv avi mpeg mpga wma")
            .split(QLatin1Char(' '));
    return extensions;
}

void TranscriptionViewModel::openFilePanel() {
    if (m_recording)
        return setNoticeMessage(QStringLiteral("Files can be opened once the recording stops."));
    const QString patterns = QStringLiteral("*.") + mediaExtensions().join(QStringLiteral(" *."));
    const QStringList filters{QStringLiteral("Audio and video files (") + patterns +
                                  QLatin1Char(')'),
                              QStringLiteral("MP3 Audio (*.mp3)")};
    const QString message = QStringLiteral("Select an MP3 file to transcribe");
    if (!m_filesHandler) {
        const std::optional<QUrl> url = m_dialogs.chooseFileToOpen(message, filters);
        if (url && !url->isEmpty())
            loadFile(*url);
        return;
    }
    QStringList paths;
    for (const QUrl& url : m_dialogs.chooseFilesToOpen(message, filters)) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (!paths.isEmpty())
        m_filesHandler(paths);
}

bool TranscriptionViewModel::loadFile(const QUrl& url) {
    if (m_recording) {
        setNoticeMessage(QStringLiteral("Files can be opened once the recording stops."));
        return false;
    }
    if (m_replaceGuard && !m_replaceGuard())
        return false;
    const QFileInfo info(url.toLocalFile());
    m_hasRecording =
        info.absolutePath() == QDir(TranscriptionService::recordingsDirectory()).absolutePath();
    setAudioFileURL(url);
    setFileSize(info.exists() ? info.size() : 0);
    resetResults();
    return true;
}

void TranscriptionViewModel::removeFile() {
    if (m_replaceGuard && !m_replaceGuard())
        return;
    setAudioFileURL({});
    setFileSize(0);
    resetResults();
}

void TranscriptionViewModel::finishRecording(const QString& recordingPath,
                                             const QList<TranscriptSegment>& segments,
                                             const QString& error,
                                             const QList<UploadPreparation::Part>& failedParts) {
    m_recording = false;
    if (!loadFile(QUrl::fromLocalFile(recordingPath)))
        return;
    m_jobSourcePath = recordingPath;
    // Only a recording fully transcribed may go with its transcript: one that ended in
    // an error or kept failed parts is all there is to try again from.
    if (error.isEmpty() && failedParts.isEmpty() && !segments.isEmpty())
        m_ownRecording = recordingPath;
    if (!failedParts.isEmpty()) {
        const CustomProvider provider = m_selectedEngine.provider().value_or(CustomProvider());
        m_externalService->keepParts(failedParts, segments, provider,
                                     m_keyStore.loadKey(provider.idText()).value_or(QString()),
                                     m_selectedLanguage);
    }
    m_jobOnDevice = !m_externalService->hasKeptJob();
    handleEvent(segments.isEmpty() ? TranscriptionEvent::failure(
                                         TranscriptionError::noSpeechDetected().toEngineError())
                                   : TranscriptionEvent::success(segments));
    if (!error.isEmpty())
        setErrorMessage(error);
    setCanRetry(!m_jobOnDevice);
}

void TranscriptionViewModel::saveRecording() {
    if (!m_hasRecording)
        return;
    const QString source = m_jobSourcePath;
    const QFileInfo info(source);
    m_recordingSavePanel = m_dialogs.beginSave(
        {QStringLiteral("Save the recording"),
         info.fileName(),
         saveDirectory(),
         {QStringLiteral("FLAC Audio (.flac)")},
         {}},
        [](int) {},
        [this, source](const std::optional<SaveDialogChoice>& choice) {
            m_recordingSavePanel.reset();
            if (!choice)
                return;
            // Copied beside the target first, so a failed copy leaves no half file.
            const QString partial = choice->path + QStringLiteral(".partial");
            QFile::remove(partial);
            std::error_code error;
            if (!QFile::copy(source, partial) ||
                (std::filesystem::rename(partial.toStdString(), choice->path.toStdString(), error),
                 error)) {
                QFile::remove(partial);
                setErrorMessage(
                    QStringLiteral("The recording could not be saved to %1.").arg(choice->path));
            }
        });
}

bool TranscriptionViewModel::openSubtitlesForReview() {
    if (m_isTranscribing) {
        setNoticeMessage(QStringLiteral("Subtitles can be reviewed once the transcription ends."));
        return false;
    }
    if (m_recording) {
        setNoticeMessage(QStringLiteral("Files can be opened once the recording stops."));
        return false;
    }
    const std::optional<QUrl> chosen = m_dialogs.chooseFileToOpen(
        QStringLiteral("Select subtitles to review"), {QStringLiteral("Subtitles (*.srt *.vtt)")});
    if (!chosen || chosen->isEmpty())
        return false;
    const QString subtitlePath = chosen->toLocalFile();
    QFile file(subtitlePath);
    QString error;
    QString text;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
    } else {
        // Saving writes back what was read, byte order mark included, so a file that is
        // not UTF-8 is left alone.
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        text = decoder(file.readAll());
        if (decoder.hasError())
            error = QStringLiteral("Not a UTF-8 text file.");
    }
    if (!error.isEmpty() || !SubtitleChecker::parse(text, error)) {
        setErrorMessage(
            QStringLiteral("Cannot review %1: %2").arg(QFileInfo(subtitlePath).fileName(), error));
        return false;
    }

    // The recording beside the subtitles, "talk.mp3" for "talk.srt" or "talk.en.srt".
    const QFileInfo info(subtitlePath);
    QString recording;
    for (const QString& base : {info.completeBaseName(), info.baseName()}) {
        for (const QString& extension : mediaExtensions()) {
            const QString candidate = info.dir().filePath(base + QLatin1Char('.') + extension);
            if (recording.isEmpty() && QFileInfo(candidate).isFile())
                recording = candidate;
        }
    }
    if (recording.isEmpty()) {
        const QString patterns =
            QStringLiteral("*.") + mediaExtensions().join(QStringLiteral(" *."));
        const std::optional<QUrl> media = m_dialogs.chooseFileToOpen(
            QStringLiteral("Select the recording of these subtitles"),
            {QStringLiteral("Audio and video files (") + patterns + QLatin1Char(')')});
        if (!media || media->isEmpty())
            return false;
        recording = media->toLocalFile();
    }

    if (!loadFile(QUrl::fromLocalFile(recording)))
        return false;
    m_jobSourcePath = recording;
    m_subtitles = std::make_unique<SubtitleDocument>(SubtitleDocument::read(text));
    m_subtitlePath = subtitlePath;
    setEditedSegments(m_subtitles->rows());
    // Nothing is dropped, but the user hears of what is not shown.
    const auto& blocks = m_subtitles->blocks();
    const auto unreadable = std::count_if(blocks.cbegin(), blocks.cend(), [](const auto& block) {
        return block.kind == SubtitleDocument::Kind::Unreadable;
    });
    if (unreadable == 1)
        setNoticeMessage(
            QStringLiteral("1 block of %1 could not be read; saving keeps it as it is.")
                .arg(info.fileName()));
    else if (unreadable > 1)
        setNoticeMessage(
            QStringLiteral("%1 blocks of %2 could not be read; saving keeps them as they are.")
                .arg(QString::number(unreadable), info.fileName()));
    return true;
}

void TranscriptionViewModel::resetResults() {
    ++m_result;
    discardKeptJob();
    if (m_libraryWriter)
        m_libraryWriter->forget();
    m_subtitles.reset();
    // Cleared before the text is announced, so whoever follows it reads no old segments.
    m_segments.clear();
    setTranscribedText({});
    setProgress(0.0);
    setStatusMessage({});
    setTimeLeft({});
    setErrorMessage(std::nullopt);
    setShowSuccessBanner(false);
    setNoticeMessage(std::nullopt);
}

void TranscriptionViewModel::startTranscription() {
    if (m_audioFileURL.isEmpty() || m_isTranscribing || m_recording)
        return;
    if (m_replaceGuard && !m_replaceGuard())
        return;
    setIsTranscribing(true);
    resetResults();
    setStatusMessage(QStringLiteral("Preparing audio..."));

    const QString path = m_audioFileURL.toLocalFile();
    // The result is saved under this file's name even if another one is loaded meanwhile.
    m_jobSourcePath = path;
    m_jobOnDevice = m_selectedEngine.isOnDevice();
    if (!m_job->start(path, m_selectedEngine, m_selectedLanguage)) {
        setErrorMessage(TranscriptionJob::missingKeyMessage(*m_selectedEngine.provider()));
        setIsTranscribing(false);
        setStatusMessage(QStringLiteral("Transcription failed"));
    }
}

std::optional<QString> TranscriptionViewModel::providerKey(const CustomProvider& provider) {
    const std::optional<QString> key = TranscriptionJob::keyFor(provider, m_keyStore);
    if (!key)
        setErrorMessage(TranscriptionJob::missingKeyMessage(provider));
    return key;
}

void TranscriptionViewModel::retryTranscription() {
    if (!m_canRetry || m_isTranscribing)
        return;
    if (m_replaceGuard && !m_replaceGuard())
        return;
    setCanRetry(false);
    setErrorMessage(std::nullopt);
    setIsTranscribing(true);
    m_jobOnDevice = false;
    if (!m_job->resume()) { // gone meanwhile: start afresh
        setIsTranscribing(false);
        startTranscription();
    }
}

void TranscriptionViewModel::cancelTranscription() {
    if (!m_isTranscribing)
        return;
    m_job->cancel(); // whatever it still reports is not shown
    setIsTranscribing(false);
    setProgress(0.0);
    setStatusMessage({});
    setTimeLeft({});
    setNoticeMessage(QStringLiteral("Transcription was cancelled."));
}

void TranscriptionViewModel::handleEvent(const TranscriptionEvent& event) {
    if (const auto* progress = std::get_if<TranscriptionEvent::Progress>(&event.value)) {
        setProgress(progress->fraction);
        setStatusMessage(progress->message);
        setTimeLeft(progress->secondsLeft ? timeLeftText(*progress->secondsLeft) : QString());
        return;
    }
    setTimeLeft({});
    if (const auto* success = std::get_if<TranscriptionEvent::Success>(&event.value)) {
        m_segments = success->segments;
        if (m_libraryWriter)
            m_libraryWriter->store(transcriptForLibrary());
        setTranscribedText(plainTextRendering(m_segments));
        setProgress(1.0);
        setStatusMessage(QStringLiteral("Transcription complete"));
        setIsTranscribing(false);
        setShowSuccessBanner(true);
        setShowSaveDialog(true);
    } else if (const auto* failure = std::get_if<TranscriptionEvent::Failure>(&event.value)) {
        // A new job started from nothing; a failed Retry keeps the words a recording had.
        setProgress(0.0);
        setErrorMessage(failure->error.description);
        setStatusMessage(QStringLiteral("Transcription failed"));
        setIsTranscribing(false);
        setCanRetry(!m_jobOnDevice && m_externalService->hasKeptJob());
    }
}

QString TranscriptionViewModel::proposedFileName(const QString& sourcePath, int formatIndex) {
    const QString baseName = sourcePath.isEmpty() ? QStringLiteral("transcription")
                                                  : QFileInfo(sourcePath).completeBaseName();
    return baseName + QLatin1Char('.') + TranscriptFormats::extension(formatIndex);
}

QString TranscriptionViewModel::savedName() const {
    return m_subtitles ? m_subtitlePath : m_jobSourcePath;
}

QString TranscriptionViewModel::saveDirectory() const {
    if (m_subtitles)
        return QFileInfo(m_subtitlePath).absolutePath();
    if (m_hasRecording) {
        // Recordings are made in the cache, where nobody looks for their files.
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QFileInfo(documents).isDir() ? documents : QDir::homePath();
    }
    return m_jobSourcePath.isEmpty() ? QString() : QFileInfo(m_jobSourcePath).absolutePath();
}

void TranscriptionViewModel::saveTranscription() {
    if (m_transcribedText.isEmpty())
        return;
    SaveDialogRequest request;
    request.directory = saveDirectory();
    request.message = QStringLiteral("Save transcription — choose .txt or .srt format");
    // Reviewed subtitles are offered back under their own name and format.
    request.selectedFormat = m_subtitles ? (m_subtitles->isWebVtt() ? 2 : 1) : 0;
    request.proposedName = proposedFileName(savedName(), request.selectedFormat);
    request.formats = TranscriptFormats::titles();
    request.layouts = subtitleLayouts();
    request.offersSpeakerNames =
        std::any_of(m_segments.cbegin(), m_segments.cend(),
                    [](const TranscriptSegment& segment) { return !segment.speaker.isEmpty(); });

    const QPointer<TranscriptionViewModel> guard(this);
    m_activeSavePanel = m_dialogs.beginSave(
        request,
        [guard](int index) {
            if (guard)
                guard->formatChanged(index);
        },
        [guard, result = m_result](const std::optional<SaveDialogChoice>& choice) {
            if (!guard)
                return;
            // The tab's transcript was replaced while the dialog was open (a file handed
            // over by the desktop, one opened from the library): it is not what was offered.
            if (result != guard->m_result && choice)
                return guard->setNoticeMessage(QStringLiteral(
                    "Nothing was saved: the transcript changed while the save dialog was open."));
            guard->finishSave(choice);
        });
}

void TranscriptionViewModel::formatChanged(int formatIndex) {
    if (!m_activeSavePanel)
        return;
    m_activeSavePanel->setProposedName(proposedFileName(savedName(), formatIndex));
}

void TranscriptionViewModel::finishSave(const std::optional<SaveDialogChoice>& choice) {
    m_activeSavePanel.reset();
    if (!choice || choice->path.isEmpty())
        return;

    const auto [format, broadcast, target] = TranscriptFormats::target(*choice);
    const bool asOpened =
        m_subtitles && !broadcast &&
        format == (m_subtitles->isWebVtt() ? TranscriptFormats::vtt : TranscriptFormats::srt);
    // Subtitles under review stay cue for cue; in another format, one cue a row.
    const QString content = asOpened ? m_subtitles->write(m_segments)
                            : m_subtitles && !broadcast && format != TranscriptFormats::json
                                ? TranscriptFormats::renderCues(m_segments, format)
                                : TranscriptFormats::render(transcriptToSave(format), format,
                                                            broadcast, choice->speakerNames);
    // The dialog asked about the name the user typed, not about the repaired one.
    if (target != choice->path && QFileInfo::exists(target) && !m_dialogs.confirmReplace(target))
        return;

    if (const std::optional<QString> failure = TextFiles::save(target, content))
        return setErrorMessage(*failure);
    if (broadcast)
        setNoticeMessage(SubtitleChecker::savedNotice(content));
    Q_EMIT transcriptSaved();
}

void TranscriptionViewModel::setEditedSegments(const QList<TranscriptSegment>& segments) {
    m_segments = segments;
    if (m_libraryWriter)
        m_libraryWriter->replaceSegments(m_segments);
    setTranscribedText(plainTextRendering(m_segments));
}

StoredTranscript TranscriptionViewModel::transcriptForLibrary() const {
    const std::optional<CustomProvider>& provider = m_selectedEngine.provider();
    return {.recordingPath = m_jobSourcePath,
            .engine = m_selectedEngine.label(),
            .model = provider ? provider->model : QStringLiteral("en-us"),
            .language = m_selectedLanguage == TranscriptionLanguage::autoDetect
                            ? QStringLiteral("auto")
                            : rawValue(m_selectedLanguage),
            .createdAt = QDateTime::currentDateTime(),
            .segments = m_segments};
}

StoredTranscript TranscriptionViewModel::transcriptToSave(int format) const {
    StoredTranscript transcript = transcriptForLibrary();
    // Only JSON tells the recording's length.
    if (format == TranscriptFormats::json)
        transcript.duration = MediaInput::durationOf(transcript.recordingPath);
    return transcript;
}

bool TranscriptionViewModel::isKeepingTranscript() const {
    return m_libraryWriter && m_libraryWriter->isBusy();
}

bool TranscriptionViewModel::openStoredTranscript(const StoredTranscript& transcript) {
    if (m_isTranscribing || !loadFile(QUrl::fromLocalFile(transcript.recordingPath)))
        return false;
    m_jobSourcePath = transcript.recordingPath;
    if (m_libraryWriter)
        m_libraryWriter->follow(transcript.id);
    m_segments = transcript.segments;
    setTranscribedText(plainTextRendering(m_segments));
    setStatusMessage(QStringLiteral("Transcription complete"));
    return true;
}

} // namespace vocalith
