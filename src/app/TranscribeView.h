#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace vocalith {

class ElidedLabel;
class LiveTranscription;
class MessageBanner;
class ProgressLine;
class QueueController;
class ReviewWindow;
class TranscriptionViewModel;

// The Transcribe tab: engine and language, the file (or a drop zone), start, a
// microphone to record from, error, banner, progress and the result. Shows and edits
// its controllers only.
class TranscribeView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscribeView)

public:
    explicit TranscribeView(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);

    // The review window of the current transcript, opened or brought forward.
    ReviewWindow* openReview();
    // Closes it, asking about unsaved edits; false when the user kept it open.
    bool closeReview();
    // Several files go into the controller's queue, shown on the tab from then on.
    void setQueue(QueueController& controller);

private:
    void buildEngines();
    void refresh();
    void onSaveRequest();
    void onProviderManagerRequest();
    void buildMicrophones();
    void startRecording();
    void refreshRecording();
    void showLiveText();

    TranscriptionViewModel& m_vm;
    QComboBox* m_engines;
    QComboBox* m_languages;
    QWidget* m_dropZone;
    QWidget* m_filePage;
    QWidget* m_card;
    QueueController* m_queue = nullptr;
    QWidget* m_queueView = nullptr;
    QWidget* m_watchBar = nullptr;
    QLabel* m_watched = nullptr;
    QPushButton* m_select;
    ElidedLabel* m_fileName;
    QLabel* m_fileSize;
    QPushButton* m_clearFile;
    QPushButton* m_start;
    QString m_startIcon;
    QTimer m_queueChanged;
    QPushButton* m_cancel;
    MessageBanner* m_error;
    MessageBanner* m_banner;
    MessageBanner* m_notice;
    ProgressLine* m_progress;
    QWidget* m_result;
    QPointer<ReviewWindow> m_review;
    QPlainTextEdit* m_text;
    QPushButton* m_saveRecording;
    QList<QPushButton*> m_resultButtons;
    // Recording from a microphone.
    LiveTranscription* m_live;
    QWidget* m_recordIdle;
    QWidget* m_recordBusy;
    QComboBox* m_microphones;
    QPushButton* m_record;
    QPushButton* m_stop;
    QProgressBar* m_level;
    QLabel* m_elapsed;
    QLabel* m_behind;
};

} // namespace vocalith
