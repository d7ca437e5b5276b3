#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace vocalith {

// A progress bar with the status line, the time left (when known) and the percentage
// below it.
class ProgressLine final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressLine)

public:
    explicit ProgressLine(QWidget* parent = nullptr);

    void setProgress(double fraction, const QString& status, const QString& timeLeft = {});
    // The whole percent, never rounded up: 0.999 is "99%".
    static QString percentText(double fraction);

private:
    QProgressBar* m_bar;
    QLabel* m_status;
    QLabel* m_timeLeft;
    QLabel* m_percent;
};

} // namespace vocalith
