#include "TranscribeView.h"

#include "app/CancelButton.h"
#include "app/DashedFrame.h"
#include "app/ElidedLabel.h"
#include "app/FileDrop.h"
#include "app/Icons.h"
#include "app/MessageBanner.h"
#include "app/ProgressLine.h"
#include "app/ProviderManagerDialog.h"
#include "app/QueueView.h"
#include "app/ReviewWindow.h"
#include "app/ScrollingPage.h"
#include "core/TranscriptRendering.h"
#include "live/LiveTranscription.h"
#include "live/MicrophoneCapture.h"
#include "queue/QueueController.h"
#include "queue/TranscriptionQueue.h"
#include "transcription/TranscriptionViewModel.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace vocalith {

namespace {

QLabel* captionLabel(const QString& text, QWidget* parent, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setBuddy(buddy); // a screen reader names the control after its label
    return label;
}

QFont scaledFont(const QFont& base, double factor, bool bold = false) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

// "0:07", "12:34", "1:02:03".
QString clockText(double seconds) {
    const auto whole = qint64(seconds);
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2").arg(whole / 60 % 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
    if (whole < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2")
        .arg(whole / 3600)
        .arg(minutesAndSeconds.rightJustified(5, QLatin1Char('0')));
}

} // namespace

TranscribeView::TranscribeView(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_vm(viewModel)
    , m_engines(new QComboBox(this))
    , m_languages(new QComboBox(this))
    , m_error(new MessageBanner(MessageBanner::Kind::error, true, this))
    , m_banner(new MessageBanner(MessageBanner::Kind::success, false, this))
    , m_notice(new MessageBanner(MessageBanner::Kind::notice, false, this))
    , m_progress(new ProgressLine(this))
    , m_result(new QWidget(this))
    , m_text(new QPlainTextEdit(this))
    , m_live(new LiveTranscription(this))
    , m_microphones(new QComboBox(this)) {
    vocalith::acceptDrops(this, [this](const QMimeData* data) {
        const QStringList& extensions = TranscriptionViewModel::mediaExtensions();
        if (m_queue)
            m_queue->open(droppedPaths(data, extensions));
        else if (const std::optional<QUrl> url = droppedFile(data, extensions))
            m_vm.loadFile(*url);
    });
    QVBoxLayout* layout = scrollingPage(this);

    // Engine and language rows.
    auto* engineRow = new QHBoxLayout;
    engineRow->addWidget(captionLabel(QStringLiteral("Engine:"), this, m_engines));
    m_engines->setFixedWidth(220);
    m_engines->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_engines->setAccessibleName(QStringLiteral("Engine"));
    engineRow->addWidget(m_engines);
    auto* manage = new QPushButton(Icons::get(QStringLiteral("slider.horizontal.3")),
                                   QStringLiteral("Manage"), this);
    manage->setAccessibleName(manage->text());
    engineRow->addWidget(manage);
    engineRow->addStretch();
    layout->addLayout(engineRow);

    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(captionLabel(QStringLiteral("Language:"), this, m_languages));
    m_languages->setFixedWidth(200);
    // Measuring every language name would load fonts for six scripts at start-up.
    m_languages->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_languages->setAccessibleName(QStringLiteral("Language"));
    for (TranscriptionLanguage language : allTranscriptionLanguages())
        m_languages->addItem(displayName(language), QVariant::fromValue(language));
    languageRow->addWidget(m_languages);
    languageRow->addStretch();
    layout->addLayout(languageRow);

    // File area: the drop zone, or the file card with the start button.
    auto* dropZone = new DashedFrame(12, this);
    m_dropZone = dropZone;
    dropZone->setMinimumHeight(200);
    auto* zone = new QVBoxLayout(dropZone);
    zone->setSpacing(16);
    zone->addStretch();
    auto* wave = new QLabel(dropZone);
    wave->setPixmap(Icons::get(QStringLiteral("waveform")).pixmap(48, 48));
    wave->setAlignment(Qt::AlignCenter);
    zone->addWidget(wave);
    auto* hint = captionLabel(QStringLiteral("Drag & drop an MP3 file here"), dropZone);
    hint->setFont(scaledFont(font(), 1.25));
    hint->setAlignment(Qt::AlignCenter);
    zone->addWidget(hint);
    auto* orLabel = captionLabel(QStringLiteral("or"), dropZone);
    orLabel->setAlignment(Qt::AlignCenter);
    zone->addWidget(orLabel);
    m_select = new QPushButton(QStringLiteral("Select MP3 File..."), dropZone);
    m_select->setAccessibleName(m_select->text());
    zone->addWidget(m_select, 0, Qt::AlignCenter);
    zone->addStretch();
    layout->addWidget(dropZone);

    auto* filePage = new QWidget(this);
    m_filePage = filePage;
    auto* fileLayout = new QVBoxLayout(filePage);
    fileLayout->setContentsMargins(0, 0, 0, 0);
    fileLayout->setSpacing(12);
    auto* card = new QFrame(filePage);
    m_card = card;
    card->setObjectName(QStringLiteral("fileCard"));
    card->setAutoFillBackground(true);
    card->setBackgroundRole(QPalette::Base);
    auto* cardLayout = new QHBoxLayout(card);
    cardLayout->setContentsMargins(12, 12, 12, 12);
    auto* note = new QLabel(card);
    note->setPixmap(Icons::get(QStringLiteral("music.note.list")).pixmap(24, 24));
    cardLayout->addWidget(note);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    m_fileName = new ElidedLabel(card);
    m_fileName->setFont(scaledFont(font(), 1.0, true));
    m_fileName->setObjectName(QStringLiteral("fileName"));
    m_fileName->setAccessibleDescription(QStringLiteral("File name"));
    m_fileSize = captionLabel(QString(), card);
    m_fileSize->setTextFormat(Qt::PlainText);
    m_fileSize->setObjectName(QStringLiteral("fileSize"));
    m_fileSize->setAccessibleDescription(QStringLiteral("File size"));
    names->addWidget(m_fileName);
    names->addWidget(m_fileSize);
    cardLayout->addLayout(names, 1);
    m_clearFile = new QPushButton(Icons::get(QStringLiteral("xmark.circle.fill")), QString(), card);
    m_clearFile->setFlat(true);
    m_clearFile->setAccessibleName(QStringLiteral("Remove file"));
    m_clearFile->setToolTip(QStringLiteral("Remove file"));
    cardLayout->addWidget(m_clearFile);
    fileLayout->addWidget(card);
    auto* startRow = new QHBoxLayout;
    m_start = new QPushButton(this);
    m_start->setMinimumHeight(m_start->sizeHint().height() + 16);
    m_start->setDefault(true);
    startRow->addWidget(m_start, 1);
    m_cancel = cancelButton(m_start->minimumHeight(), this);
    startRow->addWidget(m_cancel);
    fileLayout->addLayout(startRow);
    layout->addWidget(filePage);

    // Recording: the microphone and Record, or while recording its level, time and Stop.
    m_recordIdle = new QWidget(this);
    auto* idleRow = new QHBoxLayout(m_recordIdle);
    idleRow->setContentsMargins(0, 0, 0, 0);
    idleRow->addWidget(captionLabel(QStringLiteral("Microphone:"), m_recordIdle, m_microphones));
    m_microphones->setFixedWidth(220);
    m_microphones->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_microphones->setAccessibleName(QStringLiteral("Microphone"));
    idleRow->addWidget(m_microphones);
    m_record = new QPushButton(Icons::get(QStringLiteral("mic.fill")), QStringLiteral("Record"),
                               m_recordIdle);
    m_record->setAccessibleName(m_record->text());
    m_record->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
    m_record->setToolTip(
        QStringLiteral("Transcribe from the microphone as you speak (Ctrl+Shift+R)"));
    idleRow->addWidget(m_record);
    idleRow->addStretch();
    layout->addWidget(m_recordIdle);

    m_recordBusy = new QWidget(this);
    auto* busyRow = new QHBoxLayout(m_recordBusy);
    busyRow->setContentsMargins(0, 0, 0, 0);
    m_elapsed = new QLabel(m_recordBusy);
    m_elapsed->setAccessibleDescription(QStringLiteral("Recording time"));
    m_elapsed->setFont(scaledFont(font(), 1.0, true));
    busyRow->addWidget(m_elapsed);
    m_level = new QProgressBar(m_recordBusy);
    m_level->setRange(0, 100);
    m_level->setTextVisible(false);
    m_level->setFixedWidth(160);
    m_level->setAccessibleName(QStringLiteral("Level"));
    busyRow->addWidget(m_level);
    m_behind = captionLabel(QString(), m_recordBusy);
    busyRow->addWidget(m_behind, 1);
    m_stop = new QPushButton(QStringLiteral("Stop"), m_recordBusy);
    m_stop->setAccessibleName(m_stop->text());
    m_stop->setShortcut(Qt::Key_Escape);
    m_stop->setToolTip(QStringLiteral("Stop recording (Esc)"));
    busyRow->addWidget(m_stop);
    layout->addWidget(m_recordBusy);

    layout->addWidget(m_error);
    layout->addWidget(m_banner);
    m_banner->setText(QStringLiteral("Transcription complete!"));
    layout->addWidget(m_notice);
    layout->addWidget(m_progress);

    // Result.
    auto* resultLayout = new QVBoxLayout(m_result);
    resultLayout->setContentsMargins(0, 0, 0, 0);
    resultLayout->setSpacing(8);
    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Transcription"), m_result);
    title->setFont(scaledFont(font(), 1.0, true));
    auto* titleIcon = new QLabel(m_result);
    titleIcon->setPixmap(Icons::get(QStringLiteral("text.bubble.fill")).pixmap(16, 16));
    header->addWidget(titleIcon);
    header->addWidget(title);
    header->addStretch();
    auto* save = new QPushButton(QStringLiteral("Save..."), m_result);
    auto* copy = new QPushButton(QStringLiteral("Copy"), m_result);
    auto* review = new QPushButton(QStringLiteral("Review..."), m_result);
    m_saveRecording = new QPushButton(QStringLiteral("Save Recording..."), m_result);
    m_saveRecording->setAccessibleName(m_saveRecording->text());
    save->setAccessibleName(save->text());
    copy->setAccessibleName(copy->text());
    review->setAccessibleName(review->text());
    header->addWidget(review);
    header->addWidget(save);
    header->addWidget(copy);
    header->addWidget(m_saveRecording);
    m_resultButtons = {review, save, copy, m_saveRecording};
    resultLayout->addLayout(header);
    m_text->setReadOnly(true);
    m_text->setMaximumHeight(300);
    m_text->setAccessibleName(QStringLiteral("Transcription text"));
    resultLayout->addWidget(m_text);
    layout->addWidget(m_result);
    layout->addStretch();

    connect(m_engines, &QComboBox::activated, this, [this](int index) {
        const QList<TranscriptionEngine> engines = m_vm.availableEngines();
        if (index >= 0 && index < engines.size())
            m_vm.setSelectedEngine(engines[index]);
    });
    connect(m_languages, &QComboBox::activated, this, [this](int index) {
        m_vm.setSelectedLanguage(m_languages->itemData(index).value<TranscriptionLanguage>());
    });
    connect(manage, &QPushButton::clicked, this, [this] { m_vm.setShowProviderManager(true); });
    connect(m_select, &QPushButton::clicked, this, [this] { m_vm.openFilePanel(); });
    connect(m_clearFile, &QPushButton::clicked, this, [this] { m_vm.removeFile(); });
    connect(m_start, &QPushButton::clicked, this, [this] {
        if (m_queue && m_queue->isShown())
            m_queue->start();
        else
            m_vm.startTranscription();
    });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_queue && m_queue->queue().isRunning())
            m_queue->queue().cancelAll();
        else
            m_vm.cancelTranscription();
    });
    connect(m_notice, &MessageBanner::closeRequested, this,
            [this] { m_vm.setNoticeMessage(std::nullopt); });
    connect(m_error, &MessageBanner::retryRequested, this, [this] { m_vm.retryTranscription(); });
    connect(m_error, &MessageBanner::copyRequested, this, [this] {
        QGuiApplication::clipboard()->setText(m_vm.errorMessage().value_or(QString()));
    });
    connect(m_error, &MessageBanner::closeRequested, this, [this] {
        m_vm.setErrorMessage(std::nullopt);
        m_vm.setShowSuccessBanner(false);
    });
    connect(m_banner, &MessageBanner::closeRequested, this,
            [this] { m_vm.setShowSuccessBanner(false); });
    connect(save, &QPushButton::clicked, this, [this] { m_vm.saveTranscription(); });
    connect(review, &QPushButton::clicked, this, &TranscribeView::openReview);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_vm.transcribedText()); });
    connect(m_saveRecording, &QPushButton::clicked, this, [this] { m_vm.saveRecording(); });
    connect(m_record, &QPushButton::clicked, this, &TranscribeView::startRecording);
    connect(m_stop, &QPushButton::clicked, m_live, &LiveTranscription::stop);
    for (auto signal : {&LiveTranscription::elapsedChanged, &LiveTranscription::levelChanged,
                        &LiveTranscription::secondsBehindChanged})
        connect(m_live, signal, this, &TranscribeView::refreshRecording);
    for (auto signal :
         {&LiveTranscription::isRecordingChanged, &LiveTranscription::isFinishingChanged})
        connect(m_live, signal, this, [this] {
            refreshRecording();
            refresh();
            showLiveText();
        });
    connect(m_live, &LiveTranscription::partialTextChanged, this, &TranscribeView::showLiveText);
    connect(m_live, &LiveTranscription::utteranceRecognized, this, &TranscribeView::showLiveText);
    connect(m_live, &LiveTranscription::finished, this, [this] {
        m_vm.finishRecording(m_live->recordingPath(), m_live->segments(), m_live->errorMessage(),
                             m_live->takeFailedParts());
        buildMicrophones();
    });

    for (auto signal :
         {&TranscriptionViewModel::audioFileURLChanged, &TranscriptionViewModel::fileSizeChanged,
          &TranscriptionViewModel::isTranscribingChanged, &TranscriptionViewModel::progressChanged,
          &TranscriptionViewModel::statusMessageChanged, &TranscriptionViewModel::timeLeftChanged,
          &TranscriptionViewModel::transcribedTextChanged,
          &TranscriptionViewModel::selectedLanguageChanged,
          &TranscriptionViewModel::errorMessageChanged, &TranscriptionViewModel::canRetryChanged,
          &TranscriptionViewModel::showSuccessBannerChanged,
          &TranscriptionViewModel::noticeMessageChanged,
          &TranscriptionViewModel::selectedEngineChanged})
        connect(&m_vm, signal, this, &TranscribeView::refresh);
    connect(&m_vm, &TranscriptionViewModel::availableEnginesChanged, this,
            &TranscribeView::buildEngines);
    connect(&m_vm, &TranscriptionViewModel::showSaveDialogChanged, this,
            &TranscribeView::onSaveRequest);
    connect(&m_vm, &TranscriptionViewModel::showProviderManagerChanged, this,
            &TranscribeView::onProviderManagerRequest);
    // Tab follows what the eye reads, top to bottom.
    const QList<QWidget*> order{m_engines, manage,          m_languages,   m_select, m_clearFile,
                                m_start,   m_cancel,        m_microphones, m_record, m_stop,
                                m_error,   m_banner,        m_notice,      review,   save,
                                copy,      m_saveRecording, m_text};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    // The review belongs to one transcript: whatever replaces it closes the review first.
    m_vm.setReplaceGuard([view = QPointer(this)] { return !view || view->closeReview(); });
    buildEngines();
    buildMicrophones();
    refreshRecording();
    refresh();
    // A recording a crash cut short is offered once, ready to transcribe.
    if (const std::optional<QString> kept = LiveTranscription::takeInterruptedRecording()) {
        m_vm.loadFile(QUrl::fromLocalFile(*kept));
        m_vm.setNoticeMessage(QStringLiteral("A recording that was not stopped was kept: %1. "
                                             "Start the transcription to transcribe it.")
                                  .arg(QFileInfo(*kept).fileName()));
    }
}

void TranscribeView::setQueue(QueueController& controller) {
    m_queue = &controller;
    auto* view = new QueueView(controller, m_filePage->parentWidget());
    m_queueView = view;
    auto* layout = static_cast<QVBoxLayout*>(m_filePage->parentWidget()->layout());
    layout->insertWidget(layout->indexOf(m_filePage), view, 1); // the rows take the room there is
    // The watched folder, above the queue.
    m_watchBar = new QWidget(m_filePage->parentWidget());
    auto* watchRow = new QHBoxLayout(m_watchBar);
    watchRow->setContentsMargins(0, 0, 0, 0);
    m_watched = new QLabel(m_watchBar);
    m_watched->setTextFormat(Qt::PlainText);
    m_watched->setAccessibleDescription(QStringLiteral("Watched folder"));
    watchRow->addWidget(m_watched, 1);
    auto* stopWatching = new QPushButton(QStringLiteral("Stop Watching"), m_watchBar);
    stopWatching->setAccessibleName(stopWatching->text());
    watchRow->addWidget(stopWatching);
    layout->insertWidget(layout->indexOf(view), m_watchBar);
    // Tab reads the watched folder and the queue where they stand, under the language.
    const QList<QWidget*> order =
        QList<QWidget*>{m_languages, stopWatching} + view->tabOrder() + QList<QWidget*>{m_select};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    connect(stopWatching, &QPushButton::clicked, &controller, &QueueController::stopWatching);
    connect(&controller, &QueueController::watchingChanged, this, &TranscribeView::refresh);
    TranscriptionQueue& queue = controller.queue();
    // Durations and progress come for every row: the tab catches up once for a batch.
    m_queueChanged.setSingleShot(true);
    m_queueChanged.setInterval(0);
    connect(&m_queueChanged, &QTimer::timeout, this, &TranscribeView::refresh);
    connect(&queue, &TranscriptionQueue::itemChanged, &m_queueChanged, qOverload<>(&QTimer::start));
    connect(&queue, &TranscriptionQueue::itemsAdded, &m_queueChanged, qOverload<>(&QTimer::start));
    connect(&queue, &TranscriptionQueue::itemRemoved, this, &TranscribeView::refresh);
    connect(&queue, &TranscriptionQueue::finished, this, &TranscribeView::refresh);
    connect(&queue, &TranscriptionQueue::libraryFailed, this,
            [this](const QString& message) { m_vm.setErrorMessage(message); });
    refresh();
}

void TranscribeView::buildMicrophones() {
    const QString current = m_microphones->currentData().toString();
    m_microphones->clear();
    for (const QAudioDevice& device : MicrophoneCapture::inputs())
        m_microphones->addItem(device.description(), QString::fromUtf8(device.id()));
    if (const int index = m_microphones->findData(current); index >= 0)
        m_microphones->setCurrentIndex(index);
    if (m_microphones->count() == 0)
        m_microphones->addItem(QStringLiteral("No microphone"));
}

void TranscribeView::startRecording() {
    if (m_vm.isTranscribing() || !closeReview())
        return;
    buildMicrophones();
    const std::optional<QAudioDevice> device =
        MicrophoneCapture::inputNamed(m_microphones->currentData().toString());
    m_vm.setErrorMessage(std::nullopt);
    m_vm.setNoticeMessage(std::nullopt);
    m_vm.setShowSuccessBanner(false);
    const TranscriptionEngine engine = m_vm.selectedEngine();
    const std::optional<QString> key =
        engine.isOnDevice() ? QString() : m_vm.providerKey(*engine.provider());
    if (!key)
        return; // the controller says why
    if (!device || m_microphones->currentData().isNull())
        m_vm.setErrorMessage(QStringLiteral("No microphone was found."));
    else if (!m_live->start(*device, engine, m_vm.selectedLanguage(), *key))
        m_vm.setErrorMessage(m_live->errorMessage());
    m_vm.setRecording(m_live->isRecording());
    refresh();
}

void TranscribeView::refreshRecording() {
    const bool recording = m_live->isRecording();
    const bool live = recording || m_live->isFinishing();
    m_recordIdle->setVisible(!live);
    m_recordBusy->setVisible(live);
    m_stop->setEnabled(recording);
    m_elapsed->setText(clockText(m_live->elapsed()));
    m_level->setValue(int(m_live->level() * 100));
    const double behind = m_live->secondsBehind();
    m_behind->setText(!recording ? QStringLiteral("Recognising the last words...")
                      : behind >= 1.0
                          ? QStringLiteral("Recognition is %1 s behind").arg(qRound(behind))
                          : QString());
}

void TranscribeView::showLiveText() {
    if (!m_live->isRecording() && !m_live->isFinishing())
        return;
    m_result->setVisible(true);
    // The words so far, and those of the utterance still being heard in a lighter colour.
    m_text->setPlainText(plainTextRendering(m_live->segments()));
    if (!m_live->partialText().isEmpty()) {
        QTextCursor cursor(m_text->document());
        cursor.movePosition(QTextCursor::End);
        QTextCharFormat lighter;
        lighter.setForeground(palette().brush(QPalette::PlaceholderText));
        cursor.insertText((m_text->document()->isEmpty() ? QString() : QStringLiteral(" ")) +
                              m_live->partialText(),
                          lighter);
    }
    m_text->moveCursor(QTextCursor::End);
}

void TranscribeView::buildEngines() {
    m_engines->clear();
    for (const TranscriptionEngine& engine : m_vm.availableEngines())
        m_engines->addItem(engine.label());
    refresh();
}

void TranscribeView::refresh() {
    const bool recording = m_live->isRecording() || m_live->isFinishing();
    const bool busy =
        m_vm.isTranscribing() || recording || (m_queue && m_queue->queue().isRunning());
    // An engine that holds an edited provider's old copy matches no entry.
    m_engines->setCurrentIndex(int(m_vm.availableEngines().indexOf(m_vm.selectedEngine())));
    m_engines->setEnabled(!busy);
    m_languages->setCurrentIndex(
        m_languages->findData(QVariant::fromValue(m_vm.selectedLanguage())));
    m_languages->setEnabled(!busy);

    const bool queued = m_queue && m_queue->isShown();
    const bool queueRunning = queued && m_queue->queue().isRunning();
    const bool hasFile = !m_vm.audioFileURL().isEmpty();
    m_dropZone->setVisible(!hasFile && !queued);
    m_filePage->setVisible(hasFile || queued);
    m_card->setVisible(hasFile && !queued);
    if (m_queueView) {
        m_queueView->setVisible(queued);
        const QString watched = m_queue->watchedFolder();
        m_watchBar->setVisible(!watched.isEmpty());
        m_watched->setText(QStringLiteral("Watching ") + watched);
    }
    m_select->setEnabled(!busy);
    m_fileName->setFullText(m_vm.audioFileURL().fileName());
    m_fileSize->setText(QLocale().formattedDataSize(m_vm.fileSize(), 1, QLocale::DataSizeSIFormat));
    m_clearFile->setEnabled(!busy);
    m_start->setEnabled(!busy);
    m_record->setEnabled(!busy);
    m_microphones->setEnabled(!busy);
    const bool working = m_vm.isTranscribing() || queueRunning;
    m_start->setText(working  ? QStringLiteral("Transcribing...")
                     : queued ? QStringLiteral("Transcribe %1 Files").arg(m_queue->waitingCount())
                              : QStringLiteral("Start Transcription"));
    // Made afresh, an icon costs the window a new layout: only a change is set.
    if (const QString icon = working ? QStringLiteral("hourglass") : QStringLiteral("mic.fill");
        icon != m_startIcon) {
        m_startIcon = icon;
        m_start->setIcon(Icons::get(icon));
    }
    if (queued)
        m_start->setEnabled(!working && !recording && m_queue->waitingCount() > 0);
    m_start->setAccessibleName(m_start->text());

    m_error->setVisible(m_vm.errorMessage().has_value());
    m_error->setText(m_vm.errorMessage().value_or(QString()));
    m_error->setRetryVisible(m_vm.canRetry());
    m_banner->setVisible(m_vm.showSuccessBanner());
    m_notice->setVisible(m_vm.noticeMessage().has_value());
    m_notice->setText(m_vm.noticeMessage().value_or(QString()));
    m_cancel->setVisible(working);
    m_progress->setVisible(m_vm.isTranscribing() || (!recording && m_vm.progress() > 0.0));
    m_progress->setProgress(m_vm.progress(), m_vm.statusMessage(), m_vm.timeLeft());
    m_saveRecording->setVisible(m_vm.hasRecording());
    // While recording the text is the recording's, not the last result's.
    for (QPushButton* button : m_resultButtons)
        button->setEnabled(!recording);
    if (recording) // showLiveText() shows the words as they come
        return;
    m_result->setVisible(!m_vm.transcribedText().isEmpty());
    if (m_text->toPlainText() != m_vm.transcribedText())
        m_text->setPlainText(m_vm.transcribedText());
}

void TranscribeView::onSaveRequest() {
    if (!m_vm.showSaveDialog())
        return;
    m_vm.setShowSaveDialog(false);
    m_vm.saveTranscription();
}

void TranscribeView::onProviderManagerRequest() {
    if (!m_vm.showProviderManager())
        return;
    auto* dialog = new ProviderManagerDialog(m_vm, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this] { m_vm.setShowProviderManager(false); });
    dialog->open();
}

bool TranscribeView::closeReview() {
    return !m_review || m_review->close();
}

ReviewWindow* TranscribeView::openReview() {
    if (!m_review || !m_review->isVisible()) // a closed one is on its way out
        m_review = new ReviewWindow(m_vm, window());
    m_review->show();
    m_review->raise();
    m_review->activateWindow();
    return m_review;
}

} // namespace vocalith
