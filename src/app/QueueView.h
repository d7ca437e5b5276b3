#pragma once

#include <QTimer>
#include <QWidget>

class QPushButton;
class QTableWidget;

namespace vocalith {

class QueueController;

// The queue on the Transcribe tab: a row per file with its name, duration and status,
// each with Open, Cancel, Retry and Remove; Cancel All and Save All... beneath.
class QueueView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueView)

public:
    explicit QueueView(QueueController& controller, QWidget* parent = nullptr);

Q_SIGNALS:
    // A row's result was opened on the tab.
    void resultOpened();

private:
    // Builds the rows of newly queued files.
    void addRows();
    void refreshRow(int row);
    void refreshButtons();

    QueueController& m_controller;
    QTableWidget* m_table;
    QPushButton* m_cancelAll;
    QPushButton* m_saveAll;
    QTimer m_building;
};

} // namespace vocalith
