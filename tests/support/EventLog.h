#pragma once

#include "core/EngineError.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <functional>
#include <utility>

namespace vocalith::test {

// Records the events of one job, transcription or translation alike.
template <typename Event> struct EventLog {
    QList<Event> events;

    // Records at once, on the calling thread.
    std::function<void(const Event&)> handler() {
        return [this](const Event& event) { events.append(event); };
    }
    // Records on the main thread, for engines that call from threads of their own.
    std::function<void(const Event&)> queuedHandler() {
        return [this](const Event& event) {
            QMetaObject::invokeMethod(qApp, [this, event] { events.append(event); });
        };
    }

    bool finished() const { return !events.isEmpty() && events.last().isFinal(); }
    int finalEvents() const {
        return int(std::count_if(events.cbegin(), events.cend(),
                                 [](const Event& event) { return event.isFinal(); }));
    }
    const typename Event::Success* success() const {
        return events.isEmpty() ? nullptr
                                : std::get_if<typename Event::Success>(&events.last().value);
    }
    EngineError error() const {
        const auto* failure =
            events.isEmpty() ? nullptr : std::get_if<typename Event::Failure>(&events.last().value);
        return failure ? failure->error : EngineError{};
    }
    QString failure() const { return error().description; }
    QList<std::pair<double, QString>> progress() const {
        QList<std::pair<double, QString>> steps;
        for (const Event& event : events) {
            if (const auto* step = std::get_if<typename Event::Progress>(&event.value))
                steps.append({step->fraction, step->message});
        }
        return steps;
    }
    QList<double> fractions() const {
        QList<double> result;
        for (const auto& [fraction, message] : progress())
            result.append(fraction);
        return result;
    }
};

} // namespace vocalith::test
