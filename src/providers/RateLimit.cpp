#include "RateLimit.h"

#include <cmath>

namespace vocalith::RateLimit {

std::optional<std::chrono::milliseconds> nextWait(const HttpAnswer& answer, int attempt,
                                                  std::chrono::milliseconds waited,
                                                  const QDateTime& now) {
    using std::chrono::milliseconds;
    if (answer.status != tooManyRequests || attempt >= maxAttempts)
        return std::nullopt;
    const QByteArray retryAfter = answer.header("Retry-After").trimmed();
    std::optional<milliseconds> wait;
    bool seconds = false;
    const double value = retryAfter.toDouble(&seconds);
    if (seconds && value >= 0) {
        wait = milliseconds(qint64(std::ceil(std::min(value, 1e7) * 1000)));
    } else if (const QDateTime date =
                   QDateTime::fromString(QString::fromLatin1(retryAfter), Qt::RFC2822Date);
               date.isValid()) {
        wait = milliseconds(std::max<qint64>(0, now.msecsTo(date)));
    } else {
        wait = milliseconds(2000LL << std::clamp(attempt - 1, 0, 20));
    }
    wait = std::max<milliseconds>(*wait, shortestWait);
    if (*wait > longestWait || waited + *wait > longestWait)
        return std::nullopt;
    return wait;
}

QString statusText(const QString& providerName, int secondsLeft) {
    return QStringLiteral("Rate limited by ") + providerName + QStringLiteral("; retrying in ") +
           QString::number(secondsLeft) + QStringLiteral(" s...");
}

bool Wait::wait(std::chrono::milliseconds duration, const std::function<bool()>& stopped,
                const std::function<void(int)>& tick) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + duration;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto left = end - Clock::now();
        if (left <= Clock::duration::zero())
            return !stopped();
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(left);
        lock.unlock();
        tick(int(seconds.count()));
        lock.lock();
        // Checked under the lock, so a wakeAll() from now on is not missed.
        if (stopped())
            return false;
        // To the next whole second left, or a wake-up.
        m_changed.wait_for(lock, left - (seconds - std::chrono::seconds(1)));
    }
}

void Wait::wakeAll() {
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

} // namespace vocalith::RateLimit
