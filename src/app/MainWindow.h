#pragma once

#include <QMainWindow>

class QTabWidget;

namespace vocalith {

class FileDialogs;
class KeyStore;
class TranscriptionViewModel;
class TranslationView;

// The one window: a header with the logo above the Transcribe and Translate tabs,
// and a File menu whose "Open MP3..." works from either tab.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    MainWindow(TranscriptionViewModel& viewModel, KeyStore& keyStore, FileDialogs& dialogs,
               QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    // Loads files given on the command line or by a second start, and comes forward:
    // .txt and .srt on the Translate tab, anything else on the Transcribe tab.
    void openFiles(const QStringList& absolutePaths);
    TranslationView* translationView() const { return m_translationView; }

private:
    TranscriptionViewModel& m_viewModel;
    QTabWidget* m_tabs;
    TranslationView* m_translationView = nullptr; // built on first show
};

} // namespace vocalith
