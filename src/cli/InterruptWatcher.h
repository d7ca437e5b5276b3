#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

namespace vocalith {

// Turns the first SIGINT or SIGTERM into a signal on the main thread, so the running job
// can be cancelled. When a second one comes, or the job has not ended within the grace
// period after the first, forceExit runs on a thread of its own: a job that does not
// stop, or a main thread that waits on it, never leaves the process deaf.
class InterruptWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InterruptWatcher)

public:
    static constexpr int gracePeriodMs = 3000;
    static constexpr int noDeadline = -1;

    // forceExit receives the exit status and must not return.
    explicit InterruptWatcher(std::function<void(int status)> forceExit, QObject* parent = nullptr);
    ~InterruptWatcher() override;

    // A command whose first interrupt means "finish up" rather than "stop" takes longer.
    void setGracePeriod(int ms) { m_graceMs = ms; }
    // What is left is work the user already waited for (a recording that has ended): no
    // deadline for it, whether or not the first signal came; a second one still ends at once.
    void liftDeadline();

    // The shell's status for the first signal: 130 for SIGINT, 143 for SIGTERM; 0 before.
    int exitStatus() const { return m_status.load(); }

Q_SIGNALS:
    void interrupted();

private:
    void listen();

    std::function<void(int)> m_forceExit;
    std::atomic<int> m_status{0};
    std::atomic<int> m_graceMs{gracePeriodMs};
    std::thread m_listener;
};

} // namespace vocalith
