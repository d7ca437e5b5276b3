#pragma once

#include <QObject>

class QSocketNotifier;

namespace vocalith {

// Turns the first SIGINT or SIGTERM into a signal on the main thread; a second one
// ends the process as usual.
class InterruptWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InterruptWatcher)

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void interrupted();

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vocalith
