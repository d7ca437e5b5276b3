#include "MainWindow.h"

#include "app/Icons.h"
#include "app/LibraryViewModel.h"
#include "app/LibraryWindow.h"
#include "app/ReviewWindow.h"
#include "app/TranscribeView.h"
#include "app/TranslationView.h"
#include "playback/Player.h"
#include "queue/QueueController.h"
#include "queue/TranscriptionQueue.h"
#include "transcription/ExternalTranscriptionService.h"
#include "transcription/LibraryWriter.h"
#include "transcription/TranscriptionService.h"
#include "transcription/TranscriptionViewModel.h"
#include "translation/TranslationViewModel.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vocalith {

MainWindow::MainWindow(TranscriptionViewModel& viewModel, KeyStore& keyStore, FileDialogs& dialogs,
                       QWidget* parent, TranscriptionQueue* queue)
    : QMainWindow(parent)
    , m_viewModel(viewModel)
    , m_dialogs(dialogs)
    , m_tabs(new QTabWidget) {
    setWindowTitle(QStringLiteral("Vocalith"));
    setWindowIcon(Icons::logo());
    setMinimumSize(600, 500);

    // ContentView: header, divider, tabs.
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QWidget(content);
    header->setAutoFillBackground(true);
    header->setBackgroundRole(QPalette::Base);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(20, 10, 20, 10);
    auto* logo = new QLabel(header);
    logo->setPixmap(Icons::logo().pixmap(28, 28));
    logo->setAccessibleName(QStringLiteral("Vocalith logo"));
    headerLayout->addWidget(logo);
    auto* name = new QLabel(QStringLiteral("Vocalith"), header);
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    nameFont.setBold(true);
    name->setFont(nameFont);
    headerLayout->addWidget(name);
    headerLayout->addStretch();
    layout->addWidget(header);
    auto* line = new QFrame(content);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    m_tabs->setParent(content);
    m_tabs->setDocumentMode(true);
    m_tabs->setContentsMargins(0, 4, 0, 0);
    auto* transcribe = new TranscribeView(viewModel);
    if (!queue) {
        LibraryWriter* writer = viewModel.libraryWriter();
        queue =
            new TranscriptionQueue({std::make_unique<TranscriptionService>(),
                                    [] { return std::make_unique<ExternalTranscriptionService>(); },
                                    &keyStore, writer ? writer->library() : nullptr},
                                   this);
    }
    m_queue = new QueueController(viewModel, *queue, dialogs, this);
    transcribe->setQueue(*m_queue);
    m_tabs->addTab(transcribe, Icons::get(QStringLiteral("waveform")),
                   QStringLiteral("Transcribe"));
    // The Translate tab is built when it is first shown, so the window opens sooner.
    m_tabs->addTab(new QWidget, Icons::get(QStringLiteral("globe")), QStringLiteral("Translate"));
    connect(m_tabs, &QTabWidget::currentChanged, this,
            [this, &viewModel, &keyStore, &dialogs](int index) {
                if (index != 1 || m_translationView)
                    return;
                m_translationView = new TranslationView(viewModel, keyStore, dialogs);
                QWidget* placeholder = m_tabs->widget(1);
                const QSignalBlocker blocker(m_tabs);
                m_tabs->insertTab(1, m_translationView, m_tabs->tabIcon(1), m_tabs->tabText(1));
                m_tabs->removeTab(2);
                m_tabs->setCurrentIndex(1);
                delete placeholder;
            });
    layout->addWidget(m_tabs, 1);
    setCentralWidget(content);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(QStringLiteral("Open MP3..."), &viewModel,
                                    &TranscriptionViewModel::openFilePanel);
    open->setShortcut(QKeySequence::Open);
    open->setShortcutContext(Qt::ApplicationShortcut);
    QAction* review = file->addAction(QStringLiteral("Review Subtitles..."), this, [this] {
        auto* transcribe = static_cast<TranscribeView*>(m_tabs->widget(0));
        // Edits under review are asked about before other subtitles take their place.
        if (transcribe->closeReview() && m_viewModel.openSubtitlesForReview()) {
            m_tabs->setCurrentIndex(0);
            transcribe->openReview();
        }
    });
    review->setShortcut(Qt::CTRL | Qt::Key_R);
    review->setShortcutContext(Qt::ApplicationShortcut);
    file->addAction(QStringLiteral("Watch Folder..."), m_queue,
                    &QueueController::chooseFolderToWatch);
    QAction* library =
        file->addAction(QStringLiteral("Library..."), this, &MainWindow::openLibrary);
    library->setShortcut(Qt::CTRL | Qt::Key_L);
    library->setShortcutContext(Qt::ApplicationShortcut);
    file->addSeparator();
    // As actions of the window rather than the tab bar's own keys, so they work from
    // whatever control holds the focus; an open popup still keeps its keys.
    const auto addTabAction = [this, file](const QString& text, int step,
                                           QList<QKeySequence> keys) {
        QAction* action = file->addAction(text, this, [this, step] {
            m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + m_tabs->count()) %
                                    m_tabs->count());
        });
        action->setShortcuts(keys);
    };
    addTabAction(QStringLiteral("Next Tab"), 1,
                 {QKeySequence(Qt::CTRL | Qt::Key_PageDown), QKeySequence(Qt::CTRL | Qt::Key_Tab)});
    addTabAction(QStringLiteral("Previous Tab"), -1,
                 {QKeySequence(Qt::CTRL | Qt::Key_PageUp),
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), qApp, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
}

void MainWindow::openLibrary() {
    LibraryWriter* writer = m_viewModel.libraryWriter();
    if (!writer) {
        QMessageBox::information(
            this, QStringLiteral("Library"),
            QStringLiteral("The library is turned off, so transcripts are not kept. To keep "
                           "them, set com.vocalith.keepLibrary=true in "
                           "~/.config/Vocalith/Vocalith.conf and start Vocalith again."));
        return;
    }
    if (!m_library) {
        m_library = new LibraryWindow(writer->library(), m_viewModel, m_dialogs, this);
        connect(&m_library->viewModel(), &LibraryViewModel::reviewRequested, this,
                [this](double from) {
                    m_tabs->setCurrentIndex(0);
                    ReviewWindow* review =
                        static_cast<TranscribeView*>(m_tabs->widget(0))->openReview();
                    if (from >= 0.0 && review->player().isLoaded())
                        review->player().playFrom(from);
                });
    } else {
        m_library->viewModel().reload(); // the command line may have added some
    }
    m_library->show();
    m_library->raise();
    m_library->activateWindow();
}

void MainWindow::openFiles(const QStringList& absolutePaths) {
    QStringList media;
    bool textLast = false; // the tab of the last file handed over is the one shown
    for (const QString& path : absolutePaths) {
        const QString suffix = QFileInfo(path).suffix().toLower();
        textLast = suffix == QLatin1String("txt") || suffix == QLatin1String("srt");
        if (textLast) {
            m_tabs->setCurrentIndex(1); // builds the tab on first use
            m_translationView->viewModel().loadFile(QUrl::fromLocalFile(path));
        } else {
            media.append(path);
        }
    }
    if (!media.isEmpty())
        m_queue->open(media); // one file onto the tab, several into the queue
    if (!absolutePaths.isEmpty())
        m_tabs->setCurrentIndex(textLast ? 1 : 0);
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

} // namespace vocalith
