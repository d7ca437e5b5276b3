#pragma once

#include <QList>
#include <QTimer>
#include <QWidget>

class QPushButton;
class QTableWidget;

namespace vocalith {

class QueueController;

// The queue on the Transcribe tab: a row per file with its name, duration and status;
// Open, Cancel, Retry and Remove act on the selected row, Cancel All and Save All...
// on all of them.
class QueueView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueView)

public:
    explicit QueueView(QueueController& controller, QWidget* parent = nullptr);
    // The controls as Tab reaches them.
    QList<QWidget*> tabOrder() const;

Q_SIGNALS:
    // A row's result was opened on the tab.
    void resultOpened();

private:
    // Builds the rows of newly queued files.
    void addRows();
    void refreshRow(int row);
    void refreshButtons();
    // The selected row's file, 0 when none.
    quint64 selectedId() const;

    QueueController& m_controller;
    QTableWidget* m_table;
    QPushButton* m_open;
    QPushButton* m_cancel;
    QPushButton* m_retry;
    QPushButton* m_remove;
    QPushButton* m_cancelAll;
    QPushButton* m_saveAll;
    QTimer m_building;
};

} // namespace vocalith
