#pragma once

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vocalith {

class ElidedLabel;
class FileDialogs;
class KeyStore;
class MessageBanner;
class ProgressLine;
class TranscriptionViewModel;
class TranslationViewModel;

// The Translate tab: provider and target language, the input (typed, opened or
// dropped), translate, error, banner, progress and the result. It owns its controller
// and lends it the process's provider store.
class TranslationView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranslationView)

public:
    TranslationView(TranscriptionViewModel& transcribeVM, KeyStore& keyStore, FileDialogs& dialogs,
                    QWidget* parent = nullptr);
    ~TranslationView() override;

    TranslationViewModel& viewModel() const { return *m_vm; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildProviders();
    void keepSelectionValid();
    void refresh();

    TranscriptionViewModel& m_transcribeVM;
    std::unique_ptr<TranslationViewModel> m_vm;
    QComboBox* m_providers;
    QComboBox* m_languages;
    QLabel* m_speechModelHint;
    ElidedLabel* m_fileName;
    QLabel* m_badge;
    QPushButton* m_clear;
    QPushButton* m_open;
    QWidget* m_dropHint;
    QPlainTextEdit* m_input;
    QString m_shownInput; // what the editor was last given or last reported
    QLineEdit* m_instructions;
    QPushButton* m_translate;
    QPushButton* m_cancel;
    MessageBanner* m_error;
    MessageBanner* m_banner;
    MessageBanner* m_notice;
    ProgressLine* m_progress;
    QWidget* m_output;
    QPlainTextEdit* m_outputText;
};

} // namespace vocalith
