#include "QueueView.h"

#include "queue/QueueController.h"
#include "queue/TranscriptionQueue.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vocalith {

namespace {

enum Column { nameColumn, durationColumn, statusColumn };

QString durationText(double seconds) {
    if (seconds <= 0.0)
        return QString();
    const auto whole = qint64(seconds + 0.5);
    return whole >= 3600
               ? QStringLiteral("%1:%2:%3")
                     .arg(whole / 3600)
                     .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(whole % 60, 2, 10, QLatin1Char('0'))
               : QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

QueueView::QueueView(QueueController& controller, QWidget* parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_table(new QTableWidget(0, 3, this))
    , m_open(new QPushButton(QStringLiteral("Open"), this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
    , m_retry(new QPushButton(QStringLiteral("Retry"), this))
    , m_remove(new QPushButton(QStringLiteral("Remove"), this))
    , m_cancelAll(new QPushButton(QStringLiteral("Cancel All"), this))
    , m_saveAll(new QPushButton(QStringLiteral("Save All..."), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Duration"), QStringLiteral("Status")});
    m_table->setAccessibleName(QStringLiteral("Queue"));
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setTabKeyNavigation(false); // arrows move between rows; Tab leaves the table
    m_table->horizontalHeader()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(statusColumn, QHeaderView::Stretch);
    m_table->setMinimumHeight(200);
    if (auto* corner = m_table->findChild<QAbstractButton*>()) // Qt's own, named too
        corner->setAccessibleName(QStringLiteral("Select all"));
    layout->addWidget(m_table);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_open, m_cancel, m_retry, m_remove})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(m_cancelAll);
    buttons->addWidget(m_saveAll);
    for (QPushButton* button : {m_open, m_cancel, m_retry, m_remove, m_cancelAll, m_saveAll})
        button->setAccessibleName(button->text());
    m_open->setToolTip(QStringLiteral("Show the selected file's transcript on the tab"));
    m_cancel->setAccessibleName(QStringLiteral("Cancel file"));
    m_retry->setAccessibleName(QStringLiteral("Retry file"));
    m_remove->setAccessibleName(QStringLiteral("Remove from queue"));
    m_open->setAccessibleName(QStringLiteral("Open result"));
    layout->addLayout(buttons);

    TranscriptionQueue& queue = m_controller.queue();
    const auto open = [this] {
        if (m_controller.openResult(m_controller.queue().indexOf(selectedId())))
            Q_EMIT resultOpened();
    };
    connect(m_open, &QPushButton::clicked, this, open);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, open);
    connect(m_cancel, &QPushButton::clicked, this,
            [this] { m_controller.queue().cancel(selectedId()); });
    connect(m_retry, &QPushButton::clicked, this, [this] {
        m_controller.queue().retry(selectedId());
        refreshButtons();
    });
    connect(m_remove, &QPushButton::clicked, this,
            [this] { m_controller.queue().remove(selectedId()); });
    connect(m_cancelAll, &QPushButton::clicked, &queue, &TranscriptionQueue::cancelAll);
    connect(m_saveAll, &QPushButton::clicked, &m_controller, &QueueController::saveAll);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &QueueView::refreshButtons);
    connect(&queue, &TranscriptionQueue::itemsAdded, this, &QueueView::addRows);
    connect(&queue, &TranscriptionQueue::itemChanged, this, &QueueView::refreshRow);
    connect(&queue, &TranscriptionQueue::itemRemoved, this, [this](int row) {
        if (row < m_table->rowCount())
            m_table->removeRow(row);
        refreshButtons();
    });
    connect(&queue, &TranscriptionQueue::finished, this, &QueueView::refreshButtons);
    m_building.setInterval(0);
    m_building.setSingleShot(true);
    connect(&m_building, &QTimer::timeout, this, &QueueView::addRows);
    addRows();
}

QList<QWidget*> QueueView::tabOrder() const {
    return {m_table, m_open, m_cancel, m_retry, m_remove, m_cancelAll, m_saveAll};
}

void QueueView::addRows() {
    // Thousands of rows are added a few hundred at a time, so the window never stalls.
    constexpr int rowsAtOnce = 50;
    const TranscriptionQueue& queue = m_controller.queue();
    const int last = std::min(int(queue.items().size()), m_table->rowCount() + rowsAtOnce);
    for (int row = m_table->rowCount(); row < last; ++row) {
        m_table->insertRow(row);
        m_table->setItem(row, nameColumn, cell(queue.items().at(row).name()));
        m_table->setItem(row, durationColumn, cell(QString()));
        m_table->setItem(row, statusColumn, cell(QString()));
        refreshRow(row);
    }
    refreshButtons();
    if (m_table->rowCount() < queue.items().size() && !m_building.isActive())
        m_building.start();
}

void QueueView::refreshRow(int row) {
    if (row >= m_table->rowCount())
        return; // added later
    const QueueItem& item = m_controller.queue().items().at(row);
    m_table->item(row, durationColumn)->setText(durationText(item.duration));
    m_table->item(row, statusColumn)->setText(item.statusText());
    if (item.isFinished() || row == m_table->currentRow())
        refreshButtons();
}

quint64 QueueView::selectedId() const {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.first()->row();
    return row >= 0 && row < m_controller.queue().items().size()
               ? m_controller.queue().items().at(row).id
               : 0;
}

void QueueView::refreshButtons() {
    const QList<QueueItem>& items = m_controller.queue().items();
    const int index = m_controller.queue().indexOf(selectedId());
    const QueueItem* item = index >= 0 ? &items.at(index) : nullptr;
    m_open->setEnabled(item && item->state == QueueItem::State::done);
    m_cancel->setEnabled(item && !item->isFinished());
    m_retry->setEnabled(item && (item->state == QueueItem::State::failed ||
                                 item->state == QueueItem::State::cancelled));
    m_remove->setEnabled(item);
    m_cancelAll->setEnabled(std::any_of(items.cbegin(), items.cend(), [](const QueueItem& queued) {
        return !queued.isFinished();
    }));
    m_saveAll->setEnabled(m_controller.hasResults());
}

} // namespace vocalith
