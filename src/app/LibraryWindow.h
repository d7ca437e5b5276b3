#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace vocalith {

class FileDialogs;
class LibraryTableModel;
class LibraryViewModel;
class MessageBanner;
class TranscriptLibrary;
class TranscriptionViewModel;

// The Library window: a search field over every transcript kept, the transcripts
// newest first or the hits of what is typed, and what can be done with the selected
// one. Lays out and binds its controller only.
class LibraryWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LibraryWindow)

public:
    LibraryWindow(std::shared_ptr<TranscriptLibrary> library, TranscriptionViewModel& transcription,
                  FileDialogs& dialogs, QWidget* parent = nullptr);

    LibraryViewModel& viewModel() const { return *m_vm; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void showPage();
    QTableView* shownTable() const;

    LibraryViewModel* m_vm;
    LibraryTableModel* m_transcriptsModel;
    LibraryTableModel* m_hitsModel;
    QLineEdit* m_search;
    MessageBanner* m_notice;
    MessageBanner* m_error;
    QStackedWidget* m_pages;
    QTableView* m_transcripts;
    QTableView* m_hits;
    QLabel* m_status;
    QPushButton* m_review;
    QPushButton* m_save;
    QPushButton* m_delete;
    QPushButton* m_deleteAll;
};

} // namespace vocalith
