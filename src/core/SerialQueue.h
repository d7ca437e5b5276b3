#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>

namespace vocalith {

// A thread of its own that runs posted work one piece at a time, in order.
// Work posted after close() is dropped; close() waits for the running piece.
class SerialQueue final {
public:
    static std::shared_ptr<SerialQueue> create(const QString& name);
    ~SerialQueue();

    // Safe from any thread. Returns false when the queue is closed.
    bool post(std::function<void()> work);
    void close();
    bool isCurrentThread() const { return QThread::currentThread() == &m_thread; }

private:
    SerialQueue() = default;

    QThread m_thread;
    std::unique_ptr<QObject> m_context;
    std::mutex m_mutex;
    bool m_closed = false;
};

} // namespace vocalith
