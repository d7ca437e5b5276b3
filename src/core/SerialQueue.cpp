#include "SerialQueue.h"

namespace vocalith {

std::shared_ptr<SerialQueue> SerialQueue::create(const QString& name) {
    std::shared_ptr<SerialQueue> queue(new SerialQueue);
    queue->m_thread.setObjectName(name);
    queue->m_context = std::make_unique<QObject>();
    queue->m_context->moveToThread(&queue->m_thread);
    queue->m_thread.start();
    return queue;
}

SerialQueue::~SerialQueue() {
    close();
}

bool SerialQueue::post(std::function<void()> work) {
    const std::lock_guard lock(m_mutex);
    if (m_closed)
        return false;
    QMetaObject::invokeMethod(m_context.get(), std::move(work), Qt::QueuedConnection);
    return true;
}

void SerialQueue::close() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    m_thread.quit();
    if (!isCurrentThread())
        m_thread.wait();
    // Work still queued is dropped with the context, on a thread that has ended.
    m_context.reset();
}

} // namespace vocalith
