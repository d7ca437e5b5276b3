#include "ReviewWindow.h"

#include "app/ReviewTextDelegate.h"
#include "app/WaveformView.h"
#include "playback/Player.h"
#include "review/ReviewModel.h"
#include "transcription/TranscriptionViewModel.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QThread>
#include <QUndoStack>
#include <QVBoxLayout>

namespace vocalith {

namespace {

constexpr double nudgeStep = 0.1;

QAction* addShortcut(QWidget* window, const QKeySequence& keys, std::function<void()> handler) {
    auto* action = new QAction(window);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, window, std::move(handler));
    window->addAction(action);
    return action;
}

} // namespace

ReviewWindow::ReviewWindow(TranscriptionViewModel& viewModel, QWidget* parent)
    : QMainWindow(parent)
    , m_vm(viewModel)
    , m_model(new ReviewModel(viewModel.segments(), this))
    , m_player(new Player(this))
    , m_table(new QTableView(this))
    , m_textDelegate(new ReviewTextDelegate(*m_model, m_table))
    , m_play(new QPushButton(QStringLiteral("Play"), this))
    , m_position(new QSlider(Qt::Horizontal, this))
    , m_time(new QLabel(this))
    , m_speed(new QComboBox(this))
    , m_findBar(new QWidget(this))
    , m_find(new QLineEdit(m_findBar))
    , m_replace(new QLineEdit(m_findBar))
    , m_message(new QLabel(this))
    , m_waveform(new WaveformView(*m_model, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    const QString recording = viewModel.jobSourcePath();
    setWindowTitle(QStringLiteral("Review — %1").arg(QFileInfo(recording).fileName()));
    resize(820, 560);

    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(ReviewModel::TextColumn, m_textDelegate);
    m_table->setAccessibleName(QStringLiteral("Segments"));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->setWordWrap(true);
    m_table->horizontalHeader()->setSectionResizeMode(ReviewModel::TextColumn,
                                                      QHeaderView::Stretch);
    m_table->resizeColumnToContents(ReviewModel::StartColumn);
    m_table->resizeColumnToContents(ReviewModel::EndColumn);
    // Who spoke goes before what was said, and only where speakers were told apart.
    if (m_model->columnCount() > ReviewModel::SpeakerColumn) {
        m_table->horizontalHeader()->moveSection(ReviewModel::SpeakerColumn,
                                                 ReviewModel::TextColumn);
        m_table->resizeColumnToContents(ReviewModel::SpeakerColumn);
    }
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->installEventFilter(this);
    m_table->viewport()->installEventFilter(this);
    if (m_model->rowCount() > 0)
        m_table->selectRow(0);

    m_play->setAccessibleName(m_play->text());
    m_position->setAccessibleName(QStringLiteral("Position"));
    m_speed->setAccessibleName(QStringLiteral("Speed"));
    for (double speed : {0.5, 0.75, 1.0, 1.25, 1.5, 2.0})
        m_speed->addItem(QStringLiteral("%1×").arg(speed), speed);
    m_speed->setCurrentIndex(2);
    auto* save = new QPushButton(QStringLiteral("Save..."), this);
    save->setAccessibleName(save->text());
    auto* rowButton = new QPushButton(QStringLiteral("Play row"), this);
    rowButton->setAccessibleName(rowButton->text());
    rowButton->setToolTip(QStringLiteral("Plays only the selected row (Ctrl+P)"));

    m_find->setPlaceholderText(QStringLiteral("Find"));
    m_find->setAccessibleName(QStringLiteral("Find"));
    m_replace->setPlaceholderText(QStringLiteral("Replace with"));
    m_replace->setAccessibleName(QStringLiteral("Replace with"));
    auto* next = new QPushButton(QStringLiteral("Find Next"), m_findBar);
    auto* replaceAll = new QPushButton(QStringLiteral("Replace All"), m_findBar);
    auto* findLayout = new QHBoxLayout(m_findBar);
    findLayout->setContentsMargins(0, 0, 0, 0);
    findLayout->addWidget(m_find, 1);
    findLayout->addWidget(next);
    findLayout->addWidget(m_replace, 1);
    findLayout->addWidget(replaceAll);
    m_findBar->hide();

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_play);
    controls->addWidget(rowButton);
    controls->addWidget(m_position, 1);
    controls->addWidget(m_time);
    controls->addWidget(m_speed);
    controls->addWidget(save);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(m_findBar);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_waveform);
    layout->addWidget(m_message);
    layout->addLayout(controls);
    m_message->hide();
    setCentralWidget(content);

    if (const auto error = m_player->load(recording)) {
        m_message->setText(*error);
        m_message->show();
        for (QWidget* widget :
             std::initializer_list<QWidget*>{m_play, rowButton, m_position, m_speed})
            widget->setEnabled(false);
    }
    m_position->setRange(0, int(m_player->duration() * 1000));
    follow(0.0);
    readPeaks(recording);

    QUndoStack* undo = m_model->undoStack();
    QAction* undoAction = undo->createUndoAction(this);
    undoAction->setShortcut(QKeySequence::Undo);
    QAction* redoAction = undo->createRedoAction(this);
    redoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence::Redo});
    addActions({undoAction, redoAction});
    addShortcut(this, Qt::CTRL | Qt::Key_Space, [this] { togglePlay(); });
    addShortcut(this, Qt::CTRL | Qt::Key_P, [this] { playRow(); });
    addShortcut(this, Qt::ALT | Qt::Key_Up, [this] { nudge(false, -nudgeStep); });
    addShortcut(this, Qt::ALT | Qt::Key_Down, [this] { nudge(false, nudgeStep); });
    addShortcut(this, Qt::SHIFT | Qt::ALT | Qt::Key_Up, [this] { nudge(true, -nudgeStep); });
    addShortcut(this, Qt::SHIFT | Qt::ALT | Qt::Key_Down, [this] { nudge(true, nudgeStep); });
    addShortcut(this, Qt::CTRL | Qt::SHIFT | Qt::Key_S, [this] { splitRow(); });
    addShortcut(this, Qt::CTRL | Qt::SHIFT | Qt::Key_M,
                [this] { m_model->mergeWithNext(currentRow()); });
    addShortcut(this, Qt::Key_F8, [this] { goToDoubtful(false); });
    addShortcut(this, Qt::SHIFT | Qt::Key_F8, [this] { goToDoubtful(true); });
    addShortcut(this, QKeySequence::Find, [this] { showFind(false); });
    addShortcut(this, Qt::CTRL | Qt::Key_H, [this] { showFind(true); });
    addShortcut(this, QKeySequence::Save, [this] { m_vm.saveTranscription(); });

    connect(m_play, &QPushButton::clicked, this, &ReviewWindow::togglePlay);
    connect(rowButton, &QPushButton::clicked, this, &ReviewWindow::playRow);
    connect(save, &QPushButton::clicked, this, [this] { m_vm.saveTranscription(); });
    connect(m_table, &QTableView::clicked, this, &ReviewWindow::playClicked);
    connect(m_table, &QTableView::customContextMenuRequested, this, &ReviewWindow::showSpeakerMenu);
    connect(m_position, &QSlider::sliderMoved, this,
            [this](int milliseconds) { m_player->seek(milliseconds / 1000.0); });
    connect(m_speed, &QComboBox::activated, this,
            [this] { m_player->setSpeed(m_speed->currentData().toDouble()); });
    connect(next, &QPushButton::clicked, this, &ReviewWindow::findNext);
    connect(m_find, &QLineEdit::returnPressed, this, &ReviewWindow::findNext);
    connect(replaceAll, &QPushButton::clicked, this, [this] {
        const int count = m_model->replaceAll(m_find->text(), m_replace->text());
        m_message->setText(QStringLiteral("%1 replaced").arg(count));
        m_message->show();
    });
    connect(m_player, &Player::playingChanged, this, [this](bool playing) {
        m_play->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
        m_play->setAccessibleName(m_play->text());
    });
    connect(m_player, &Player::positionChanged, this, &ReviewWindow::follow);
    connect(m_waveform, &WaveformView::seekRequested, this, [this](double seconds) {
        if (m_player->isLoaded())
            m_player->playFrom(seconds);
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                // A click's place belongs to its row's visit; coming back is a new one.
                m_clickedCharacter = {-1, -1};
                m_waveform->setCurrentRow(current.row());
            });
    connect(m_player, &Player::errorOccurred, this, [this](const QString& message) {
        m_message->setText(message);
        m_message->show();
    });
    // The tab's text and its Save follow every edit.
    connect(m_model, &ReviewModel::segmentsChanged, this, [this] {
        m_clickedCharacter = {-1, -1};
        m_vm.setEditedSegments(m_model->segments());
    });
    connect(&m_vm, &TranscriptionViewModel::transcriptSaved, undo, &QUndoStack::setClean);
    // A new job replaces the transcript on the tab; this one no longer belongs there.
    connect(&m_vm, &TranscriptionViewModel::transcribedTextChanged, this, [this] {
        if (m_vm.segments() != m_model->segments()) {
            m_model->undoStack()->setClean();
            close();
        }
    });
}

ReviewWindow::~ReviewWindow() {
    m_stopPeaks = true;
    if (m_peaksWorker)
        m_peaksWorker->wait();
    // An editor still open commits as the table goes; that edit stays here.
    m_model->disconnect(this);
    m_player->disconnect(this);
    m_vm.disconnect(this);
}

void ReviewWindow::readPeaks(const QString& recording) {
    // Read once, away from the window; what it finds comes back on the window's thread.
    const QPointer<ReviewWindow> window(this);
    m_peaksWorker = QThread::create([this, window, recording] {
        auto peaks = WaveformPeaks::compute(
            recording,
            [window](double fraction) {
                QMetaObject::invokeMethod(window, [window, fraction] {
                    if (window)
                        window->m_waveform->setProgress(fraction);
                });
            },
            &m_stopPeaks);
        if (auto* read = std::get_if<WaveformPeaks>(&peaks))
            QMetaObject::invokeMethod(window, [window, envelope = std::move(*read)]() mutable {
                if (window)
                    window->m_waveform->setPeaks(std::move(envelope));
            });
    });
    m_peaksWorker->setParent(this);
    m_peaksWorker->start(QThread::LowPriority);
}

int ReviewWindow::currentRow() const {
    return m_table->currentIndex().isValid() ? m_table->currentIndex().row() : -1;
}

bool ReviewWindow::isEditing() const {
    // An open editor is a child of the table that has the focus.
    const QWidget* focused = focusWidget();
    return focused && focused != m_table && m_table->isAncestorOf(focused);
}

void ReviewWindow::togglePlay() {
    if (m_player->isPlaying())
        m_player->pause();
    else
        m_player->play();
}

void ReviewWindow::playRow() {
    const int row = currentRow();
    if (row < 0 || !m_player->isLoaded())
        return;
    const TranscriptSegment& segment = m_model->segments().at(row);
    m_player->playRange(segment.startTime, segment.endTime);
}

void ReviewWindow::playClicked(const QModelIndex& index) {
    // A click on a word plays from that word, elsewhere in the row from its start.
    const TranscriptSegment& segment = m_model->segments().at(index.row());
    double from = segment.startTime;
    if (index.column() == ReviewModel::TextColumn) {
        const int character = m_textDelegate->characterAt(*m_table, index, m_pressedAt);
        m_clickedCharacter = {index.row(), character};
        if (const int word = m_model->wordAt(index.row(), character); word >= 0)
            from = segment.words.at(word).startTime;
    }
    if (m_player->isLoaded())
        m_player->playFrom(from);
}

void ReviewWindow::nudge(bool end, double seconds) {
    m_model->nudge(currentRow(), end ? ReviewModel::End : ReviewModel::Start, seconds);
}

void ReviewWindow::splitRow() {
    const int row = currentRow();
    if (row < 0)
        return;
    // At the editor's cursor while the text is being edited, at the character clicked
    // last in this row, otherwise at the space nearest the middle; the model cuts before
    // the word there.
    const QString text = m_model->segments().at(row).text;
    int position = int(text.size() / 2);
    if (auto* editor = qobject_cast<QLineEdit*>(focusWidget()); editor && isEditing()) {
        // The row keeps its text with runs of spaces made one: so does the cursor.
        const QString before = editor->text().left(editor->cursorPosition());
        const QString kept = before.simplified();
        position = int(kept.size()) + (!kept.isEmpty() && before.back().isSpace() ? 1 : 0);
        const QString edited = editor->text();
        m_table->closePersistentEditor(m_table->currentIndex());
        m_table->setFocus();
        m_model->setText(row, edited);
    } else if (m_clickedCharacter.first == row && m_clickedCharacter.second >= 0) {
        position = m_clickedCharacter.second;
    } else {
        const qsizetype before = text.lastIndexOf(QLatin1Char(' '), position);
        const qsizetype after = text.indexOf(QLatin1Char(' '), position);
        if (before >= 0 || after >= 0)
            position =
                int(after < 0 || (before >= 0 && position - before <= after - position) ? before
                                                                                        : after);
    }
    m_model->split(row, position);
}

void ReviewWindow::goToDoubtful(bool backwards) {
    const int row = m_model->nextDoubtful(currentRow(), backwards);
    if (row < 0) {
        m_message->setText(QStringLiteral("No uncertain words"));
        m_message->show();
        return;
    }
    m_table->selectRow(row);
    m_table->scrollTo(m_model->index(row, 0));
}

void ReviewWindow::showSpeakerMenu(const QPoint& at) {
    const QStringList speakers = m_model->speakers();
    const QModelIndex index = m_table->indexAt(at);
    const int row = index.isValid() ? index.row() : currentRow();
    if (speakers.isEmpty() || row < 0)
        return;
    // The row's speaker from the list, or every row of that speaker under a new name.
    const QString current = m_model->segments().at(row).speaker;
    QMenu menu(this);
    for (const QString& name : speakers) {
        QAction* action =
            menu.addAction(name, this, [this, row, name] { m_model->setSpeaker(row, name); });
        action->setCheckable(true);
        action->setChecked(name == current);
    }
    if (!current.isEmpty()) {
        menu.addSeparator();
        menu.addAction(QStringLiteral("Rename “%1”...").arg(current), this, [this, current] {
            bool ok = false;
            const QString name = QInputDialog::getText(
                this, QStringLiteral("Rename Speaker"),
                QStringLiteral("New name for “%1” on every row:").arg(current), QLineEdit::Normal,
                current, &ok);
            if (ok)
                m_model->renameSpeaker(current, name);
        });
    }
    menu.exec(m_table->viewport()->mapToGlobal(at));
}

void ReviewWindow::showFind(bool replace) {
    m_findBar->show();
    m_replace->setVisible(true);
    (replace ? m_replace : m_find)->setFocus();
    (replace ? m_replace : m_find)->selectAll();
}

void ReviewWindow::findNext() {
    const int row = m_model->findNext(m_find->text(), currentRow() + 1, Qt::CaseInsensitive);
    if (row < 0) {
        m_message->setText(QStringLiteral("Not found"));
        m_message->show();
        return;
    }
    m_message->hide();
    m_table->selectRow(row);
    m_table->scrollTo(m_model->index(row, 0));
}

void ReviewWindow::follow(double seconds) {
    m_waveform->setPosition(seconds);
    if (!m_position->isSliderDown())
        m_position->setValue(int(seconds * 1000));
    m_time->setText(ReviewModel::timeText(seconds) + QStringLiteral(" / ") +
                    ReviewModel::timeText(m_player->duration()));
    if (!m_player->isPlaying() || isEditing())
        return;
    // The row being heard: the last one that starts by now.
    const QList<TranscriptSegment>& segments = m_model->segments();
    const auto heard = std::upper_bound(
        segments.begin(), segments.end(), seconds,
        [](double time, const TranscriptSegment& segment) { return time < segment.startTime; });
    const int row = int(heard - segments.begin()) - 1;
    if (row >= 0 && row != currentRow()) {
        m_table->selectRow(row);
        m_table->scrollTo(m_model->index(row, 0));
    }
}

bool ReviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_table->viewport() && event->type() == QEvent::MouseButtonPress)
        m_pressedAt = static_cast<QMouseEvent*>(event)->position().toPoint();
    if (watched == m_table && event->type() == QEvent::KeyPress && !isEditing()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
            case Qt::Key_Space:
                togglePlay();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                m_table->edit(m_model->index(currentRow(), ReviewModel::TextColumn));
                return true;
            case Qt::Key_Delete:
                m_model->remove(currentRow());
                return true;
            default:
                break;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void ReviewWindow::closeEvent(QCloseEvent* event) {
    // What is typed in an open cell is an edit like any other: it counts before asking.
    if (isEditing()) {
        const QModelIndex index = m_table->currentIndex();
        if (QWidget* editor = m_table->indexWidget(index)) {
            QAbstractItemDelegate* delegate = m_table->itemDelegateForIndex(index);
            Q_EMIT delegate->commitData(editor);
            Q_EMIT delegate->closeEditor(editor);
        }
    }
    QUndoStack* undo = m_model->undoStack();
    if (undo->isClean()) {
        m_player->pause();
        return event->accept();
    }
    const auto answer = QMessageBox::question(
        this, windowTitle(), QStringLiteral("Save changes to the transcript?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard) {
        // Back to what was last saved, or to the transcript as it came.
        undo->setIndex(undo->cleanIndex() >= 0 ? undo->cleanIndex() : 0);
        m_player->pause();
        return event->accept();
    }
    event->ignore();
    if (answer == QMessageBox::Save)
        m_vm.saveTranscription();
}

} // namespace vocalith
