#include "LibraryWindow.h"

#include "app/LibraryTableModel.h"
#include "app/LibraryViewModel.h"
#include "app/MarkedTextDelegate.h"
#include "app/MessageBanner.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace vocalith {

namespace {

QTableView* makeTable(QAbstractItemModel* model, const QString& name, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setModel(model);
    table->setAccessibleName(name);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTabKeyNavigation(false);
    table->setWordWrap(false);
    table->setShowGrid(false);
    table->verticalHeader()->hide();
    // Fixed widths: measuring thousands of rows would hold the window's first paint.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setHighlightSections(false);
    if (auto* corner = table->findChild<QAbstractButton*>()) // Qt's own, named too
        corner->setAccessibleName(QStringLiteral("Select all"));
    return table;
}

} // namespace

LibraryWindow::LibraryWindow(std::shared_ptr<TranscriptLibrary> library,
                             TranscriptionViewModel& transcription, FileDialogs& dialogs,
                             QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_vm(new LibraryViewModel(std::move(library), transcription, dialogs, this))
    , m_transcriptsModel(new LibraryTableModel(*m_vm, LibraryTableModel::Kind::transcripts, this))
    , m_hitsModel(new LibraryTableModel(*m_vm, LibraryTableModel::Kind::hits, this))
    , m_search(new QLineEdit(this))
    , m_notice(new MessageBanner(MessageBanner::Kind::notice, false, this))
    , m_error(new MessageBanner(MessageBanner::Kind::error, true, this))
    , m_pages(new QStackedWidget(this))
    , m_transcripts(makeTable(m_transcriptsModel, QStringLiteral("Transcripts"), m_pages))
    , m_hits(makeTable(m_hitsModel, QStringLiteral("Search results"), m_pages))
    , m_status(new QLabel(this))
    , m_review(new QPushButton(QStringLiteral("Review..."), this))
    , m_save(new QPushButton(QStringLiteral("Save..."), this))
    , m_delete(new QPushButton(QStringLiteral("Delete"), this))
    , m_deleteAll(new QPushButton(QStringLiteral("Delete All"), this)) {
    setWindowTitle(QStringLiteral("Library"));
    resize(760, 520);

    m_search->setAccessibleName(QStringLiteral("Search"));
    m_search->setPlaceholderText(
        QStringLiteral("Search every transcript: words, \"a phrase\", or the start of a word*"));
    m_search->setClearButtonEnabled(true);
    if (auto* clear = m_search->findChild<QToolButton*>())
        clear->setAccessibleName(QStringLiteral("Clear search"));
    for (QPushButton* button : {m_review, m_save, m_delete, m_deleteAll})
        button->setAccessibleName(button->text());
    m_review->setToolTip(QStringLiteral("Opens the transcript in the review window"));
    m_status->setAccessibleDescription(QStringLiteral("Status"));

    QHeaderView* columns = m_transcripts->horizontalHeader();
    columns->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const auto& [column, width] : {std::pair{1, 140}, {2, 80}, {3, 170}, {4, 90}})
        columns->resizeSection(column, width);
    m_hits->horizontalHeader()->setSectionResizeMode(LibraryTableModel::WordsColumn,
                                                     QHeaderView::Stretch);
    m_hits->horizontalHeader()->resizeSection(LibraryTableModel::RecordingColumn, 180);
    m_hits->horizontalHeader()->resizeSection(LibraryTableModel::TimeColumn, 70);
    m_hits->setItemDelegateForColumn(LibraryTableModel::WordsColumn,
                                     new MarkedTextDelegate(LibraryTableModel::MarksRole, m_hits));
    m_pages->addWidget(m_transcripts);
    m_pages->addWidget(m_hits);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_review);
    buttons->addWidget(m_save);
    buttons->addWidget(m_delete);
    buttons->addSpacing(16);
    buttons->addWidget(m_deleteAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_notice);
    layout->addWidget(m_error);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    setTabOrder(m_search, m_transcripts);
    setTabOrder(m_transcripts, m_hits);
    setTabOrder(m_hits, m_review);
    setTabOrder(m_review, m_save);
    setTabOrder(m_save, m_delete);
    setTabOrder(m_delete, m_deleteAll);

    // Ctrl+F back to the search; the Delete key deletes as the button does.
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        m_search->setFocus();
        m_search->selectAll();
    });
    addAction(find);
    for (QTableView* table : {m_transcripts, m_hits}) {
        auto* remove = new QAction(table);
        remove->setShortcut(QKeySequence::Delete);
        remove->setShortcutContext(Qt::WidgetShortcut);
        connect(remove, &QAction::triggered, this, [this] { m_vm->remove(m_vm->selectedId()); });
        table->addAction(remove);
        connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [this, table](const QModelIndex& current) {
                    if (table == shownTable())
                        m_vm->select(current.data(LibraryTableModel::IdRole).toLongLong());
                });
    }
    m_search->installEventFilter(this);

    m_vm->setConfirm([this](const QString& title, const QString& question) {
        QMessageBox box(QMessageBox::Warning, title, question, QMessageBox::Cancel, this);
        QPushButton* remove = box.addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == remove;
    });
    connect(m_search, &QLineEdit::textChanged, m_vm, &LibraryViewModel::setQuery);
    // Enter in the search field opens the best hit, or the one chosen below it.
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        if (m_pages->currentWidget() == m_hits && m_hitsModel->rowCount() > 0)
            m_vm->openHit(std::max(0, m_hits->currentIndex().row()));
    });
    connect(m_hits, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { m_vm->openHit(index.row()); });
    connect(m_transcripts, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        m_vm->review(index.data(LibraryTableModel::IdRole).toLongLong());
    });
    connect(m_review, &QPushButton::clicked, this, [this] {
        if (m_pages->currentWidget() == m_hits && m_hits->currentIndex().isValid())
            return m_vm->openHit(m_hits->currentIndex().row());
        m_vm->review(m_vm->selectedId());
    });
    connect(m_save, &QPushButton::clicked, this, [this] { m_vm->save(m_vm->selectedId()); });
    connect(m_delete, &QPushButton::clicked, this, [this] { m_vm->remove(m_vm->selectedId()); });
    connect(m_deleteAll, &QPushButton::clicked, m_vm, &LibraryViewModel::removeAll);
    connect(m_notice, &MessageBanner::closeRequested, this,
            [this] { m_vm->setNoticeMessage(std::nullopt); });
    connect(m_error, &MessageBanner::closeRequested, this,
            [this] { m_vm->setErrorMessage(std::nullopt); });
    connect(m_error, &MessageBanner::copyRequested, this, [this] {
        QGuiApplication::clipboard()->setText(m_vm->errorMessage().value_or(QString()));
    });
    connect(m_vm, &LibraryViewModel::queryChanged, this, &LibraryWindow::showPage);
    for (auto signal :
         {&LibraryViewModel::transcriptsChanged, &LibraryViewModel::hitsChanged,
          &LibraryViewModel::queryChanged, &LibraryViewModel::isBusyChanged,
          &LibraryViewModel::selectedIdChanged, &LibraryViewModel::errorMessageChanged,
          &LibraryViewModel::noticeMessageChanged})
        connect(m_vm, signal, this, &LibraryWindow::refresh);
    refresh();
}

bool LibraryWindow::eventFilter(QObject* watched, QEvent* event) {
    // Down from the search goes to what it found.
    if (watched == m_search && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        QTableView* table = shownTable();
        table->setFocus();
        if (!table->currentIndex().isValid() && table->model()->rowCount() > 0)
            table->setCurrentIndex(table->model()->index(0, 0));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QTableView* LibraryWindow::shownTable() const {
    return m_pages->currentWidget() == m_hits ? m_hits : m_transcripts;
}

void LibraryWindow::showPage() {
    QWidget* page = m_vm->query().trimmed().isEmpty() ? m_transcripts : m_hits;
    if (page == m_pages->currentWidget())
        return;
    m_pages->setCurrentWidget(page);
    const QModelIndex current = shownTable()->currentIndex();
    m_vm->select(current.isValid() ? current.data(LibraryTableModel::IdRole).toLongLong() : 0);
}

void LibraryWindow::refresh() {
    const bool searching = m_pages->currentWidget() == m_hits;
    const qsizetype count = searching ? m_vm->hits().size() : m_vm->transcripts().size();
    QString status;
    if (m_vm->isBusy())
        status = QStringLiteral("Deleting…");
    else if (searching && m_vm->isSearching())
        status = QStringLiteral("Searching…");
    else if (searching)
        status = count == 0   ? QStringLiteral("No matches")
                 : count == 1 ? QStringLiteral("1 match")
                              : QStringLiteral("%1 matches").arg(count);
    else if (m_vm->hasRead())
        status = count == 0   ? QStringLiteral("No transcripts kept yet")
                 : count == 1 ? QStringLiteral("1 transcript")
                              : QStringLiteral("%1 transcripts").arg(count);
    m_status->setText(status);

    // A reset table keeps no current row: the selection follows the controller's.
    QTableView* table = shownTable();
    const auto* model = static_cast<const LibraryTableModel*>(table->model());
    if (m_vm->selectedId() != 0 &&
        table->currentIndex().data(LibraryTableModel::IdRole).toLongLong() != m_vm->selectedId()) {
        const int row = model->rowOf(m_vm->selectedId());
        if (row < 0)
            return m_vm->select(0); // not among what is shown: nothing is selected
        table->setCurrentIndex(model->index(row, 0));
    }

    const bool chosen = m_vm->selectedId() != 0 && !m_vm->isBusy();
    for (QPushButton* button : {m_review, m_save, m_delete})
        button->setEnabled(chosen);
    m_deleteAll->setEnabled(!m_vm->isBusy() && !m_vm->transcripts().isEmpty());
    m_notice->setText(m_vm->noticeMessage().value_or(QString()));
    m_notice->setVisible(m_vm->noticeMessage().has_value());
    m_error->setText(m_vm->errorMessage().value_or(QString()));
    m_error->setVisible(m_vm->errorMessage().has_value());
}

} // namespace vocalith
