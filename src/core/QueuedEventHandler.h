#pragma once

#include <QCoreApplication>
#include <QPointer>

#include <functional>

namespace vocalith {

// Wraps a controller's event method into a handler that engines may call from any
// thread. Every event is applied later on the main thread, in the order of the
// calls, never inside the call itself, and dropped once the receiver is gone.
// The guard is only dereferenced on the main thread, where receivers are destroyed.
template <typename Event, typename Receiver>
std::function<void(const Event&)> queuedEventHandler(Receiver* receiver,
                                                     void (Receiver::*apply)(const Event&)) {
    QPointer<Receiver> guard(receiver);
    return [guard, apply](const Event& event) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [guard, apply, event] {
                if (guard)
                    (guard.data()->*apply)(event);
            },
            Qt::QueuedConnection);
    };
}

} // namespace vocalith
