#pragma once

#include <QMainWindow>

class QTabWidget;

namespace vocalith {

class FileDialogs;
class KeyStore;
class LibraryWindow;
class QueueController;
class TranscriptionQueue;
class TranscriptionViewModel;
class TranslationView;

// The one window: a header with the logo above the Transcribe and Translate tabs,
// and a File menu whose "Open MP3..." works from either tab and whose "Library..."
// opens the Library window beside it.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    // Without a queue, the window makes one on the real engines.
    MainWindow(TranscriptionViewModel& viewModel, KeyStore& keyStore, FileDialogs& dialogs,
               QWidget* parent = nullptr, TranscriptionQueue* queue = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    // Loads files given on the command line or by a second start, and comes forward:
    // .txt and .srt on the Translate tab, anything else on the Transcribe tab.
    void openFiles(const QStringList& absolutePaths);
    TranslationView* translationView() const { return m_translationView; }
    // File → Library...: the Library window, opened or brought forward; with the
    // library turned off, a word saying so.
    void openLibrary();
    LibraryWindow* libraryWindow() const { return m_library; }
    QueueController& queue() const { return *m_queue; }

private:
    TranscriptionViewModel& m_viewModel;
    FileDialogs& m_dialogs;
    LibraryWindow* m_library = nullptr; // built when first opened
    QTabWidget* m_tabs;
    TranslationView* m_translationView = nullptr; // built on first show
    QueueController* m_queue;
};

} // namespace vocalith
