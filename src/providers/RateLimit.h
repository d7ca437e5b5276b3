#pragma once

#include "network/HttpRequest.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace vocalith {

// A provider's "too many requests" answered by waiting and sending the same request
// again: a refused request was not processed, so it costs nothing twice.
namespace RateLimit {

constexpr int tooManyRequests = 429;
// One request waits at most this long in all, and never for a longer announced wait.
constexpr std::chrono::seconds longestWait{600};
// Every wait lasts at least this long, and one request is sent at most maxAttempts
// times: a server answering "Retry-After: 0" would otherwise be sent it again at once,
// for ever.
constexpr std::chrono::seconds shortestWait{1};
constexpr int maxAttempts = 10;

// How long to wait before the next attempt at a request refused with 429: the
// Retry-After header's seconds or HTTP date (at least shortestWait), else 2 s doubling
// with each attempt (the first attempt is 1). Absent when the answer is no 429, that
// was attempt maxAttempts, or the waits would pass longestWait.
std::optional<std::chrono::milliseconds>
nextWait(const HttpAnswer& answer, int attempt, std::chrono::milliseconds waited,
         const QDateTime& now = QDateTime::currentDateTimeUtc());

// "Rate limited by Groq; retrying in 38 s..."
QString statusText(const QString& providerName, int secondsLeft);

// Waits on the calling thread, one second at a time, until the time is up or the wait
// is called off. Safe from any thread.
class Wait final {
public:
    // Calls tick(seconds left) at the start and then once a second. False when stopped()
    // turned true first; wakeAll() makes every wait look at it at once.
    bool wait(std::chrono::milliseconds duration, const std::function<bool()>& stopped,
              const std::function<void(int secondsLeft)>& tick);
    void wakeAll();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

} // namespace RateLimit

} // namespace vocalith
