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

enum Column { nameColumn, durationColumn, statusColumn, actionsColumn };

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
    , m_table(new QTableWidget(0, 4, this))
    , m_cancelAll(new QPushButton(QStringLiteral("Cancel All"), this))
    , m_saveAll(new QPushButton(QStringLiteral("Save All..."), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Duration"), QStringLiteral("Status"), QString()});
    m_table->setAccessibleName(QStringLiteral("Queue"));
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(statusColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(actionsColumn, QHeaderView::ResizeToContents);
    m_table->setMinimumHeight(200);
    if (auto* corner = m_table->findChild<QAbstractButton*>()) // Qt's own, named too
        corner->setAccessibleName(QStringLiteral("Select all"));
    layout->addWidget(m_table);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_cancelAll->setAccessibleName(m_cancelAll->text());
    m_saveAll->setAccessibleName(m_saveAll->text());
    buttons->addWidget(m_cancelAll);
    buttons->addWidget(m_saveAll);
    layout->addLayout(buttons);

    TranscriptionQueue& queue = m_controller.queue();
    connect(m_cancelAll, &QPushButton::clicked, &queue, &TranscriptionQueue::cancelAll);
    connect(m_saveAll, &QPushButton::clicked, &m_controller, &QueueController::saveAll);
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
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (m_controller.openResult(row))
            Q_EMIT resultOpened();
    });
    addRows();
}

void QueueView::addRows() {
    // Thousands of rows are built a few at a time, so the window never stalls.
    constexpr int rowsAtOnce = 20;
    const TranscriptionQueue& queue = m_controller.queue();
    const int last = std::min(int(queue.items().size()), m_table->rowCount() + rowsAtOnce);
    for (int row = m_table->rowCount(); row < last; ++row) {
        const QueueItem& item = queue.items().at(row);
        m_table->insertRow(row);
        m_table->setItem(row, nameColumn, cell(item.name()));
        m_table->setItem(row, durationColumn, cell(QString()));
        m_table->setItem(row, statusColumn, cell(QString()));
        auto* actions = new QWidget(m_table);
        auto* actionsLayout = new QHBoxLayout(actions);
        actionsLayout->setContentsMargins(2, 0, 2, 0);
        const quint64 id = item.id;
        const auto addButton = [&](const QString& text, auto onClick) {
            auto* button = new QPushButton(text, actions);
            button->setObjectName(text);
            button->setAccessibleName(text + QLatin1Char(' ') + item.name());
            actionsLayout->addWidget(button);
            connect(button, &QPushButton::clicked, this, onClick);
        };
        addButton(QStringLiteral("Open"), [this, id] {
            if (m_controller.openResult(m_controller.queue().indexOf(id)))
                Q_EMIT resultOpened();
        });
        addButton(QStringLiteral("Cancel"), [this, id] { m_controller.queue().cancel(id); });
        addButton(QStringLiteral("Retry"), [this, id] {
            m_controller.queue().retry(id);
            refreshButtons();
        });
        addButton(QStringLiteral("Remove"), [this, id] { m_controller.queue().remove(id); });
        m_table->setCellWidget(row, actionsColumn, actions);
        refreshRow(row);
    }
    refreshButtons();
    if (m_table->rowCount() < queue.items().size() && !m_building.isActive())
        m_building.start();
}

void QueueView::refreshRow(int row) {
    if (row >= m_table->rowCount())
        return; // built later
    const QueueItem& item = m_controller.queue().items().at(row);
    m_table->item(row, durationColumn)->setText(durationText(item.duration));
    m_table->item(row, statusColumn)->setText(item.statusText());
    if (QWidget* actions = m_table->cellWidget(row, actionsColumn)) {
        const auto enable = [actions](const QString& name, bool enabled) {
            actions->findChild<QPushButton*>(name)->setEnabled(enabled);
        };
        enable(QStringLiteral("Open"), item.state == QueueItem::State::done);
        enable(QStringLiteral("Cancel"), !item.isFinished());
        enable(QStringLiteral("Retry"),
               item.state == QueueItem::State::failed || item.state == QueueItem::State::cancelled);
    }
    if (item.isFinished())
        refreshButtons();
}

void QueueView::refreshButtons() {
    const QList<QueueItem>& items = m_controller.queue().items();
    m_cancelAll->setEnabled(std::any_of(items.cbegin(), items.cend(),
                                        [](const QueueItem& item) { return !item.isFinished(); }));
    m_saveAll->setEnabled(m_controller.hasResults());
}

} // namespace vocalith
